// The options record's marshalling registration: its qualified type name and
// its field table with the wire names of the remote interface, which the
// server writes the record with (rest/wire/Envelope.h).
#include "client/uGral.h"

#include "rest/json/JSONReflect.h"
#include "rest/wire/Envelope.h"

namespace qvr::client {

bool RegisterGralClasses() {
  static const rest::TJSONClass<TOpciones> opciones{
      std::string(rest::kOpcionesType),
      {rest::Field<&TOpciones::IDStatusDefault>(std::string(rest::kOpcionesIDStatusDefault))}};
  return true;
}

}  // namespace qvr::client
