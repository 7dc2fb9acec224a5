// The answers the server gives: JSON bodies with the fields every answer
// carries (its content type, and, since answers hold personal data,
// Cache-Control: no-store and X-Content-Type-Options: nosniff), refusals
// with their "error" (or "SessionExpired") member, and the reason phrase of
// each status.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "server/HttpMessage.h"

namespace qvr::server {

inline constexpr const char* kJSONContentType = "application/json; charset=UTF-8";

// A 200 answer with ABody (JSON text).
THttpAnswer JSONAnswer(std::shared_ptr<const std::string> ABody, int AStatus = 200);
// AStatus with {"<AMember>":"<AMessage>"}; AMember "error" unless given.
THttpAnswer ErrorAnswer(int AStatus, const std::string& AMessage,
                        std::string_view AMember = "error");
// The reason phrase of AStatus ("OK", "Bad Request", ...).
const char* ReasonPhrase(int AStatus);

}  // namespace qvr::server
