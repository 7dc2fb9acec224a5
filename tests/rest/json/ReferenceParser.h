// The reader that ParseJSON replaced, kept for the tests as the reference the
// parser must agree with: RapidJSON's SAX reader in place on a copy of the
// text, numbers as strings, building the same value classes, with lone
// surrogates replaced, numbers beyond a double's range kept as their text,
// and bad text repaired around it.
#pragma once

#if defined(__SSE4_2__)
#define RAPIDJSON_SSE42
#elif defined(__SSE2__)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/error/error.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Utf.h"
#include "rest/json/JSONText.h"
#include "rest/json/JSONValues.h"

namespace qvr::rest::reference {

namespace detail {

inline bool IsJSONNumberText(std::string_view AText) noexcept {
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

inline bool IsAscii(const char* AText, std::size_t ALength) noexcept {
  std::uint64_t acc = 0;
  std::size_t i = 0;
  for (; i + 8 <= ALength; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, AText + i, 8);
    acc |= word;
  }
  for (; i < ALength; ++i) acc |= static_cast<unsigned char>(AText[i]);
  return (acc & 0x8080808080808080ull) == 0;
}

// Strings as RapidJSON hands them over are raw bytes of the text (not
// validated, to keep the reader fast) and decoded escapes: valid UTF-8 is
// taken as it is, anything else is repaired with U+FFFD.
inline bool IsCleanText(const char* AText, std::size_t ALength) noexcept {
  return IsAscii(AText, ALength) || IsValidUtf8(std::string_view(AText, ALength));
}
// Invalid sequences become U+FFFD each. The reader turns a \u escape of a
// lone low surrogate into the three bytes ED B0..BF xx; that encoded
// surrogate counts as one character and gives one U+FFFD.
inline std::string RepairText(const char* AText, std::size_t ALength) {
  const std::string_view text(AText, ALength);
  std::string out;
  out.reserve(ALength + 8);
  std::size_t pos = 0;
  while (pos < ALength) {
    const auto c0 = static_cast<unsigned char>(text[pos]);
    if (c0 == 0xED && pos + 2 < ALength &&
        (static_cast<unsigned char>(text[pos + 1]) & 0xE0) == 0xA0 &&
        (static_cast<unsigned char>(text[pos + 2]) & 0xC0) == 0x80) {
      AppendUtf8(out, 0xFFFD);
      pos += 3;
      continue;
    }
    AppendUtf8(out, DecodeUtf8(text, pos));
  }
  return out;
}

// Builds the value classes from SAX events. Each open container collects its
// members in a vector of its own that then moves into the value whole. Its
// capacity is guessed from the last container closed at the same depth: the
// rows of an answer usually share one shape, so the guess is exact and each
// member is written once, where it stays.
class TBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TBuilder> {
 public:
  bool Null() { return Put(std::make_unique<TJSONNull>()); }
  bool Bool(bool AValue) {
    if (AValue) return Put(std::make_unique<TJSONTrue>());
    return Put(std::make_unique<TJSONFalse>());
  }
  // Texts are built in place: every move of a short std::string is a copy.
  bool RawNumber(const char* AText, rapidjson::SizeType ALength, bool) {
    if (FNumberTexts != nullptr) {
      // A text whose numbers were masked: the kept texts come in order.
      if (FNextNumber >= FNumberTexts->size()) return false;
      return Put(std::make_unique<TJSONNumber>((*FNumberTexts)[FNextNumber++]));
    }
    return Put(std::make_unique<TJSONNumber>(AText, ALength));
  }
  // The texts of the numbers, in document order, for a text whose numbers
  // stand masked as 0.
  void SetNumberTexts(const std::vector<std::string>* ATexts) { FNumberTexts = ATexts; }
  bool String(const char* AText, rapidjson::SizeType ALength, bool) {
    if (IsCleanText(AText, ALength)) return Put(std::make_unique<TJSONString>(AText, ALength));
    return Put(std::make_unique<TJSONString>(RepairText(AText, ALength)));
  }
  bool StartObject() {
    if (!Open(true)) return false;
    FFrames.back().Pairs.reserve(Guess());
    return true;
  }
  bool Key(const char* AText, rapidjson::SizeType ALength, bool) {
    if (IsCleanText(AText, ALength)) {
      FFrames.back().Pairs.emplace_back(AText, ALength, TJSONValueRef());
    } else {
      FFrames.back().Pairs.emplace_back(RepairText(AText, ALength), TJSONValueRef());
    }
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    std::vector<TJSONPair> members = std::move(FFrames.back().Pairs);
    Remember(members.size());
    if (members.capacity() - members.size() > members.size() / 4 + 2) members.shrink_to_fit();
    FFrames.pop_back();
    auto object = std::make_unique<TJSONObject>();
    object->SetMembers(std::move(members));
    return Put(std::move(object));
  }
  bool StartArray() {
    if (!Open(false)) return false;
    FFrames.back().Elements.reserve(Guess());
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    std::vector<TJSONValueRef> elements = std::move(FFrames.back().Elements);
    Remember(elements.size());
    if (elements.capacity() - elements.size() > elements.size() / 4 + 2) {
      elements.shrink_to_fit();
    }
    FFrames.pop_back();
    auto array = std::make_unique<TJSONArray>();
    array->SetElements(std::move(elements));
    return Put(std::move(array));
  }

  std::unique_ptr<TJSONValue> TakeRoot() { return std::move(FRoot); }

 private:
  struct TFrame {
    bool IsObject = false;
    std::vector<TJSONPair> Pairs;
    std::vector<TJSONValueRef> Elements;
  };

  bool Open(bool AIsObject) {
    if (FFrames.size() >= static_cast<std::size_t>(kMaxJSONDepth)) return false;
    FFrames.emplace_back();
    FFrames.back().IsObject = AIsObject;
    return true;
  }

  // Shapes are kept per depth and kind (objects even, arrays odd).
  std::size_t ShapeSlot() const {
    return (FFrames.size() - 1) * 2 + (FFrames.back().IsObject ? 0 : 1);
  }
  std::size_t Guess() const {
    const std::size_t slot = ShapeSlot();
    return slot < FShapes.size() ? FShapes[slot] : 0;
  }
  void Remember(std::size_t ACount) {
    const std::size_t slot = ShapeSlot();
    if (slot >= FShapes.size()) FShapes.resize(slot + 1, 0);
    // A guess is a capacity: keep it modest for huge containers, whose
    // vector grows anyway.
    FShapes[slot] = std::min<std::size_t>(ACount, 4096);
  }

  bool Put(std::unique_ptr<TJSONValue> AValue) {
    if (FFrames.empty()) {
      FRoot = std::move(AValue);
    } else if (FFrames.back().IsObject) {
      FFrames.back().Pairs.back().SetJsonValue(TJSONValueRef(std::move(AValue)));
    } else {
      FFrames.back().Elements.emplace_back(std::move(AValue));
    }
    return true;
  }

  std::vector<TFrame> FFrames;
  std::vector<std::size_t> FShapes;
  std::unique_ptr<TJSONValue> FRoot;
  const std::vector<std::string>* FNumberTexts = nullptr;
  std::size_t FNextNumber = 0;
};

inline int HexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of a \u escape whose "u" is at AText[APos], or -1.
inline int EscapedUnit(std::string_view AText, std::size_t APos) noexcept {
  if (APos + 5 > AText.size()) return -1;
  int v = 0;
  for (std::size_t k = 1; k <= 4; ++k) {
    const int h = HexValue(AText[APos + k]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

// The text with every \u escape of a lone surrogate (inside strings) turned
// into \uFFFD; nothing when there is none.
inline std::optional<std::string> ReplaceLoneSurrogates(std::string_view AText) {
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

// Why a parse failed, where the text can be mended and parsed again.
enum class TParseFailure { None, Other, LoneSurrogate, NumberTooBig };

// The text with every number (outside strings) written as 0, and the
// numbers' own texts in document order in ANumbers; nothing when a number
// token is no JSON number. The reader refuses numbers beyond the range of a
// double even when it hands numbers over as text, so those are parsed this
// way: a number is kept as its text, and only a conversion that needs its
// value fails.
inline std::optional<std::string> MaskNumbers(std::string_view AText,
                                              std::vector<std::string>& ANumbers) {
  std::string out;
  out.reserve(AText.size());
  bool inString = false;
  for (std::size_t i = 0; i < AText.size();) {
    const char c = AText[i];
    if (inString) {
      out += c;
      if (c == '\\' && i + 1 < AText.size()) {
        out += AText[i + 1];
        i += 2;
        continue;
      }
      if (c == '"') inString = false;
      ++i;
      continue;
    }
    if (c == '"') {
      inString = true;
      out += c;
      ++i;
      continue;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      std::size_t end = i + 1;
      while (end < AText.size() &&
             ((AText[end] >= '0' && AText[end] <= '9') || AText[end] == '.' || AText[end] == 'e' ||
              AText[end] == 'E' || AText[end] == '+' || AText[end] == '-')) {
        ++end;
      }
      const std::string_view number = AText.substr(i, end - i);
      if (!IsJSONNumberText(number)) return std::nullopt;
      ANumbers.emplace_back(number);
      out += '0';
      i = end;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

// Parses AText, with ANumbers the kept texts of masked numbers (or null);
// AFailure tells why it failed.
inline std::unique_ptr<TJSONValue> ParseText(std::string_view AText, TParseFailure& AFailure,
                                             const std::vector<std::string>* ANumbers) {
  // The reader works in place on a private copy: strings and numbers are
  // then handed over where they lie instead of being copied once more onto
  // the reader's own stack, which makes the parse markedly faster.
  // The reader's SIMD scan loads whole aligned 16-byte blocks, so the copy
  // carries 16 zero bytes after the text.
  constexpr std::size_t kPadding = 16;
  auto buffer = std::make_unique_for_overwrite<char[]>(AText.size() + kPadding);
  std::memcpy(buffer.get(), AText.data(), AText.size());
  std::memset(buffer.get() + AText.size(), 0, kPadding);
  rapidjson::InsituStringStream stream(buffer.get());
  TBuilder builder;
  builder.SetNumberTexts(ANumbers);
  rapidjson::Reader reader;
  constexpr unsigned kFlags = rapidjson::kParseInsituFlag | rapidjson::kParseNumbersAsStringsFlag;
  const rapidjson::ParseResult result = reader.Parse<kFlags>(stream, builder);
  AFailure = TParseFailure::None;
  if (result.IsError()) {
    AFailure = result.Code() == rapidjson::kParseErrorStringUnicodeSurrogateInvalid
                   ? TParseFailure::LoneSurrogate
               : result.Code() == rapidjson::kParseErrorNumberTooBig ? TParseFailure::NumberTooBig
                                                                     : TParseFailure::Other;
    return nullptr;
  }
  // The reader takes a zero byte for the end of the text, so "{}\0junk"
  // would pass: the whole text must have been read.
  if (stream.Tell() != AText.size()) {
    AFailure = TParseFailure::Other;
    return nullptr;
  }
  return builder.TakeRoot();
}

}  // namespace detail

// A text the reader refuses only for a lone surrogate escape or a number
// beyond a double's range is mended (the escape becomes U+FFFD, the number
// is kept as its text) and parsed again; each mend is made at most once.
inline std::unique_ptr<TJSONValue> Parse(std::string_view AText) {
  using namespace detail;
  if (AText.empty()) return nullptr;
  std::string mended;
  std::string_view text = AText;
  std::vector<std::string> numbers;
  bool masked = false;
  bool replaced = false;
  for (;;) {
    TParseFailure failure = TParseFailure::None;
    std::unique_ptr<TJSONValue> value = ParseText(text, failure, masked ? &numbers : nullptr);
    if (value != nullptr) return value;
    std::optional<std::string> next;
    if (failure == TParseFailure::LoneSurrogate && !replaced) {
      replaced = true;
      next = ReplaceLoneSurrogates(text);
    } else if (failure == TParseFailure::NumberTooBig && !masked) {
      masked = true;
      next = MaskNumbers(text, numbers);
    }
    if (!next) return nullptr;
    mended = std::move(*next);
    text = mended;
  }
}

}  // namespace qvr::rest::reference
