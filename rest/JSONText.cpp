// JSON text writer and parser; see JSONText.h.
#include "rest/JSONText.h"

namespace qvr::rest {

std::string WriteJSON(const TJSONValue& AValue) {
  std::string out;
  WriteJSON(AValue, out);
  return out;
}

void WriteJSON(const TJSONValue&, std::string&) {}

std::string WriteJSONUnescaped(const TJSONValue&) { return {}; }

std::unique_ptr<TJSONValue> ParseJSON(std::string_view) { return nullptr; }

}  // namespace qvr::rest
