// Fuzz target: the JSON parser on any bytes. Parsing never raises; text that
// parses is written back, and the written text parses again and is written
// the same way (no value is lost or changed between the two).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "rest/json/JSONText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace qvr::rest;
  const std::unique_ptr<TJSONValue> value =
      ParseJSON(std::string_view(reinterpret_cast<const char*>(AData), ASize));
  if (value == nullptr) return 0;
  const std::string written = WriteJSON(*value);
  const std::unique_ptr<TJSONValue> again = ParseJSON(written);
  qvr::fuzz::Check(again != nullptr, "the written text parses");
  qvr::fuzz::Check(WriteJSON(*again) == written, "the written text is written the same way");
  WriteJSONUnescaped(*value);
  return 0;
}
