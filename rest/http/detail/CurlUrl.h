// URLs as the HTTP object reads them, through curl's URL parser: a part of a
// URL, its origin (scheme, host and port) and a redirect target resolved
// against the request URL. Used only by the HTTP object's .cpp files.
#pragma once

#include <string>

#include "rest/http/detail/CurlHandles.h"
#include "rest/http/detail/LazyLibs.h"

namespace qvr::rest::detail {

// A part of a URL as curl's parser understands it; empty when absent.
std::string UrlPart(CURLU* AUrl, CURLUPart APart, unsigned AFlags = 0);

// AURL parsed with any scheme allowed; an empty handle when curl refuses it.
TCurlUrl ParseUrl(const std::string& AURL);

// Scheme, host and port (the scheme's default when absent), in lower case.
std::string OriginOf(CURLU* AUrl);

// The origin of AURL; empty when AURL cannot be parsed.
std::string OriginOf(const std::string& AURL);

// Location resolved against the request URL; the request's fragment is kept
// when Location has none. Empty when the result is no valid URL.
std::string ResolveLocation(const std::string& ABase, const std::string& ALocation);

}  // namespace qvr::rest::detail
