// The one place where libcurl's result codes become the HTTP layer's
// exceptions and messages. Used only by the HTTP object's .cpp files.
#pragma once

#include "rest/http/detail/LazyLibs.h"

#include <string>

namespace qvr::rest::detail {

// What the HTTP object was doing when curl refused an option.
enum class TCurlOptionKind { Request, Header, Timeout };

// Raises the failure for a refused option: "Error adding header: (%d) %s",
// "Error setting timeout for the request: (%d) %s" or "Error opening request:
// (%d) %s" (all ENetHTTPRequestException). Does nothing for CURLE_OK.
void CheckOption(CURLcode ACode, TCurlOptionKind AKind);

// Raises the failure of a transfer that ended with ACode; AText is curl's
// detailed text (may be empty: curl's general text for the code is used).
// AReceiving tells a time-out while waiting for the answer from one while
// connecting or sending.
[[noreturn]] void RaiseTransferError(CURLcode ACode, const std::string& AText, bool AReceiving);

// Raises the failure for a URL that curl's parser refused: "Error connecting
// to server: %s" (with AHost) for a missing or invalid host, else "Error
// opening request: (%d) %s" (both ENetHTTPRequestException).
[[noreturn]] void RaiseUrlError(CURLUcode ACode, const std::string& AHost);

// The text that fills "(%d) %s": the detailed text when there is one.
std::string CurlErrorText(CURLcode ACode, const std::string& AText);

}  // namespace qvr::rest::detail
