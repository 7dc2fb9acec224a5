// The parser of JSONText.h: one pass over the caller's text, building the
// value classes as it goes, numbers kept as their text. Nothing is copied
// before parsing: a string without escapes becomes its value with one copy,
// and one with escapes is decoded straight into its value. Strings are
// scanned eight bytes at a time, which is where a server's answers spend
// their length (dataset blobs are one string of megabytes).
//
// It reads what the reader used before it read, with the same limits: RFC 8259
// JSON with any value at the root, no comments, no trailing commas, a zero
// byte anywhere ends the text (so it fails), nesting deeper than
// kMaxJSONDepth fails; numbers of any magnitude are kept as their text.
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/StrUtils.h"
#include "platform/Utf.h"
#include "rest/json/JSONText.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qvr::rest {

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// Eight bytes with the first one in the lowest bits.
inline std::uint64_t Load8(const char* AText) noexcept {
  std::uint64_t word;
  std::memcpy(&word, AText, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The high bit of every byte of AWord that is zero. A byte above a true hit
// may be marked as well (a borrow), so only the lowest mark is exact; that is
// the only one used.
inline std::uint64_t ZeroBytes(std::uint64_t AWord) noexcept {
  return (AWord - kOnes) & ~AWord & kHighs;
}
inline std::uint64_t BytesEqual(std::uint64_t AWord, unsigned char AByte) noexcept {
  return ZeroBytes(AWord ^ (kOnes * AByte));
}
// Bytes below 0x20 (controls, which a string may not hold raw).
inline std::uint64_t ControlBytes(std::uint64_t AWord) noexcept {
  return (AWord - kOnes * 0x20) & ~AWord & kHighs;
}
inline std::size_t FirstMarked(std::uint64_t AMarks) noexcept {
  return static_cast<std::size_t>(__builtin_ctzll(AMarks)) / 8;
}

#if defined(__SSE2__)
// Sixteen bytes at a time where the machine has SSE2 (every x86-64 does).
inline __m128i Load16(const char* AText) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(AText));
}
// One bit per byte of AWord that is '"', '\\' or a control.
inline unsigned SpecialBits(__m128i AWord) noexcept {
  const __m128i quote = _mm_cmpeq_epi8(AWord, _mm_set1_epi8('"'));
  const __m128i slash = _mm_cmpeq_epi8(AWord, _mm_set1_epi8('\\'));
  const __m128i limit = _mm_set1_epi8(0x1F);
  const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(AWord, limit), limit);
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(quote, slash), control)));
}
#endif

inline bool IsSpace(char c) noexcept { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
inline bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The four hex digits at AText (which holds them), or -1.
int Hex4(const char* AText) noexcept {
  int v = 0;
  for (int k = 0; k < 4; ++k) {
    const int h = HexDigit(AText[k]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

char* PutUtf8(char* AOut, char32_t ACode) noexcept {
  if (ACode < 0x80) {
    *AOut++ = static_cast<char>(ACode);
  } else if (ACode < 0x800) {
    *AOut++ = static_cast<char>(0xC0 | (ACode >> 6));
    *AOut++ = static_cast<char>(0x80 | (ACode & 0x3F));
  } else if (ACode < 0x10000) {
    *AOut++ = static_cast<char>(0xE0 | (ACode >> 12));
    *AOut++ = static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    *AOut++ = static_cast<char>(0x80 | (ACode & 0x3F));
  } else {
    *AOut++ = static_cast<char>(0xF0 | (ACode >> 18));
    *AOut++ = static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
    *AOut++ = static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    *AOut++ = static_cast<char>(0x80 | (ACode & 0x3F));
  }
  return AOut;
}

// Text as it stood between the quotes is taken when it is valid UTF-8;
// otherwise each invalid sequence becomes U+FFFD. An encoded surrogate
// (ED A0..BF xx) counts as one character and gives one U+FFFD.
std::string RepairText(std::string_view AText) {
  std::string out;
  out.reserve(AText.size() + 8);
  std::size_t pos = 0;
  while (pos < AText.size()) {
    const auto c0 = static_cast<unsigned char>(AText[pos]);
    if (c0 == 0xED && pos + 2 < AText.size() &&
        (static_cast<unsigned char>(AText[pos + 1]) & 0xE0) == 0xA0 &&
        (static_cast<unsigned char>(AText[pos + 2]) & 0xC0) == 0x80) {
      AppendUtf8(out, 0xFFFD);
      pos += 3;
      continue;
    }
    AppendUtf8(out, DecodeUtf8(AText, pos));
  }
  return out;
}

// The end of the JSON number at AText, or null when no number stands there.
// Any magnitude is accepted: a number is kept as its text, and only a
// conversion that needs its value (an integer or floating-point field, an
// integer parameter) fails, when it is asked for.
const char* ScanNumber(const char* AText, const char* AEnd) noexcept {
  const char* s = AText;
  auto digit = [&] { return s < AEnd && IsDigit(*s); };
  if (s < AEnd && *s == '-') ++s;
  if (s < AEnd && *s == '0') {
    ++s;
  } else if (digit()) {
    while (digit()) ++s;
  } else {
    return nullptr;
  }
  if (s < AEnd && *s == '.') {
    ++s;
    if (!digit()) return nullptr;
    while (digit()) ++s;
  }
  if (s < AEnd && (*s == 'e' || *s == 'E')) {
    ++s;
    if (s < AEnd && (*s == '+' || *s == '-')) ++s;
    if (!digit()) return nullptr;
    while (digit()) ++s;
  }
  return s;
}

// Builds the value classes while the parser reads. Each open container
// collects its members in a vector of its own that then moves into the value
// whole. Its capacity is guessed from the last container closed at the same
// depth: the rows of an answer usually share one shape, so the guess is exact
// and each member is written once, where it stays.
class TParser {
 public:
  TParser(const char* AText, std::size_t ALength, std::size_t AMaxValues)
      : FPos(AText), FEnd(AText + ALength), FValuesLeft(AMaxValues) {}

  std::unique_ptr<TJSONValue> Parse() {
    SkipSpace();
    if (FPos == FEnd || !ParseDocument()) return nullptr;
    SkipSpace();
    if (FPos != FEnd) return nullptr;
    return std::move(FRoot);
  }

 private:
  struct TFrame {
    bool IsObject = false;
    std::vector<TJSONPair> Pairs;
    std::vector<TJSONValueRef> Elements;
  };

  void SkipSpace() noexcept {
    while (FPos != FEnd && IsSpace(*FPos)) ++FPos;
  }
  bool Consume(char c) noexcept {
    if (FPos == FEnd || *FPos != c) return false;
    ++FPos;
    return true;
  }

  // The values of the document, with the containers kept in FFrames rather
  // than on the call stack, so depth costs no stack.
  bool ParseDocument() {
    for (;;) {
      // A value is due.
      if (FPos == FEnd) return false;
      const char c = *FPos;
      if (c == '{' || c == '[') {
        ++FPos;
        if (!Open(c == '{')) return false;
        SkipSpace();
        if (Consume(c == '{' ? '}' : ']')) {
          if (!Close()) return false;
        } else {
          if (c == '{' && !ReadKey()) return false;
          continue;
        }
      } else if (!ReadScalar()) {
        return false;
      }
      // After a value: a separator, or the end of its containers.
      for (;;) {
        if (FFrames.empty()) return true;
        SkipSpace();
        const bool object = FFrames.back().IsObject;
        if (Consume(',')) {
          SkipSpace();
          if (object && !ReadKey()) return false;
          break;
        }
        if (!Consume(object ? '}' : ']') || !Close()) return false;
      }
    }
  }

  // A member's name and its ":"; the value follows.
  bool ReadKey() {
    if (!Consume('"')) return false;
    TFrame& frame = FFrames.back();
    if (!ReadString(
            [&frame](const char* AText, std::size_t ALength) {
              frame.Pairs.emplace_back(AText, ALength, TJSONValueRef());
            },
            [&frame](std::string AText) {
              frame.Pairs.emplace_back(std::move(AText), TJSONValueRef());
            })) {
      return false;
    }
    SkipSpace();
    if (!Consume(':')) return false;
    SkipSpace();
    return true;
  }

  bool ReadScalar() {
    const char c = *FPos;
    switch (c) {
      case '"':
        ++FPos;
        return ReadString(
            [this](const char* AText, std::size_t ALength) {
              Put(std::make_unique<TJSONString>(AText, ALength));
            },
            [this](std::string AText) { Put(std::make_unique<TJSONString>(std::move(AText))); });
      case 't':
        return Literal("true", 4) && Put(std::make_unique<TJSONTrue>());
      case 'f':
        return Literal("false", 5) && Put(std::make_unique<TJSONFalse>());
      case 'n':
        return Literal("null", 4) && Put(std::make_unique<TJSONNull>());
      default: {
        const char* end = ScanNumber(FPos, FEnd);
        if (end == nullptr) return false;
        const char* begin = FPos;
        FPos = end;
        return Put(std::make_unique<TJSONNumber>(begin, static_cast<std::size_t>(end - begin)));
      }
    }
  }

  bool Literal(const char* AWord, std::size_t ALength) noexcept {
    if (static_cast<std::size_t>(FEnd - FPos) < ALength || std::memcmp(FPos, AWord, ALength) != 0) {
      return false;
    }
    FPos += ALength;
    return true;
  }

  // The string whose opening quote has been read: handed to ARaw as the bytes
  // of the text when they need no change, else decoded (and repaired) to
  // ADecoded. The text is scanned until its end or its first escape; from an
  // escape on it is decoded into FScratch in the same pass.
  template <typename TRaw, typename TDecoded>
  bool ReadString(TRaw&& ARaw, TDecoded&& ADecoded) {
    const char* const begin = FPos;
    const char* s = begin;
    bool ascii = true;
    if (!FindSpecial(s, ascii)) return false;
    if (*s == '"') {
      FPos = s + 1;
      const std::size_t length = static_cast<std::size_t>(s - begin);
      if (ascii || IsValidUtf8(std::string_view(begin, length))) {
        ARaw(begin, length);
      } else {
        ADecoded(RepairText(std::string_view(begin, length)));
      }
      return true;
    }
    if (*s != '\\') return false;  // a raw control byte
    const std::size_t plain = static_cast<std::size_t>(s - begin);
    Reserve(plain + 32);
    std::memcpy(FScratch.data(), begin, plain);
    char* o = FScratch.data() + plain;
    for (;;) {
      // s is at a backslash: one escape, which writes at most four bytes.
      o = Room(o, 16, s);
      if (FEnd - s < 2) return false;
      const char e = s[1];
      s += 2;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          *o++ = e;
          break;
        case 'b':
          *o++ = '\b';
          break;
        case 'f':
          *o++ = '\f';
          break;
        case 'n':
          *o++ = '\n';
          break;
        case 'r':
          *o++ = '\r';
          break;
        case 't':
          *o++ = '\t';
          break;
        case 'u': {
          const int unit = FEnd - s >= 4 ? Hex4(s) : -1;
          if (unit < 0) return false;
          s += 4;
          auto code = static_cast<char32_t>(unit);
          if (code >= 0xD800 && code <= 0xDBFF) {
            // A high surrogate takes the low one that follows; alone (or
            // before anything else) it is U+FFFD, and what follows is read
            // on its own.
            const int low = FEnd - s >= 6 && s[0] == '\\' && s[1] == 'u' ? Hex4(s + 2) : -1;
            if (low >= 0xDC00 && low <= 0xDFFF) {
              code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
              s += 6;
            } else {
              code = 0xFFFD;
            }
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            code = 0xFFFD;
          }
          o = PutUtf8(o, code);
          break;
        }
        default:
          return false;
      }
      // The text up to the next escape or the end, copied as it is scanned.
      if (!CopyToSpecial(s, o, ascii)) return false;
      if (*s == '"') break;
      if (*s != '\\') return false;  // a raw control byte
    }
    FPos = s + 1;
    const auto decoded = static_cast<std::size_t>(o - FScratch.data());
    std::string text;
    if (decoded >= (std::size_t{1} << 20) && FScratch.size() - decoded <= decoded / 4) {
      // A long string: the buffer it was decoded into becomes its value, as
      // it hardly holds more than the text.
      text = std::move(FScratch);
      text.resize(decoded);
      FScratch = std::string();
    } else {
      text.assign(FScratch.data(), decoded);
    }
    if (!ascii && !IsValidUtf8(text)) text = RepairText(text);
    ADecoded(std::move(text));
    return true;
  }

  // Advances AText to the first '"', '\\' or control byte; false when the
  // text ends first. AAscii turns false when a byte before it is beyond ASCII.
  bool FindSpecial(const char*& AText, bool& AAscii) const noexcept {
    const char* s = AText;
    std::uint64_t high = 0;
    for (;;) {
#if defined(__SSE2__)
      if (FEnd - s >= 16) {
        const __m128i w = Load16(s);
        const unsigned special = SpecialBits(w);
        const auto highBits = static_cast<unsigned>(_mm_movemask_epi8(w));
        if (special == 0) {
          high |= highBits;
          s += 16;
          continue;
        }
        const auto n = static_cast<unsigned>(__builtin_ctz(special));
        high |= highBits & ((1u << n) - 1);
        s += n;
        break;
      }
#endif
      if (FEnd - s >= 8) {
        const std::uint64_t w = Load8(s);
        const std::uint64_t special = BytesEqual(w, '"') | BytesEqual(w, '\\') | ControlBytes(w);
        if (special == 0) {
          high |= w & kHighs;
          s += 8;
          continue;
        }
        const std::size_t n = FirstMarked(special);
        high |= w & kHighs & ((std::uint64_t{1} << (8 * n)) - 1);
        s += n;
        break;
      }
      while (s != FEnd && *s != '"' && *s != '\\' && static_cast<unsigned char>(*s) >= 0x20) {
        high |= static_cast<unsigned char>(*s) & 0x80;
        ++s;
      }
      if (s == FEnd) return false;
      break;
    }
    if (high != 0) AAscii = false;
    AText = s;
    return true;
  }

  // As FindSpecial, copying the bytes passed over to AOut in FScratch.
  bool CopyToSpecial(const char*& AText, char*& AOut, bool& AAscii) {
    const char* s = AText;
    char* o = AOut;
    unsigned high = 0;
    for (;;) {
      o = Room(o, 16, s);
      if (FEnd - s >= 16) {
#if defined(__SSE2__)
        const __m128i w = Load16(s);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), w);
        const unsigned special = SpecialBits(w);
        const auto highBits = static_cast<unsigned>(_mm_movemask_epi8(w));
#else
        std::memcpy(o, s, 16);
        unsigned special = 0, highBits = 0;
        for (unsigned k = 0; k < 16; ++k) {
          const auto c = static_cast<unsigned char>(s[k]);
          special |= (c == '"' || c == '\\' || c < 0x20 ? 1u : 0u) << k;
          highBits |= static_cast<unsigned>(c >> 7) << k;
        }
#endif
        if (special == 0) {
          high |= highBits;
          s += 16;
          o += 16;
          continue;
        }
        const auto n = static_cast<unsigned>(__builtin_ctz(special));
        high |= highBits & ((1u << n) - 1);
        s += n;
        o += n;
        break;
      }
      // Fewer than 16 bytes are left, for which there is room.
      while (s != FEnd && *s != '"' && *s != '\\' && static_cast<unsigned char>(*s) >= 0x20) {
        high |= static_cast<unsigned char>(*s) & 0x80;
        *o++ = *s++;
      }
      if (s == FEnd) return false;
      break;
    }
    if (high != 0) AAscii = false;
    AText = s;
    AOut = o;
    return true;
  }

  // AOut (in FScratch) with room for ABytes after it, FScratch grown if need
  // be. Beyond a megabyte it grows at once to what the rest of the text at
  // AText can decode to, so a string of megabytes is not copied again and
  // again.
  char* Room(char* AOut, std::size_t ABytes, const char* AText) {
    const auto used = static_cast<std::size_t>(AOut - FScratch.data());
    if (FScratch.size() - used >= ABytes) return AOut;
    std::size_t size = std::max(used + ABytes, FScratch.size() * 2);
    if (size > (std::size_t{1} << 20)) {
      size = std::max(size, used + static_cast<std::size_t>(FEnd - AText) + 32);
    }
    Reserve(size);
    return FScratch.data() + used;
  }

  // Makes FScratch hold at least ASize bytes, keeping what it holds.
  void Reserve(std::size_t ASize) {
    if (ASize <= FScratch.size()) return;
    FScratch.resize(std::max(ASize, FScratch.size() * 2));
  }

  bool Open(bool AIsObject) {
    if (FFrames.size() >= static_cast<std::size_t>(kMaxJSONDepth)) return false;
    FFrames.emplace_back();
    TFrame& frame = FFrames.back();
    frame.IsObject = AIsObject;
    if (AIsObject) {
      frame.Pairs.reserve(Guess());
    } else {
      frame.Elements.reserve(Guess());
    }
    return true;
  }

  bool Close() {
    TFrame& frame = FFrames.back();
    std::unique_ptr<TJSONValue> value;
    if (frame.IsObject) {
      std::vector<TJSONPair> members = std::move(frame.Pairs);
      Remember(members.size());
      if (members.capacity() - members.size() > members.size() / 4 + 2) members.shrink_to_fit();
      auto object = std::make_unique<TJSONObject>();
      object->SetMembers(std::move(members));
      value = std::move(object);
    } else {
      std::vector<TJSONValueRef> elements = std::move(frame.Elements);
      Remember(elements.size());
      if (elements.capacity() - elements.size() > elements.size() / 4 + 2) {
        elements.shrink_to_fit();
      }
      auto array = std::make_unique<TJSONArray>();
      array->SetElements(std::move(elements));
      value = std::move(array);
    }
    FFrames.pop_back();
    return Put(std::move(value));
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
    // Every value counts, containers too, so that a small text of many tiny
    // values cannot claim memory many times its size.
    if (FValuesLeft == 0) return false;
    --FValuesLeft;
    if (FFrames.empty()) {
      FRoot = std::move(AValue);
    } else if (FFrames.back().IsObject) {
      FFrames.back().Pairs.back().SetJsonValue(TJSONValueRef(std::move(AValue)));
    } else {
      FFrames.back().Elements.emplace_back(std::move(AValue));
    }
    return true;
  }

  const char* FPos;
  const char* const FEnd;
  std::vector<TFrame> FFrames;
  std::vector<std::size_t> FShapes;
  std::unique_ptr<TJSONValue> FRoot;
  std::size_t FValuesLeft;
  // Where strings with escapes are decoded (grown as needed, kept for the
  // parse; a long string takes it along as its value).
  std::string FScratch;
};

std::unique_ptr<TJSONValue> Parse(std::string_view AText,
                                  std::size_t AMaxValues = static_cast<std::size_t>(-1)) {
  if (AText.empty()) return nullptr;
  TParser parser(AText.data(), AText.size(), AMaxValues);
  return parser.Parse();
}

}  // namespace

std::unique_ptr<TJSONValue> ParseJSON(std::string_view AText) { return Parse(AText); }

std::unique_ptr<TJSONValue> ParseJSON(std::string_view AText, std::size_t AMaxValues) {
  return Parse(AText, AMaxValues);
}

std::unique_ptr<TJSONValue> ParseJSON(const std::string& AText) { return Parse(AText); }

std::unique_ptr<TJSONValue> ParseJSON(const char* AText) {
  return AText == nullptr ? nullptr : Parse(AText);
}

}  // namespace qvr::rest
