// Implementation of the general exceptions and Format; see SysUtils.h.
#include "platform/SysUtils.h"

#include <cstring>

namespace qvr {

namespace {

std::string SystemErrorText(int ACode) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not be in buf.
  const char* text = strerror_r(ACode, buf, sizeof buf);
  return text;
}

}  // namespace

EOSError::EOSError(int AErrorCode)
    : Exception(Format("System Error.  Code: %d.", AErrorCode) + "\n" +
                SystemErrorText(AErrorCode)),
      FErrorCode(AErrorCode) {}

namespace detail {

std::string FormatImpl(std::string_view AFormat, const std::string* AArgs, std::size_t ACount) {
  std::string out;
  out.reserve(AFormat.size() + 32);
  std::size_t next = 0;
  for (std::size_t i = 0; i < AFormat.size(); ++i) {
    const char c = AFormat[i];
    if (c == '%' && i + 1 < AFormat.size()) {
      const char k = AFormat[i + 1];
      if (k == 's' || k == 'd') {
        if (next < ACount) out += AArgs[next];
        ++next;
        ++i;
        continue;
      }
      if (k == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

}  // namespace detail

}  // namespace qvr

namespace qvr {

bool TryStrToInt(std::string_view AText, std::int32_t& AValue) noexcept {
  std::size_t i = 0;
  const std::size_t n = AText.size();
  while (i < n && (AText[i] == ' ' || AText[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (AText[i] == '+' || AText[i] == '-')) {
    negative = AText[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && AText[i] == '$') {
    hex = true;
    ++i;
  } else if (i < n && (AText[i] == 'x' || AText[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && AText[i] == '0' && (AText[i + 1] == 'x' || AText[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  std::uint64_t acc = 0;
  for (; i < n; ++i) {
    const char c = AText[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    acc = acc * (hex ? 16u : 10u) + digit;
    if (acc > 0xFFFFFFFFull) return false;
  }
  std::uint32_t bits;
  if (hex) {
    // Hexadecimal text names the 32 bits; a sign negates them.
    bits = static_cast<std::uint32_t>(acc);
    if (negative) bits = 0u - bits;
  } else {
    if (negative ? acc > 2147483648ull : acc > 2147483647ull) return false;
    bits = negative ? 0u - static_cast<std::uint32_t>(acc) : static_cast<std::uint32_t>(acc);
  }
  AValue = static_cast<std::int32_t>(bits);
  return true;
}

bool SameText(std::string_view A, std::string_view B) noexcept {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

}  // namespace qvr
