// URLs as the HTTP object reads them, through curl's URL parser; see
// HttpUrl.h.
#include "rest/http/detail/HttpUrl.h"

#include "platform/StrUtils.h"
#include "rest/http/detail/CurlUrl.h"

namespace qvr::rest::detail {

std::string OriginOf(const std::string& AURL) {
  TCurlUrl url = ParseUrl(AURL);
  if (!url) return {};
  return LowerCase(UrlPart(url.Get(), CURLUPART_SCHEME) + "://" +
                   UrlPart(url.Get(), CURLUPART_HOST) + ":" +
                   UrlPart(url.Get(), CURLUPART_PORT, CURLU_DEFAULT_PORT));
}

std::string ResolveLocation(const std::string& ABase, const std::string& ALocation) {
  TCurlUrl url = ParseUrl(ABase);
  if (!url) return {};
  const std::string fragment = UrlPart(url.Get(), CURLUPART_FRAGMENT);
  if (curl_url_set(url.Get(), CURLUPART_URL, ALocation.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return {};
  }
  if (UrlPart(url.Get(), CURLUPART_FRAGMENT).empty() && !fragment.empty()) {
    curl_url_set(url.Get(), CURLUPART_FRAGMENT, fragment.c_str(), 0);
  }
  return UrlPart(url.Get(), CURLUPART_URL);
}

}  // namespace qvr::rest::detail
