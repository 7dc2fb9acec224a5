// JSON text writer and parser; see JSONText.h. The parser drives RapidJSON's
// SAX reader and builds the value classes directly, with numbers kept as text.
#include "rest/JSONText.h"

#include <rapidjson/error/error.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/Utf.h"

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

template <bool AEscapeAll>
void AppendString(std::string& AOut, std::string_view AText) {
  AOut += '"';
  const char* s = AText.data();
  const std::size_t n = AText.size();
  std::size_t i = 0;
  while (i < n) {
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

std::string WriteJSONUnescaped(const TJSONValue& AValue) {
  std::string out;
  AppendValue<false>(out, AValue);
  return out;
}

// ---------------------------------------------------------------------------
// Parser

namespace {

bool IsAscii(const char* AText, std::size_t ALength) noexcept {
  unsigned char acc = 0;
  for (std::size_t i = 0; i < ALength; ++i) acc |= static_cast<unsigned char>(AText[i]);
  return acc < 0x80;
}

// Strings as RapidJSON hands them over: raw bytes copied from the text (not
// validated, to keep the reader fast) and decoded escapes. Invalid sequences
// become U+FFFD here.
std::string MakeText(const char* AText, std::size_t ALength) {
  if (IsAscii(AText, ALength)) return std::string(AText, ALength);
  const std::string_view view(AText, ALength);
  if (IsValidUtf8(view)) return std::string(view);
  return SanitizeUtf8(view);
}

// Builds the value classes from SAX events. Members and elements of the open
// containers wait on two shared stacks and move into an exactly sized vector
// when their container closes, so no container over-allocates.
class TBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TBuilder> {
 public:
  bool Null() { return Put(std::make_unique<TJSONNull>()); }
  bool Bool(bool AValue) {
    if (AValue) return Put(std::make_unique<TJSONTrue>());
    return Put(std::make_unique<TJSONFalse>());
  }
  bool RawNumber(const char* AText, rapidjson::SizeType ALength, bool) {
    return Put(std::make_unique<TJSONNumber>(std::string(AText, ALength)));
  }
  bool String(const char* AText, rapidjson::SizeType ALength, bool) {
    return Put(std::make_unique<TJSONString>(MakeText(AText, ALength)));
  }
  bool StartObject() { return Open(true); }
  bool Key(const char* AText, rapidjson::SizeType ALength, bool) {
    FPairs.emplace_back(MakeText(AText, ALength), TJSONValueRef());
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    const std::size_t start = FFrames.back().Start;
    auto object = std::make_unique<TJSONObject>();
    std::vector<TJSONPair> members;
    members.reserve(FPairs.size() - start);
    for (std::size_t i = start; i < FPairs.size(); ++i) members.push_back(std::move(FPairs[i]));
    FPairs.erase(FPairs.begin() + static_cast<std::ptrdiff_t>(start), FPairs.end());
    object->SetMembers(std::move(members));
    FFrames.pop_back();
    return Put(std::move(object));
  }
  bool StartArray() { return Open(false); }
  bool EndArray(rapidjson::SizeType) {
    const std::size_t start = FFrames.back().Start;
    auto array = std::make_unique<TJSONArray>();
    std::vector<TJSONValueRef> elements;
    elements.reserve(FElements.size() - start);
    for (std::size_t i = start; i < FElements.size(); ++i) {
      elements.push_back(std::move(FElements[i]));
    }
    FElements.erase(FElements.begin() + static_cast<std::ptrdiff_t>(start), FElements.end());
    array->SetElements(std::move(elements));
    FFrames.pop_back();
    return Put(std::move(array));
  }

  std::unique_ptr<TJSONValue> TakeRoot() { return std::move(FRoot); }

 private:
  struct TFrame {
    bool IsObject;
    std::size_t Start;
  };

  bool Open(bool AIsObject) {
    if (FFrames.size() >= static_cast<std::size_t>(kMaxJSONDepth)) return false;
    FFrames.push_back({AIsObject, AIsObject ? FPairs.size() : FElements.size()});
    return true;
  }

  bool Put(std::unique_ptr<TJSONValue> AValue) {
    if (FFrames.empty()) {
      FRoot = std::move(AValue);
    } else if (FFrames.back().IsObject) {
      FPairs.back().SetJsonValue(TJSONValueRef(std::move(AValue)));
    } else {
      FElements.emplace_back(std::move(AValue));
    }
    return true;
  }

  std::vector<TFrame> FFrames;
  std::vector<TJSONPair> FPairs;
  std::vector<TJSONValueRef> FElements;
  std::unique_ptr<TJSONValue> FRoot;
};

int HexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of a \u escape whose "u" is at AText[APos], or -1.
int EscapedUnit(std::string_view AText, std::size_t APos) noexcept {
  if (APos + 5 > AText.size()) return -1;
  int v = 0;
  for (std::size_t k = 1; k <= 4; ++k) {
    const int h = HexValue(AText[APos + k]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

// Whether the text may hold a \u escape of a surrogate (a cheap over-estimate).
bool MayHoldSurrogateEscape(std::string_view AText) noexcept {
  const char* p = AText.data();
  const char* end = p + AText.size();
  while ((p = static_cast<const char*>(std::memchr(p, '\\', static_cast<std::size_t>(end - p)))) !=
         nullptr) {
    if (end - p >= 4 && p[1] == 'u' && (p[2] == 'd' || p[2] == 'D')) {
      const char c = p[3];
      if ((c >= '8' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) return true;
    }
    p += 2;  // skips the escaped character
    if (p >= end) break;
  }
  return false;
}

// The text with every \u escape of a lone surrogate (inside strings) turned
// into \uFFFD; nothing when there is none.
std::optional<std::string> ReplaceLoneSurrogates(std::string_view AText) {
  std::string out;
  bool changed = false;
  bool inString = false;
  std::size_t copied = 0;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (!inString) {
      if (c == '"') inString = true;
      continue;
    }
    if (c == '"') {
      inString = false;
      continue;
    }
    if (c != '\\' || i + 1 >= AText.size()) continue;
    if (AText[i + 1] != 'u') {
      ++i;  // a two-character escape
      continue;
    }
    const int unit = EscapedUnit(AText, i + 1);
    if (unit < 0xD800 || unit > 0xDFFF) {
      continue;  // not a surrogate (or malformed: the reader reports it)
    }
    if (unit <= 0xDBFF && i + 7 < AText.size() && AText[i + 6] == '\\' && AText[i + 7] == 'u') {
      const int low = EscapedUnit(AText, i + 7);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        i += 11;  // a valid pair, kept
        continue;
      }
    }
    if (!changed) out.reserve(AText.size());
    changed = true;
    out.append(AText.substr(copied, i - copied));
    out += "\\uFFFD";
    copied = i + 6;
    i += 5;
  }
  if (!changed) return std::nullopt;
  out.append(AText.substr(copied));
  return out;
}

std::unique_ptr<TJSONValue> ParseText(std::string_view AText) {
  // The reader treats a zero byte as the end of the text, which would accept
  // "{}\0junk"; a raw zero byte is never valid JSON.
  if (std::memchr(AText.data(), 0, AText.size()) != nullptr) return nullptr;
  rapidjson::MemoryStream stream(AText.data(), AText.size());
  TBuilder builder;
  rapidjson::Reader reader;
  constexpr unsigned kFlags = rapidjson::kParseNumbersAsStringsFlag;
  const rapidjson::ParseResult result = reader.Parse<kFlags>(stream, builder);
  if (result.IsError()) return nullptr;
  return builder.TakeRoot();
}

}  // namespace

std::unique_ptr<TJSONValue> ParseJSON(std::string_view AText) {
  if (AText.empty()) return nullptr;
  if (MayHoldSurrogateEscape(AText)) {
    if (std::optional<std::string> fixed = ReplaceLoneSurrogates(AText)) return ParseText(*fixed);
  }
  return ParseText(AText);
}

}  // namespace qvr::rest
