// A JSON reader for the tests to hold ParseJSON to, written from the grammar
// of RFC 8259 and the rules ParseJSON documents (rest/json/JSONText.h,
// docs/json.md), and sharing no code with it: a recursive descent that reads
// one character at a time, builds the value classes through their public
// calls, and gives up at the first thing that is not JSON. Slow and plain on
// purpose; only its answers matter.
//
// The rules beyond the grammar: any value may stand at the root; numbers keep
// their text, whatever their magnitude; duplicate names are kept in order;
// nesting deeper than 512 arrays and objects is no JSON; \u escapes of lone
// surrogates and malformed UTF-8 are read as U+FFFD. A malformed sequence is
// replaced as Unicode recommends (one U+FFFD for each maximal part that
// starts a well-formed sequence, or for each byte that starts none), except
// that the three bytes that would encode a surrogate (ED A0..BF 80..BF) are
// taken as one character and give one U+FFFD.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "rest/json/JSONValues.h"

namespace qvr::rest::reference {

namespace detail {

inline constexpr int kDeepestNesting = 512;
inline constexpr char32_t kReplacement = 0xFFFD;

// Raised at the first byte that cannot continue the text as JSON; Parse
// turns it into "no JSON".
struct TNotJSON {};

inline bool IsHighSurrogate(char32_t AUnit) { return AUnit >= 0xD800 && AUnit <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t AUnit) { return AUnit >= 0xDC00 && AUnit <= 0xDFFF; }

// The value of a hexadecimal digit, or -1.
inline int HexValue(char c) {
  constexpr std::string_view kDigits = "0123456789abcdefABCDEF";
  const std::size_t at = kDigits.find(c);
  if (at == std::string_view::npos) return -1;
  return static_cast<int>(at < 16 ? at : at - 6);
}

// Appends the UTF-8 form of ACode (a scalar value: never a surrogate): the
// continuation bytes carry six bits each from the lowest up, and the first
// byte the rest under the mark of the sequence's length.
inline void PutCodePoint(char32_t ACode, std::string& AOut) {
  if (ACode < 0x80) {
    AOut += static_cast<char>(ACode);
    return;
  }
  const int following = ACode < 0x800 ? 1 : ACode < 0x10000 ? 2 : 3;
  constexpr unsigned char kFirstMarks[] = {0x00, 0xC0, 0xE0, 0xF0};
  char bytes[4];
  for (int k = following; k > 0; --k) {
    bytes[k] = static_cast<char>(0x80 | (ACode & 0x3F));
    ACode >>= 6;
  }
  bytes[0] = static_cast<char>(kFirstMarks[following] | ACode);
  AOut.append(bytes, static_cast<std::size_t>(following) + 1);
}

// The well-formed UTF-8 sequences of more than one byte, as the Unicode
// standard tabulates them: by first byte, the range of the second byte and
// the length; every further byte is 80..BF.
struct TUtf8Form {
  unsigned char FirstLow, FirstHigh, SecondLow, SecondHigh;
  std::size_t Length;
};
inline constexpr TUtf8Form kUtf8Forms[] = {
    {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3}, {0xE1, 0xEC, 0x80, 0xBF, 3},
    {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3}, {0xF0, 0xF0, 0x90, 0xBF, 4},
    {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
};

class TReader {
 public:
  explicit TReader(std::string_view AText) : FText(AText) {}

  // JSON-text = ws value ws, and nothing after it.
  std::unique_ptr<TJSONValue> Document() {
    Blanks();
    std::unique_ptr<TJSONValue> value = Value(0);
    Blanks();
    if (FPos != FText.size()) throw TNotJSON();
    return value;
  }

 private:
  // value = false / null / true / object / array / number / string, with
  // ADepth arrays and objects around it.
  std::unique_ptr<TJSONValue> Value(int ADepth) {
    switch (Peek()) {
      case '{':
        return Object(ADepth + 1);
      case '[':
        return Array(ADepth + 1);
      case '"':
        return std::make_unique<TJSONString>(String());
      case 't':
        Word("true");
        return std::make_unique<TJSONTrue>();
      case 'f':
        Word("false");
        return std::make_unique<TJSONFalse>();
      case 'n':
        Word("null");
        return std::make_unique<TJSONNull>();
      default:
        return Number();
    }
  }

  // object = begin-object [ member *( value-separator member ) ] end-object,
  // member = string name-separator value. AddPair appends, so a repeated
  // name stays where it stood.
  std::unique_ptr<TJSONValue> Object(int ADepth) {
    if (ADepth > kDeepestNesting) throw TNotJSON();
    Expect('{');
    auto object = std::make_unique<TJSONObject>();
    Blanks();
    if (Accept('}')) return object;
    do {
      Blanks();
      std::string name = String();
      Blanks();
      Expect(':');
      Blanks();
      std::unique_ptr<TJSONValue> value = Value(ADepth);
      object->AddPair(std::move(name), std::move(value));
      Blanks();
    } while (Accept(','));
    Expect('}');
    return object;
  }

  // array = begin-array [ value *( value-separator value ) ] end-array
  std::unique_ptr<TJSONValue> Array(int ADepth) {
    if (ADepth > kDeepestNesting) throw TNotJSON();
    Expect('[');
    auto array = std::make_unique<TJSONArray>();
    Blanks();
    if (Accept(']')) return array;
    do {
      Blanks();
      array->Add(Value(ADepth));
      Blanks();
    } while (Accept(','));
    Expect(']');
    return array;
  }

  // number = [ minus ] int [ frac ] [ exp ], kept as the text it is.
  std::unique_ptr<TJSONValue> Number() {
    const std::size_t start = FPos;
    Accept('-');
    // int = zero / ( digit1-9 *DIGIT )
    if (!Accept('0') && Digits() == 0) throw TNotJSON();
    // frac = decimal-point 1*DIGIT
    if (Accept('.') && Digits() == 0) throw TNotJSON();
    // exp = e [ minus / plus ] 1*DIGIT
    if (Accept('e') || Accept('E')) {
      if (!Accept('+')) Accept('-');
      if (Digits() == 0) throw TNotJSON();
    }
    return std::make_unique<TJSONNumber>(std::string(FText.substr(start, FPos - start)));
  }

  std::size_t Digits() {
    const std::size_t start = FPos;
    while (Peek() >= '0' && Peek() <= '9') ++FPos;
    return FPos - start;
  }

  // string = quotation-mark *char quotation-mark, as UTF-8.
  std::string String() {
    Expect('"');
    std::string text;
    for (;;) {
      const unsigned char c = Take();
      if (c == '"') return text;
      if (c == '\\') {
        Escape(text);
      } else if (c < 0x20) {
        throw TNotJSON();  // control characters must be escaped
      } else if (c < 0x80) {
        text += static_cast<char>(c);
      } else {
        Character(c, text);
      }
    }
  }

  // The escape after a backslash.
  void Escape(std::string& AOut) {
    const unsigned char c = Take();
    switch (c) {
      case '"':
      case '\\':
      case '/':
        AOut += static_cast<char>(c);
        return;
      case 'b':
        AOut += '\b';
        return;
      case 'f':
        AOut += '\f';
        return;
      case 'n':
        AOut += '\n';
        return;
      case 'r':
        AOut += '\r';
        return;
      case 't':
        AOut += '\t';
        return;
      case 'u':
        break;
      default:
        throw TNotJSON();
    }
    char32_t code = 0;
    if (!Unit(code)) throw TNotJSON();
    if (IsHighSurrogate(code)) {
      // Its low half must be the very next escape; otherwise the high half
      // stands alone, and whatever follows is read for itself.
      const std::size_t after = FPos;
      char32_t low = 0;
      if (Accept('\\') && Accept('u') && Unit(low) && IsLowSurrogate(low)) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      } else {
        FPos = after;
        code = kReplacement;
      }
    } else if (IsLowSurrogate(code)) {
      code = kReplacement;
    }
    PutCodePoint(code, AOut);
  }

  // Four hex digits as a UTF-16 code unit in AUnit; false, having read
  // nothing, when four hex digits do not follow.
  bool Unit(char32_t& AUnit) {
    if (FText.size() - FPos < 4) return false;
    char32_t unit = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const int digit = HexValue(FText[FPos + k]);
      if (digit < 0) return false;
      unit = unit * 16 + static_cast<char32_t>(digit);
    }
    FPos += 4;
    AUnit = unit;
    return true;
  }

  // A character of more than one byte whose first byte AFirst has been read:
  // copied as it stands when well formed, else U+FFFD for the bytes that
  // could still have begun one.
  void Character(unsigned char AFirst, std::string& AOut) {
    const std::size_t start = FPos - 1;
    const auto* form = std::find_if(std::begin(kUtf8Forms), std::end(kUtf8Forms),
                                    [AFirst](const TUtf8Form& AForm) {
                                      return AFirst >= AForm.FirstLow && AFirst <= AForm.FirstHigh;
                                    });
    if (form == std::end(kUtf8Forms)) {
      PutCodePoint(kReplacement, AOut);
      return;
    }
    std::size_t length = 1;
    while (length < form->Length && FPos < FText.size()) {
      const auto b = static_cast<unsigned char>(FText[FPos]);
      const bool fits =
          length == 1 ? b >= form->SecondLow && b <= form->SecondHigh : b >= 0x80 && b <= 0xBF;
      if (!fits) break;
      ++FPos;
      ++length;
    }
    if (length == form->Length) {
      AOut.append(FText.substr(start, length));
      return;
    }
    if (AFirst == 0xED && length == 1 && FText.size() - FPos >= 2 &&
        static_cast<unsigned char>(FText[FPos]) >= 0xA0 &&
        static_cast<unsigned char>(FText[FPos]) <= 0xBF &&
        static_cast<unsigned char>(FText[FPos + 1]) >= 0x80 &&
        static_cast<unsigned char>(FText[FPos + 1]) <= 0xBF) {
      FPos += 2;  // an encoded surrogate: one character
    }
    PutCodePoint(kReplacement, AOut);
  }

  // ws = *( %x20 / %x09 / %x0A / %x0D )
  void Blanks() {
    while (FPos < FText.size() &&
           std::string_view(" \t\n\r").find(FText[FPos]) != std::string_view::npos) {
      ++FPos;
    }
  }

  void Word(std::string_view AWord) {
    if (FText.substr(FPos, AWord.size()) != AWord) throw TNotJSON();
    FPos += AWord.size();
  }

  // The next byte, or -1 at the end of the text.
  int Peek() const { return FPos < FText.size() ? static_cast<unsigned char>(FText[FPos]) : -1; }
  unsigned char Take() {
    if (FPos == FText.size()) throw TNotJSON();
    return static_cast<unsigned char>(FText[FPos++]);
  }
  bool Accept(char c) {
    if (Peek() != static_cast<unsigned char>(c)) return false;
    ++FPos;
    return true;
  }
  void Expect(char c) {
    if (!Accept(c)) throw TNotJSON();
  }

  const std::string_view FText;
  std::size_t FPos = 0;
};

}  // namespace detail

// The value of AText, or null when it is no JSON.
inline std::unique_ptr<TJSONValue> Parse(std::string_view AText) {
  try {
    return detail::TReader(AText).Document();
  } catch (const detail::TNotJSON&) {
    return nullptr;
  }
}

}  // namespace qvr::rest::reference
