// Text helpers of the HTTP layer for header values, URLs and cookies: ASCII
// case folding, trimming of blanks and line ends, and the line-break check
// that keeps a value from forging further header lines. Used only by the HTTP
// object's .cpp files.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace qvr::rest::detail {

inline std::string LowerCase(std::string_view AText) {
  std::string result(AText);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

inline std::string_view Trim(std::string_view AText) {
  while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t')) AText.remove_prefix(1);
  while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t' || AText.back() == '\r' ||
                            AText.back() == '\n')) {
    AText.remove_suffix(1);
  }
  return AText;
}

inline bool HasLineBreak(std::string_view AText) {
  return AText.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace qvr::rest::detail
