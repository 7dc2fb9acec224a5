// The response of an HTTP object (THTTPResponse): the status line and headers
// of the last final answer, and the protocol version it came in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rest/http/HTTPTypes.h"

namespace qvr::rest {

enum class THTTPProtocolVersion { UNKNOWN_HTTP, HTTP_1_0, HTTP_1_1, HTTP_2_0 };

using THTTPHeaderList = std::vector<std::pair<std::string, std::string>>;

// The value of the last header of AHeaders named AName (compared without
// regard to case), or an empty text.
std::string LastHeaderValue(const THTTPHeaderList& AHeaders, std::string_view AName);

// The last final answer an HTTP object received (status line and headers; the
// body went into the caller's stream).
class THTTPResponse {
 public:
  using THeaderList = THTTPHeaderList;

  THTTPResponse(std::int32_t AStatusCode, std::string AStatusText, THTTPProtocolVersion AVersion,
                THeaderList AHeaders, std::string AURL,
                THTTPAuthScheme AAuthScheme = THTTPAuthScheme::None,
                THTTPAuthScheme AProxyAuthScheme = THTTPAuthScheme::None);

  std::int32_t StatusCode() const { return FStatusCode; }
  const std::string& StatusText() const { return FStatusText; }
  THTTPProtocolVersion Version() const { return FVersion; }
  // Headers in the order received; names as the server wrote them.
  const THeaderList& Headers() const { return FHeaders; }
  // The value of the last header named AName (compared without regard to
  // case), or an empty text.
  std::string HeaderValue(std::string_view AName) const { return LastHeaderValue(FHeaders, AName); }
  bool ContainsHeader(std::string_view AName) const;
  std::string ContentType() const { return HeaderValue("Content-Type"); }
  // The charset parameter of Content-Type with every double quote removed;
  // empty when there is none.
  std::string ContentCharSet() const;
  // The URL of the final attempt (after redirects).
  const std::string& URL() const { return FURL; }
  // Whether the final attempt went to the scheme, host and port of AURL.
  bool SameOriginAs(const std::string& AURL) const;
  // The scheme of the credentials the final attempt carried to the server
  // and to the proxy; None when it carried none.
  THTTPAuthScheme AuthScheme() const { return FAuthScheme; }
  THTTPAuthScheme ProxyAuthScheme() const { return FProxyAuthScheme; }

 private:
  std::int32_t FStatusCode;
  std::string FStatusText;
  THTTPProtocolVersion FVersion;
  THeaderList FHeaders;
  std::string FURL;
  THTTPAuthScheme FAuthScheme;
  THTTPAuthScheme FProxyAuthScheme;
};

}  // namespace qvr::rest
