// JSON for people: the values as the server sent them, one member or element
// a line, indented by two blanks per level, with the text of strings in
// UTF-8 rather than escaped (only the quote, the backslash and control
// characters are), and numbers with the very text they arrived with.
#pragma once

#include <string>

#include "rest/json/JSONValues.h"

namespace qvr::cli {

// AValue as indented text, without a final line break.
std::string PrettyJSON(const rest::TJSONValue& AValue);
// The same on one line, without blanks (for a value inside a table cell).
std::string CompactJSON(const rest::TJSONValue& AValue);

}  // namespace qvr::cli
