// The session id in the Pragma header; see SessionPragma.h.
#include "rest/wire/SessionPragma.h"

namespace qvr::rest {

namespace {
constexpr std::string_view kKey = "sessionid=";
}  // namespace

std::string SessionIDFromPragma(std::string_view APragma) {
  const auto start = APragma.find(kKey);
  if (start == std::string_view::npos) return {};
  const auto rest = APragma.substr(start + kKey.size());
  return std::string(rest.substr(0, rest.find(',')));
}

std::string SessionPragma(std::string_view ASessionID) {
  std::string pragma(kKey);
  pragma += ASessionID;
  return pragma;
}

}  // namespace qvr::rest
