// The one place where libcurl's result codes get their meaning: how an
// attempt ended in the HTTP layer's terms, and the exceptions and messages of
// refused options and failed transfers. The attempt loop reaches the raising
// of a failed attempt through detail/Transfer.h, which names no curl type.
// Used only by the HTTP object's .cpp files.
#pragma once

#include "rest/http/detail/LazyLibs.h"
#include "rest/http/detail/Transfer.h"

namespace qvr::rest::detail {

// What the HTTP object was doing when curl refused an option.
enum class TCurlOptionKind { Request, Header, Timeout };

// Raises the failure for a refused option: "Error adding header: (%d) %s",
// "Error setting timeout for the request: (%d) %s" or "Error opening request:
// (%d) %s" (all ENetHTTPRequestException). Does nothing for CURLE_OK.
void CheckOption(CURLcode ACode, TCurlOptionKind AKind);

// How the attempt ASetup described ended, from what the transfer recorded in
// AResult (curl's result code first).
TTransferOutcome TransferOutcome(const TAttemptSetup& ASetup, const TAttemptResult& AResult);

}  // namespace qvr::rest::detail
