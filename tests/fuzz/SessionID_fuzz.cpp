// Fuzz target: the session id of a Pragma header value, as any bytes. The id
// is the text after the first "sessionid=" up to the first ",", and empty
// without one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "rest/RestRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const std::string_view pragma(reinterpret_cast<const char*>(AData), ASize);
  const std::string id = qvr::rest::SessionIDFromPragma(pragma);
  const auto key = pragma.find("sessionid=");
  if (key == std::string_view::npos) {
    qvr::fuzz::Check(id.empty(), "no id without sessionid=");
    return 0;
  }
  qvr::fuzz::Check(id.find(',') == std::string::npos, "the id stops at a comma");
  qvr::fuzz::Check(pragma.substr(key + 10, id.size()) == id, "the id follows sessionid=");
  const std::size_t end = key + 10 + id.size();
  qvr::fuzz::Check(end == pragma.size() || pragma[end] == ',', "the id is all up to the comma");
  return 0;
}
