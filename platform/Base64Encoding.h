// Base64 as the dataset-list blobs and HTTP credentials use it: the standard
// alphabet with "=" padding, a carriage return and line feed after every 76th
// character (or one line, for header values), and a decoder that skips every
// character outside the alphabet. One process-wide encoder is created on first
// use. It lives with the platform's text codecs because both the HTTP layer
// and the blob layer above it reach it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qvr {

class TBase64Encoding {
 public:
  static constexpr std::size_t kCharsPerLine = 76;

  TBase64Encoding();
  ~TBase64Encoding();
  TBase64Encoding(const TBase64Encoding&) = delete;
  TBase64Encoding& operator=(const TBase64Encoding&) = delete;

  // The process-wide encoder, created on first use. Threads that create it at
  // the same moment race through a compare-and-swap; the loser releases its
  // own instance and uses the winner's. It is released when the program ends.
  static TBase64Encoding& Base64();

  // ABytes in base64: a CR LF follows every 76th character (every 19th
  // complete group of four), also when that group ends the text; a final
  // padded group is never followed by one.
  std::string Encode(std::string_view ABytes) const;
  // ABytes in base64 on one line, as HTTP headers carry it (no line breaks).
  std::string EncodeLine(std::string_view ABytes) const;
  // The bytes of AText, skipping every character outside A-Z, a-z, 0-9, "+"
  // and "/" (line breaks, "=", blanks and anything else). A final lone
  // character, which cannot form a byte, is ignored. Never fails.
  std::string Decode(std::string_view AText) const;
  // The same bytes written to AOut, which must have room for
  // DecodedCapacity(AText.size()) bytes; returns how many there are.
  std::size_t DecodeTo(std::string_view AText, char* AOut) const;
  // Room DecodeTo needs for ACount characters (a little more than the bytes).
  static std::size_t DecodedCapacity(std::size_t ACount);

  // Number of characters Encode gives for ACount bytes.
  static std::size_t EncodedLength(std::size_t ACount);

  // How many encoders exist at this moment (for checking that a losing
  // first-use race releases its instance).
  static int LiveInstances();

 private:
  std::string EncodeImpl(std::string_view ABytes, bool ALineBreaks) const;
};

}  // namespace qvr
