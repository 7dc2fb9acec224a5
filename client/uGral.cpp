// The options record's marshalling registration: its qualified type name and
// its field table with the literal wire names the server uses.
#include "client/uGral.h"

#include "rest/json/JSONReflect.h"

namespace qvr::client {

bool RegisterGralClasses() {
  static const rest::TJSONClass<TOpciones> opciones{
      "uGral.TOpciones", {rest::Field<&TOpciones::IDStatusDefault>("IDStatusDefault")}};
  return true;
}

}  // namespace qvr::client
