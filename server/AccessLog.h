// One line on standard error per request: UTC time, client address, verb,
// path without the query, status and time taken. Texts from the client are
// cut and reduced to printable ASCII, so that no request can forge a line.
#pragma once

#include <string>
#include <string_view>

#include "server/HttpMessage.h"

namespace qvr::server {

// Printable ASCII of AText ("?" for anything else), cut to 300 characters.
std::string LogText(std::string_view AText);

// Writes the line of a request that ended with AStatus.
void LogRequest(const TRequestContext& AContext, std::string_view AMethod, std::string_view APath,
                int AStatus);

}  // namespace qvr::server
