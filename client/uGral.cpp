// The options record's marshalling registration: its qualified type name and
// its field table with the literal wire names the server uses.
#include "client/uGral.h"

#include "rest/json/JSONReflect.h"

namespace qvr::client {

TOpciones::~TOpciones() = default;

namespace {
const rest::TJSONClass<TOpciones> RegOpciones{
    "uGral.TOpciones", {rest::Field<&TOpciones::IDStatusDefault>("IDStatusDefault")}};
}  // namespace

}  // namespace qvr::client
