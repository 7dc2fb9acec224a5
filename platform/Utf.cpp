// UTF-8 / UTF-16 helpers; see Utf.h.
#include "platform/Utf.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace qvr {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

inline bool IsCont(unsigned char c) noexcept { return (c & 0xC0) == 0x80; }

// The characters of the bytes 0x80 to 0x9F; the rest of Windows-1252 is
// ISO-8859-1. The five bytes the code page does not define keep their value.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};
}  // namespace

char32_t DecodeUtf8(std::string_view AText, std::size_t& APos) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(AText.data());
  const std::size_t n = AText.size();
  const unsigned char c0 = s[APos];
  if (c0 < 0x80) {
    ++APos;
    return c0;
  }
  std::size_t len = 0;
  char32_t cp = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (c0 >= 0xC2 && c0 <= 0xDF) {
    len = 2;
    cp = c0 & 0x1F;
  } else if (c0 >= 0xE0 && c0 <= 0xEF) {
    len = 3;
    cp = c0 & 0x0F;
    if (c0 == 0xE0) lo = 0xA0;
    if (c0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (c0 >= 0xF0 && c0 <= 0xF4) {
    len = 4;
    cp = c0 & 0x07;
    if (c0 == 0xF0) lo = 0x90;
    if (c0 == 0xF4) hi = 0x8F;
  } else {
    ++APos;
    return kReplacement;
  }
  std::size_t i = 1;
  for (; i < len; ++i) {
    if (APos + i >= n) break;
    const unsigned char c = s[APos + i];
    if (i == 1 ? (c < lo || c > hi) : !IsCont(c)) break;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (i < len) {
    APos += i;  // the maximal invalid prefix
    return kReplacement;
  }
  APos += len;
  return cp;
}

void AppendUtf8(std::string& AOut, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
  if (cp < 0x80) {
    AOut += static_cast<char>(cp);
  } else if (cp < 0x800) {
    AOut += static_cast<char>(0xC0 | (cp >> 6));
    AOut += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    AOut += static_cast<char>(0xE0 | (cp >> 12));
    AOut += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (cp >> 18));
    AOut += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u16string Utf8ToUtf16(std::string_view AText) {
  std::u16string out;
  out.reserve(AText.size());
  std::size_t pos = 0;
  while (pos < AText.size()) {
    const char32_t cp = DecodeUtf8(AText, pos);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out += static_cast<char16_t>(0xD800 | (v >> 10));
      out += static_cast<char16_t>(0xDC00 | (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char16_t u = AText[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 &&
        AText[i + 1] <= 0xDFFF) {
      const char32_t cp =
          0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(AText[i + 1]) - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else {
      AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD
    }
  }
  return out;
}

std::size_t AsciiPrefixLength(std::string_view AText) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(AText.data());
  const std::size_t n = AText.size();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s + i, 8);
    std::uint64_t high = word & 0x8080808080808080ull;
    if (high != 0) {
      if constexpr (std::endian::native == std::endian::big) high = __builtin_bswap64(high);
      return i + static_cast<std::size_t>(__builtin_ctzll(high)) / 8;
    }
  }
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

bool IsValidUtf8(std::string_view AText) noexcept {
  // Well-formed UTF-8 is exactly what DecodeUtf8 reads without a replacement
  // (a U+FFFD in the text itself is well-formed).
  const auto* s = reinterpret_cast<const unsigned char*>(AText.data());
  const std::size_t n = AText.size();
  std::size_t i = 0;
  for (;;) {
    i += AsciiPrefixLength(AText.substr(i));
    if (i == n) return true;
    const unsigned char c0 = s[i];
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (c0 >= 0xC2 && c0 <= 0xDF) {
      len = 2;
    } else if (c0 >= 0xE0 && c0 <= 0xEF) {
      len = 3;
      if (c0 == 0xE0) lo = 0xA0;
      if (c0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (c0 >= 0xF0 && c0 <= 0xF4) {
      len = 4;
      if (c0 == 0xF0) lo = 0x90;
      if (c0 == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + len > n || s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k) {
      if (!IsCont(s[i + k])) return false;
    }
    i += len;
  }
}

std::string SanitizeUtf8(std::string_view AText) {
  if (IsValidUtf8(AText)) return std::string(AText);
  std::string out;
  out.reserve(AText.size() + 8);
  std::size_t pos = 0;
  while (pos < AText.size()) AppendUtf8(out, DecodeUtf8(AText, pos));
  return out;
}

std::size_t Utf16Length(std::string_view AText) noexcept {
  std::size_t units = 0, pos = 0;
  while (pos < AText.size()) units += DecodeUtf8(AText, pos) >= 0x10000 ? 2 : 1;
  return units;
}

std::string Utf8Prefix(std::string_view AText, std::size_t AMaxUnits) {
  std::size_t units = 0, pos = 0;
  while (pos < AText.size()) {
    std::size_t next = pos;
    const std::size_t w = DecodeUtf8(AText, next) >= 0x10000 ? 2 : 1;
    if (units + w > AMaxUnits) break;
    units += w;
    pos = next;
  }
  return SanitizeUtf8(AText.substr(0, pos));
}

namespace {

// A single-byte text to UTF-8, AHigh giving the character of each byte from
// 0x80 on. ASCII, what nearly every such text is, stays as it is: runs of it
// are copied whole.
template <typename TMap>
std::string SingleByteToUtf8(std::string_view ABytes, TMap AHigh) {
  std::string out;
  out.reserve(ABytes.size() + ABytes.size() / 4);
  const auto* s = reinterpret_cast<const unsigned char*>(ABytes.data());
  const std::size_t n = ABytes.size();
  std::size_t i = 0;
  while (i < n) {
    std::size_t run = i + AsciiPrefixLength(ABytes.substr(i));
    out.append(ABytes.data() + i, run - i);
    if (run < n) AppendUtf8(out, AHigh(s[run++]));
    i = run;
  }
  return out;
}

}  // namespace

std::string Latin1ToUtf8(std::string_view ABytes) {
  return SingleByteToUtf8(ABytes, [](unsigned char b) { return char32_t{b}; });
}

std::string Windows1252ToUtf8(std::string_view ABytes) {
  return SingleByteToUtf8(
      ABytes, [](unsigned char b) { return b < 0xA0 ? kWindows1252High[b - 0x80] : char32_t{b}; });
}

std::optional<std::string> Utf8ToWindows1252(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  std::size_t pos = 0;
  while (pos < AText.size()) {
    const std::size_t run = pos + AsciiPrefixLength(AText.substr(pos));
    out.append(AText.data() + pos, run - pos);
    pos = run;
    if (pos == AText.size()) break;
    // An invalid sequence decodes as U+FFFD, which has no byte either.
    const char32_t c = DecodeUtf8(AText, pos);
    if (c >= 0xA0 && c <= 0xFF) {
      out += static_cast<char>(c);
      continue;
    }
    const auto* found = std::find(std::begin(kWindows1252High), std::end(kWindows1252High), c);
    if (found == std::end(kWindows1252High)) return std::nullopt;
    out += static_cast<char>(0x80 + (found - std::begin(kWindows1252High)));
  }
  return out;
}

}  // namespace qvr
