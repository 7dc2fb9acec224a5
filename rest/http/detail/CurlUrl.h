// URLs through curl's URL parser, for the code that works on curl's URL
// handle: a URL parsed into a handle and a part read from it. The questions
// the rest of the HTTP layer asks about URLs, in strings, are in
// detail/HttpUrl.h. Used only by the HTTP object's .cpp files.
#pragma once

#include <string>

#include "rest/http/detail/CurlHandles.h"
#include "rest/http/detail/LazyLibs.h"

namespace qvr::rest::detail {

// A part of a URL as curl's parser understands it; empty when absent.
std::string UrlPart(CURLU* AUrl, CURLUPart APart, unsigned AFlags = 0);

// AURL parsed with any scheme allowed; an empty handle when curl refuses it.
TCurlUrl ParseUrl(const std::string& AURL);

}  // namespace qvr::rest::detail
