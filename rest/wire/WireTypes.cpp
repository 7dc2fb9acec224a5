// The type vocabulary of the remote interface; see WireTypes.h.
#include "rest/wire/WireTypes.h"

#include "platform/SysUtils.h"

namespace qvr::rest {

std::string TValueTypes::QualifiedName(std::int32_t AValueType) {
  switch (AValueType) {
    case BOOL:
      return "TValueTypes.BOOL";
    case INT32:
      return "TValueTypes.INT32";
    case TABLE:
      return "TValueTypes.TABLE";
    case WideString:
      return "TValueTypes.WideString";
    case STREAM:
      return "TValueTypes.STREAM";
    case JSON:
      return "TValueTypes.JSON";
    default:
      return "TValueTypes." + std::to_string(AValueType);
  }
}

bool TravelsInBody(std::int32_t AValueType, std::string_view ATypeName) {
  if (AValueType == TValueTypes::TABLE || AValueType == TValueTypes::STREAM) return true;
  if (AValueType != TValueTypes::JSON) return false;
  const bool jsonClass = ATypeName.size() >= 5 && SameText(ATypeName.substr(0, 5), "TJSON");
  return !jsonClass || SameText(ATypeName, "TJSONValue") || SameText(ATypeName, "TJSONObject") ||
         SameText(ATypeName, "TJSONArray");
}

bool SendsAllInURL(std::string_view AVerb) {
  return AVerb.empty() || SameText(AVerb, "GET") || SameText(AVerb, "DELETE");
}

}  // namespace qvr::rest
