// The response of an HTTP object; see HTTPResponse.h.
#include "rest/http/HTTPResponse.h"

#include <algorithm>

#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "rest/http/detail/HttpUrl.h"

namespace qvr::rest {

THTTPResponse::THTTPResponse(std::int32_t AStatusCode, std::string AStatusText,
                             THTTPProtocolVersion AVersion, THeaderList AHeaders, std::string AURL,
                             THTTPAuthScheme AAuthScheme, THTTPAuthScheme AProxyAuthScheme)
    : FStatusCode(AStatusCode),
      FStatusText(std::move(AStatusText)),
      FVersion(AVersion),
      FHeaders(std::move(AHeaders)),
      FURL(std::move(AURL)),
      FAuthScheme(AAuthScheme),
      FProxyAuthScheme(AProxyAuthScheme) {}

bool THTTPResponse::SameOriginAs(const std::string& AURL) const {
  const std::string origin = detail::OriginOf(FURL);
  return !origin.empty() && origin == detail::OriginOf(AURL);
}

std::string LastHeaderValue(const THTTPHeaderList& AHeaders, std::string_view AName) {
  for (auto it = AHeaders.rbegin(); it != AHeaders.rend(); ++it) {
    if (SameText(it->first, AName)) return it->second;
  }
  return {};
}

bool THTTPResponse::ContainsHeader(std::string_view AName) const {
  return std::any_of(FHeaders.begin(), FHeaders.end(),
                     [&](const auto& AEntry) { return SameText(AEntry.first, AName); });
}

std::string THTTPResponse::ContentCharSet() const {
  const std::string type = ContentType();
  std::size_t pos = type.find(';');
  while (pos != std::string::npos) {
    const std::size_t next = type.find(';', pos + 1);
    const std::string_view param = Trim(
        std::string_view(type).substr(pos + 1, next == std::string::npos ? next : next - pos - 1));
    const auto eq = param.find('=');
    if (eq != std::string_view::npos && SameText(Trim(param.substr(0, eq)), "charset")) {
      std::string value(Trim(param.substr(eq + 1)));
      value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
      return value;
    }
    pos = next;
  }
  return {};
}

}  // namespace qvr::rest
