// Fuzz target: qvr-server's request parser fed raw request bytes, as a
// client on the network sends them, in pieces of a size the input's first
// byte chooses (a request arrives in any split). Whatever the bytes, the
// parser keeps nothing beyond its bounds: no more fields than allowed, no
// body beyond the limit, a target within its length; it ends in a request,
// a refusal with a status, or a wait for more.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "server/RequestParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  if (ASize == 0) return 0;
  qvr::server::TFrontLimits limits;
  // Small bounds, so that the fuzzer reaches them.
  limits.MaxTargetBytes = 64;
  limits.MaxHeaderBytes = 256;
  limits.MaxHeaderCount = 8;
  limits.MaxBodyBytes = 512;
  const std::size_t piece = 1 + AData[0] % 97;
  std::string_view input(reinterpret_cast<const char*>(AData + 1), ASize - 1);

  qvr::server::TRequestParser parser(limits);
  std::string pending;
  bool bodyAllowed = false;
  while (!input.empty() || !pending.empty()) {
    const std::size_t take = std::min(piece, input.size());
    pending.append(input.substr(0, take));
    input.remove_prefix(take);
    const std::size_t used = parser.Put(pending);
    qvr::fuzz::Check(used <= pending.size(), "the parser takes only what it was given");
    pending.erase(0, used);
    if (parser.Refusal() || parser.Done()) break;
    if (parser.HeadDone() && !bodyAllowed) {
      parser.ContinueBody();
      bodyAllowed = true;
      continue;
    }
    if (take == 0 && used == 0) break;  // waits for bytes that never come
  }
  const auto& request = parser.Request();
  qvr::fuzz::Check(request.Fields.size() <= limits.MaxHeaderCount, "fields within their number");
  qvr::fuzz::Check(request.Target.size() <= limits.MaxTargetBytes, "target within its length");
  qvr::fuzz::Check(request.Body.size() <= limits.MaxBodyBytes, "body within its limit");
  if (const auto& refusal = parser.Refusal()) {
    const int status = refusal->Status;
    qvr::fuzz::Check(
        status == 400 || status == 413 || status == 414 || status == 415 || status == 431,
        "a refusal has a status of its own");
    qvr::fuzz::Check(!refusal->Message.empty(), "a refusal says why");
  }
  if (!parser.Refusal() && !parser.Done()) parser.PutEof();
  return 0;
}
