// The parts of the HTTP object's vocabulary that are not inline; see
// HTTPTypes.h.
#include "rest/http/HTTPTypes.h"

namespace qvr::rest {

std::string THTTPAuthSchemes::Text() const {
  std::string text;
  for (auto scheme : {THTTPAuthScheme::Negotiate, THTTPAuthScheme::NTLM, THTTPAuthScheme::Passport,
                      THTTPAuthScheme::Digest, THTTPAuthScheme::Basic}) {
    if (!Contains(scheme)) continue;
    if (!text.empty()) text += ", ";
    text += AuthSchemeName(scheme);
  }
  return text.empty() ? std::string("none") : text;
}

}  // namespace qvr::rest
