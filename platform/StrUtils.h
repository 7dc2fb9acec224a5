// The small text helpers every layer needs, in one place: trimming blanks,
// ASCII case folding, hexadecimal digits, the line-break check of header and
// INI values, and decimal integers as codes travel (digits only, unlike the
// integer rule of TryStrToInt, which also reads hexadecimal and blanks).
// All of them work on bytes and leave anything outside ASCII alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvr {

// Blanks as the wire and the files know them: space, tab, CR and LF.
inline constexpr std::string_view kBlanks = " \t\r\n";

constexpr std::string_view TrimLeft(std::string_view AText,
                                    std::string_view ABlanks = kBlanks) noexcept {
  const auto first = AText.find_first_not_of(ABlanks);
  return first == std::string_view::npos ? std::string_view() : AText.substr(first);
}

constexpr std::string_view TrimRight(std::string_view AText,
                                     std::string_view ABlanks = kBlanks) noexcept {
  const auto last = AText.find_last_not_of(ABlanks);
  return last == std::string_view::npos ? std::string_view() : AText.substr(0, last + 1);
}

constexpr std::string_view Trim(std::string_view AText,
                                std::string_view ABlanks = kBlanks) noexcept {
  return TrimRight(TrimLeft(AText, ABlanks), ABlanks);
}

// AText with ASCII letters folded; other bytes as they are.
std::string LowerCase(std::string_view AText);
std::string UpperCase(std::string_view AText);

// The value of a hexadecimal digit of either case, or -1.
constexpr int HexDigit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether AText holds a CR or LF, which would let a header or INI value
// forge further lines.
constexpr bool HasLineBreak(std::string_view AText) noexcept {
  return AText.find_first_of("\r\n") != std::string_view::npos;
}

// A decimal code: an optional "-" and at least one digit, nothing else (no
// blanks, no "+", no hexadecimal), within the signed 32-bit range. Returns
// false, leaving AValue alone, otherwise.
bool TryDecimalToInt(std::string_view AText, std::int32_t& AValue) noexcept;

}  // namespace qvr
