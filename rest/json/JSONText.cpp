// The JSON text writer; see JSONText.h. The parser is in JSONParser.cpp.
#include "rest/json/JSONText.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/Utf.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qvr::rest {

// ---------------------------------------------------------------------------
// Writer

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// What a byte turns into: 0 copied as it is, 1 a UTF-8 lead or continuation
// byte (the character decides), otherwise the letter after the backslash
// ('u' for \u00XX).
constexpr std::array<char, 256> MakeEscapeTable() {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\t'] = 't';
  t['\n'] = 'n';
  t['\f'] = 'f';
  t['\r'] = 'r';
  t['"'] = '"';
  t['\\'] = '\\';
  t['/'] = '/';
  for (int c = 0x80; c < 0x100; ++c) t[c] = 1;
  return t;
}
constexpr std::array<char, 256> kEscape = MakeEscapeTable();

void AppendUnit(std::string& AOut, unsigned AUnit) {
  char buf[6] = {'\\',
                 'u',
                 kHex[(AUnit >> 12) & 0xF],
                 kHex[(AUnit >> 8) & 0xF],
                 kHex[(AUnit >> 4) & 0xF],
                 kHex[AUnit & 0xF]};
  AOut.append(buf, 6);
}

#if defined(__SSE2__)
// One bit per byte of the sixteen at AText that the writer escapes when the
// text is ASCII: '"', '\\', '/' and controls; AHigh gets the bytes beyond
// ASCII.
inline unsigned EscapedBits(const char* AText, unsigned& AHigh) noexcept {
  const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AText));
  const __m128i limit = _mm_set1_epi8(0x1F);
  const __m128i controls = _mm_cmpeq_epi8(_mm_max_epu8(w, limit), limit);
  const __m128i marks = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8('"')), _mm_cmpeq_epi8(w, _mm_set1_epi8('\\'))),
      _mm_or_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8('/')), controls));
  AHigh = static_cast<unsigned>(_mm_movemask_epi8(w));
  return static_cast<unsigned>(_mm_movemask_epi8(marks));
}

// Appends the escaped form of AText sixteen bytes at a time while it is
// ASCII, straight into the output's place; returns how much of AText it took
// (all of it, or up to its first byte beyond ASCII).
// AWhole says that AText is a whole string, which gets room for all of it at
// once; later parts (after a letter beyond ASCII, where more may follow) get
// room as they grow, so a text of many such letters is not prepared for over
// and over.
std::size_t AppendAsciiRun(std::string& AOut, std::string_view AText, bool AWhole) {
  const char* const s = AText.data();
  const std::size_t n = AText.size();
  const std::size_t start = AOut.size();
  AOut.resize(start + (AWhole ? n + n / 8 : std::min<std::size_t>(n, 64)) + 32);
  char* base = AOut.data();
  char* o = base + start;
  std::size_t i = 0;
  for (;;) {
    // Room for a block of sixteen and an escape of six after it.
    if (static_cast<std::size_t>(base + AOut.size() - o) < 32) {
      const auto used = static_cast<std::size_t>(o - base);
      AOut.resize(AOut.size() + std::min(n - i, std::max<std::size_t>(used - start, 64)) + 32);
      base = AOut.data();
      o = base + used;
    }
    if (i + 16 <= n) {
      unsigned high = 0;
      const unsigned stops = EscapedBits(s + i, high) | high;
      std::memcpy(o, s + i, 16);
      if (stops == 0) {
        i += 16;
        o += 16;
        continue;
      }
      const auto k = static_cast<unsigned>(__builtin_ctz(stops));
      i += k;
      o += k;
    } else {
      while (i < n && kEscape[static_cast<unsigned char>(s[i])] == 0) *o++ = s[i++];
      if (i == n) break;
    }
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) break;  // the character decides: the caller's part
    ++i;
    const char e = kEscape[c];
    *o++ = '\\';
    if (e == 'u') {
      const char unit[5] = {'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      std::memcpy(o, unit, 5);
      o += 5;
    } else {
      *o++ = e;
    }
  }
  AOut.resize(static_cast<std::size_t>(o - base));
  return i;
}
#endif

template <bool AEscapeAll>
void AppendString(std::string& AOut, std::string_view AText) {
  AOut += '"';
  const char* s = AText.data();
  const std::size_t n = AText.size();
  std::size_t i = 0;
  while (i < n) {
#if defined(__SSE2__)
    if constexpr (AEscapeAll) {
      // Long stretches of ASCII (a dataset blob is megabytes of it) go the
      // fast way; short texts and what lies beyond ASCII go below.
      if (n - i >= 32) {
        i += AppendAsciiRun(AOut, AText.substr(i), i == 0);
        if (i >= n) break;
      }
    }
#endif
    std::size_t run = i;
    while (run < n && kEscape[static_cast<unsigned char>(s[run])] == 0) ++run;
    AOut.append(s + i, run - i);
    i = run;
    if (i >= n) break;
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const char e = kEscape[c];
    if (e == 1) {
      const char32_t cp = DecodeUtf8(AText, i);  // advances i
      if constexpr (AEscapeAll) {
        if (cp >= 0x10000) {
          const char32_t v = cp - 0x10000;
          AppendUnit(AOut, 0xD800 + (v >> 10));
          AppendUnit(AOut, 0xDC00 + (v & 0x3FF));
        } else {
          AppendUnit(AOut, cp);
        }
      } else {
        AppendUtf8(AOut, cp);
      }
      continue;
    }
    ++i;
    if (e == 'u') {
      if constexpr (AEscapeAll) {
        AppendUnit(AOut, c);
      } else {
        AOut += static_cast<char>(c);
      }
    } else {
      const char pair[2] = {'\\', e};
      AOut.append(pair, 2);
    }
  }
  AOut += '"';
}

// A kept number text that is not a JSON number (it can only come from a
// program or an object form, never from the parser) is written as a string,
// so that the output stays one valid JSON value.
bool IsJSONNumberText(std::string_view AText) noexcept {
  std::size_t i = 0;
  const std::size_t n = AText.size();
  auto digit = [&](std::size_t k) { return k < n && AText[k] >= '0' && AText[k] <= '9'; };
  if (i < n && AText[i] == '-') ++i;
  if (!digit(i)) return false;
  if (AText[i] == '0') {
    ++i;
  } else {
    while (digit(i)) ++i;
  }
  if (i < n && AText[i] == '.') {
    ++i;
    if (!digit(i)) return false;
    while (digit(i)) ++i;
  }
  if (i < n && (AText[i] == 'e' || AText[i] == 'E')) {
    ++i;
    if (i < n && (AText[i] == '+' || AText[i] == '-')) ++i;
    if (!digit(i)) return false;
    while (digit(i)) ++i;
  }
  return i == n;
}

template <bool AEscapeAll>
void AppendValue(std::string& AOut, const TJSONValue& AValue) {
  switch (AValue.Kind()) {
    case TJSONValue::TKind::Object: {
      const auto& members = static_cast<const TJSONObject&>(AValue).Members();
      AOut += '{';
      bool first = true;
      for (const TJSONPair& p : members) {
        if (!first) AOut += ',';
        first = false;
        AppendString<AEscapeAll>(AOut, p.Name());
        AOut += ':';
        if (p.JsonValue() != nullptr) {
          AppendValue<AEscapeAll>(AOut, *p.JsonValue());
        } else {
          AOut += "null";
        }
      }
      AOut += '}';
      break;
    }
    case TJSONValue::TKind::Array: {
      const auto& elements = static_cast<const TJSONArray&>(AValue).Elements();
      AOut += '[';
      bool first = true;
      for (const TJSONValueRef& e : elements) {
        if (!first) AOut += ',';
        first = false;
        AppendValue<AEscapeAll>(AOut, *e.Get());
      }
      AOut += ']';
      break;
    }
    case TJSONValue::TKind::String: {
      const auto& s = static_cast<const TJSONString&>(AValue);
      if (s.IsNullString()) {
        AOut += "null";
      } else {
        AppendString<AEscapeAll>(AOut, s.Value());
      }
      break;
    }
    case TJSONValue::TKind::Number: {
      const auto& s = static_cast<const TJSONString&>(AValue);
      if (s.IsNullString()) {
        AOut += "null";
      } else if (IsJSONNumberText(s.Value())) {
        AOut += s.Value();
      } else {
        AppendString<AEscapeAll>(AOut, s.Value());
      }
      break;
    }
    case TJSONValue::TKind::True:
      AOut += "true";
      break;
    case TJSONValue::TKind::False:
      AOut += "false";
      break;
    case TJSONValue::TKind::Null:
      AOut += "null";
      break;
  }
}

}  // namespace

std::string WriteJSON(const TJSONValue& AValue) {
  std::string out;
  WriteJSON(AValue, out);
  return out;
}

void WriteJSON(const TJSONValue& AValue, std::string& AOut) { AppendValue<true>(AOut, AValue); }

void WriteJSONString(std::string_view AText, std::string& AOut) { AppendString<true>(AOut, AText); }

std::string WriteJSONUnescaped(const TJSONValue& AValue) {
  std::string out;
  AppendValue<false>(out, AValue);
  return out;
}

}  // namespace qvr::rest
