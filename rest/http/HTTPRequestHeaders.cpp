// The header set of an HTTP object; see HTTPRequestHeaders.h.
#include "rest/http/HTTPRequestHeaders.h"

#include <algorithm>

#include "platform/SysUtils.h"

namespace qvr::rest {

std::string THTTPRequestHeaders::Header(std::string_view AName) const {
  for (const auto& [name, value] : FCustomHeaders) {
    if (SameText(name, AName)) return value;
  }
  return {};
}

void THTTPRequestHeaders::SetHeader(std::string_view AName, const std::string& AValue) {
  auto it = std::find_if(FCustomHeaders.begin(), FCustomHeaders.end(),
                         [&](const auto& AEntry) { return SameText(AEntry.first, AName); });
  if (AValue.empty()) {
    if (it != FCustomHeaders.end()) FCustomHeaders.erase(it);
  } else if (it != FCustomHeaders.end()) {
    it->second = AValue;
  } else {
    FCustomHeaders.emplace_back(std::string(AName), AValue);
  }
}

void THTTPRequestHeaders::SetBasicAuthentication(const std::string& AUserName,
                                                 const std::string& APassword) {
  if (AUserName.empty()) return;
  FUserName = AUserName;
  FPassword = APassword;
}

}  // namespace qvr::rest
