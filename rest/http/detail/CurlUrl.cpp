// URLs through curl's URL parser; see CurlUrl.h.
#include "rest/http/detail/CurlUrl.h"

#include "platform/StrUtils.h"

namespace qvr::rest::detail {

std::string UrlPart(CURLU* AUrl, CURLUPart APart, unsigned AFlags) {
  char* part = nullptr;
  if (curl_url_get(AUrl, APart, &part, AFlags) != CURLUE_OK || part == nullptr) return {};
  std::string result(part);
  curl_free(part);
  return result;
}

TCurlUrl ParseUrl(const std::string& AURL) {
  TCurlUrl url(curl_url());
  if (!url) return url;
  if (curl_url_set(url.Get(), CURLUPART_URL, AURL.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    url.Reset();
  }
  return url;
}

std::string OriginOf(CURLU* AUrl) {
  return LowerCase(UrlPart(AUrl, CURLUPART_SCHEME) + "://" + UrlPart(AUrl, CURLUPART_HOST) + ":" +
                   UrlPart(AUrl, CURLUPART_PORT, CURLU_DEFAULT_PORT));
}

std::string OriginOf(const std::string& AURL) {
  TCurlUrl url = ParseUrl(AURL);
  return url ? OriginOf(url.Get()) : std::string();
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
