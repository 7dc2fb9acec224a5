// URLs as the HTTP object reads them, in strings: the origin (scheme, host
// and port) that credentials are bound to, and a redirect target resolved
// against the request URL. The parser behind them is curl's (detail/CurlUrl),
// which this header keeps out of sight, so that its users need no curl names.
// Used only by the HTTP object's .cpp files.
#pragma once

#include <string>

namespace qvr::rest::detail {

// Scheme, host and port of AURL (the scheme's default port when absent), in
// lower case; empty when AURL cannot be parsed.
std::string OriginOf(const std::string& AURL);

// Location resolved against the request URL; the request's fragment is kept
// when Location has none. Empty when the result is no valid URL.
std::string ResolveLocation(const std::string& ABase, const std::string& ALocation);

}  // namespace qvr::rest::detail
