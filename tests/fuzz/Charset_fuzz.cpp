// Fuzz target: the charset of an answer and the decoding of its body. The
// input's first line is a Content-Type value, the rest the body. The charset
// parameter comes out without double quotes; decoding with it either gives
// valid UTF-8 or refuses the name with EEncodingError, as the name check
// says beforehand.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "platform/Charset.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/http/HTTPResponse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace qvr;
  const std::string_view input(reinterpret_cast<const char*>(AData), ASize);
  const auto eol = input.find('\n');
  const std::string_view type = input.substr(0, eol);
  const std::string_view body = eol == std::string_view::npos ? "" : input.substr(eol + 1);
  const rest::THTTPResponse response(200, "OK", rest::THTTPProtocolVersion::HTTP_1_1,
                                     {{"Content-Type", std::string(type)}}, "http://127.0.0.1/");
  const std::string charset = response.ContentCharSet();
  fuzz::Check(charset.find('"') == std::string::npos, "no quote in a charset");
  const bool known = IsKnownCharset(charset);
  try {
    const std::string text = DecodeCharset(body, charset);
    fuzz::Check(known, "a name that decodes is known");
    fuzz::Check(IsValidUtf8(text), "decoded text is UTF-8");
  } catch (const EEncodingError&) {
    fuzz::Check(!known, "a known name decodes");
  }
  return 0;
}
