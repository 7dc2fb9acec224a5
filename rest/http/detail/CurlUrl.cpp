// URLs through curl's URL parser; see CurlUrl.h.
#include "rest/http/detail/CurlUrl.h"

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

}  // namespace qvr::rest::detail
