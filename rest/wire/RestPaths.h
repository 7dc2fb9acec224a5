// Where the server's remote calls and cached results live, and how a call's
// URL path is written and read: the default contexts ("rpc/", then "rest/"
// or "cache/"), the method path of a command text, and path segments encoded
// by the client and decoded by the server.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qvr::rest {

inline constexpr std::string_view kDefaultContext = "rpc/";
inline constexpr std::string_view kDefaultRESTContext = "rest/";
inline constexpr std::string_view kDefaultCacheContext = "cache/";

// The Accept values of a remote call: the result itself, or (cache mode) the
// item path under which the server keeps it.
inline constexpr std::string_view kResultAccept = "application/JSON";
inline constexpr std::string_view kCacheModeAccept = "application/rest";

// AText as UTF-8 bytes with every byte below 0x21 or above 0x7E, and every one
// of # % . / : ? \ ^ ` { | }, written as "%" and two upper-case hexadecimal
// digits. With AKeepDot the full stop is copied (the rule for host names);
// without it, it is encoded too (the rule for URL path segments). A percent
// sign is always encoded.
std::string PercentEncode(std::string_view AText, bool AKeepDot);

// The text of a path segment as PercentEncode wrote it: "%" and two
// hexadecimal digits stand for a byte; everything else, "+" included, for
// itself. A "%" without two digits after it stays as it is.
std::string DecodeSegment(std::string_view ARaw);

// The decoded segments of a raw path, split at "/"; the empty text after a
// final "/" is not a segment (the client ends every segment with one).
std::vector<std::string> SplitSegments(std::string_view ARawPath);

// The path of a command text ("Class.Method"): its first "." turned into "/"
// and every double quote into "%22"; nothing else is encoded.
std::string MethodPath(std::string_view ACommandText);

}  // namespace qvr::rest
