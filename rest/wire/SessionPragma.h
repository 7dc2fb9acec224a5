// The session id on the wire: the server names it in the answer's Pragma
// header ("sessionid=" followed by the id, ended by "," or the end of the
// header) and the client sends it back the same way with every later request.
#pragma once

#include <string>
#include <string_view>

namespace qvr::rest {

// The session id that a Pragma value carries: the text after "sessionid="
// (exact case, anywhere in the value) up to, not including, the first ",";
// empty when the value holds no "sessionid=".
std::string SessionIDFromPragma(std::string_view APragma);

// The Pragma value that carries ASessionID.
std::string SessionPragma(std::string_view ASessionID);

}  // namespace qvr::rest
