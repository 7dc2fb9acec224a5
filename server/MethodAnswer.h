// The answer of one remote method as it goes on the wire, {"result":[...]},
// held in a shared buffer together with a view of each element of "result".
// Sharing lets the encoded dataset lists be cached once and served, and kept
// in the cache area, without copies.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rest/json/JSONValues.h"

namespace qvr::server {

struct TMethodAnswer {
  std::shared_ptr<const std::string> Body;
  // Views into *Body: the JSON text of each element of "result".
  std::vector<std::string_view> Elements;
};

// {"result":[<AValue>]} in the compact text form.
TMethodAnswer MakeAnswer(const rest::TJSONValue& AValue);
// {"result":[<AText>]} where AText is already JSON text.
TMethodAnswer MakeAnswerFromText(std::string_view AText);

}  // namespace qvr::server
