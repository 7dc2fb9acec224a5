// The small text helpers; see StrUtils.h.
#include "platform/StrUtils.h"

#include "platform/SysUtils.h"

namespace qvr {

std::string LowerCase(std::string_view AText) {
  std::string out(AText);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string UpperCase(std::string_view AText) {
  std::string out(AText);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool TryDecimalToInt(std::string_view AText, std::int32_t& AValue) noexcept {
  std::string_view digits = AText;
  if (!digits.empty() && digits.front() == '-') digits.remove_prefix(1);
  if (digits.empty()) return false;
  for (const char c : digits)
    if (c < '0' || c > '9') return false;
  // The digits are plain decimal, so the integer rule only checks the range.
  return TryStrToInt(AText, AValue);
}

}  // namespace qvr
