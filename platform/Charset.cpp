// Character-set decoding; see Charset.h.
#include "platform/Charset.h"

#include <iconv.h>

#include <cerrno>

#include "platform/SysUtils.h"
#include "platform/Utf.h"

namespace qvr {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

enum class TCharSetKind { Utf8, Latin1, Utf16, Utf16LE, Utf16BE, Other };

// The name in lower case without surrounding blanks, or an empty text when it
// holds a character no charset name has. The converter would read "//" as
// options (transliteration, ignoring errors) and an empty name as the
// locale's set, so neither may reach it from the network.
std::string NormalizeName(std::string_view AName) {
  const auto first = AName.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = AName.find_last_not_of(" \t");
  std::string name(AName.substr(first, last - first + 1));
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    } else if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                 c == '.' || c == ':' || c == '+' || c == '(' || c == ')')) {
      return {};
    }
  }
  return name;
}

TCharSetKind KindOf(const std::string& AName) {
  if (AName == "utf-8" || AName == "utf8") return TCharSetKind::Utf8;
  if (AName == "iso-8859-1" || AName == "iso8859-1" || AName == "iso_8859-1" || AName == "latin1" ||
      AName == "latin-1")
    return TCharSetKind::Latin1;
  // "unicode" is what the server's platform calls little-endian UTF-16.
  if (AName == "utf-16" || AName == "utf16" || AName == "unicode") return TCharSetKind::Utf16;
  if (AName == "utf-16le" || AName == "utf16le") return TCharSetKind::Utf16LE;
  if (AName == "utf-16be" || AName == "utf16be") return TCharSetKind::Utf16BE;
  return TCharSetKind::Other;
}

// A converter descriptor that is closed however the conversion ends.
class TIconv {
 public:
  explicit TIconv(const std::string& AFrom) : FHandle(iconv_open("UTF-8", AFrom.c_str())) {}
  ~TIconv() {
    if (Valid()) iconv_close(FHandle);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Valid() const { return FHandle != reinterpret_cast<iconv_t>(-1); }
  iconv_t Handle() const { return FHandle; }

 private:
  iconv_t FHandle;
};

std::string DecodeUtf16(std::string_view ABytes, bool ALittleEndian) {
  std::u16string units;
  units.reserve(ABytes.size() / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(ABytes.data());
  const std::size_t pairs = ABytes.size() / 2;
  for (std::size_t i = 0; i < pairs; ++i) {
    const unsigned lo = ALittleEndian ? p[2 * i] : p[2 * i + 1];
    const unsigned hi = ALittleEndian ? p[2 * i + 1] : p[2 * i];
    units.push_back(static_cast<char16_t>(lo | (hi << 8)));
  }
  // Utf16ToUtf8 turns lone surrogates into U+FFFD; a last odd byte is half a
  // code unit and gets one too.
  std::string out = Utf16ToUtf8(units);
  if (ABytes.size() % 2 != 0) AppendUtf8(out, kReplacement);
  return out;
}

std::string DecodeUtf16WithBom(std::string_view ABytes) {
  if (ABytes.size() >= 2) {
    const auto b0 = static_cast<unsigned char>(ABytes[0]);
    const auto b1 = static_cast<unsigned char>(ABytes[1]);
    if (b0 == 0xFF && b1 == 0xFE) return DecodeUtf16(ABytes.substr(2), true);
    if (b0 == 0xFE && b1 == 0xFF) return DecodeUtf16(ABytes.substr(2), false);
  }
  return DecodeUtf16(ABytes, true);
}

std::string DecodeWithIconv(TIconv& AConverter, std::string_view ABytes) {
  std::string out;
  out.reserve(ABytes.size() + ABytes.size() / 2);
  char buffer[4096];
  char* in = const_cast<char*>(ABytes.data());
  std::size_t inLeft = ABytes.size();
  bool flushed = false;
  while (!flushed) {
    char* outPos = buffer;
    std::size_t outLeft = sizeof buffer;
    // With no input left, one more call writes what a stateful set still holds.
    const bool flushing = inLeft == 0;
    const std::size_t rc = flushing
                               ? iconv(AConverter.Handle(), nullptr, nullptr, &outPos, &outLeft)
                               : iconv(AConverter.Handle(), &in, &inLeft, &outPos, &outLeft);
    const int error = errno;
    out.append(buffer, static_cast<std::size_t>(outPos - buffer));
    if (rc != static_cast<std::size_t>(-1)) {
      flushed = flushing;
      continue;
    }
    if (error == E2BIG) continue;
    if (flushing) break;
    // An invalid sequence (EILSEQ) costs one byte; a truncated one at the end
    // (EINVAL) ends the text. Either way the reader sees U+FFFD.
    AppendUtf8(out, kReplacement);
    if (error == EILSEQ && inLeft > 0) {
      ++in;
      --inLeft;
      iconv(AConverter.Handle(), nullptr, nullptr, nullptr, nullptr);
    } else {
      inLeft = 0;
    }
  }
  return out;
}

[[noreturn]] void InvalidName() { throw EEncodingError("Invalid encoding name"); }

}  // namespace

std::string DecodeCharset(std::string_view ABytes, std::string_view ACharSetName) {
  const std::string name = NormalizeName(ACharSetName);
  if (name.empty()) InvalidName();
  switch (KindOf(name)) {
    case TCharSetKind::Utf8:
      return SanitizeUtf8(ABytes);
    case TCharSetKind::Latin1:
      return Latin1ToUtf8(ABytes);
    case TCharSetKind::Utf16:
      return DecodeUtf16WithBom(ABytes);
    case TCharSetKind::Utf16LE:
      return DecodeUtf16(ABytes, true);
    case TCharSetKind::Utf16BE:
      return DecodeUtf16(ABytes, false);
    case TCharSetKind::Other:
      break;
  }
  TIconv converter(name);
  if (!converter.Valid()) InvalidName();
  std::string text = DecodeWithIconv(converter, ABytes);
  // A name the converter resolves to UTF-8 itself (an alias such as "UTF)8")
  // copies bytes through unchecked, invalid sequences included.
  if (!IsValidUtf8(text)) return SanitizeUtf8(text);
  return text;
}

bool DecodesUnchanged(std::string_view ABytes, std::string_view ACharSetName) {
  const std::string name = NormalizeName(ACharSetName.empty() ? "ISO-8859-1" : ACharSetName);
  if (name.empty()) return false;
  switch (KindOf(name)) {
    case TCharSetKind::Utf8:
      return IsValidUtf8(ABytes);
    case TCharSetKind::Latin1:
      return AsciiPrefixLength(ABytes) == ABytes.size();
    default:
      return false;
  }
}

bool IsKnownCharset(std::string_view ACharSetName) {
  const std::string name = NormalizeName(ACharSetName);
  if (name.empty()) return false;
  if (KindOf(name) != TCharSetKind::Other) return true;
  return TIconv(name).Valid();
}

}  // namespace qvr
