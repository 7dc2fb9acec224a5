// The settings a REST connection keeps for its HTTP object, as one value: the
// connection holds a copy, creates each new HTTP object from it, and the HTTP
// object applies and reports it (TRestHTTP::ApplyHTTPSettings, HTTPSettings).
// Keeping them together means a new setting is added in one place rather than
// in every path that copies settings.
#pragma once

#include <cstdint>
#include <string>

#include "rest/http/HTTPTypes.h"

namespace qvr::rest {

// The defaults are those of a new REST connection. An HTTP object made on
// its own reports an empty Connection and proxy port 0 instead.
struct THTTPSettings {
  // Value of the header-set entry "Connection"; empty means no entry.
  std::string Connection = "Keep-Alive";
  // The proxy information; its scheme is the connection's Protocol, which is
  // not an HTTP setting.
  std::string ProxyHost;
  std::int32_t ProxyPort = 8888;
  std::string ProxyUsername;
  std::string ProxyPassword;
  THTTPSecureProtocols SecureProtocols;
  // Milliseconds.
  std::int32_t ConnectTimeout = 60000;
  std::int32_t ReadTimeout = 60000;
  // The schemes besides Basic that a 401 or 407 is answered with: Negotiate
  // with the user's Kerberos tickets, NTLM and Digest with a user name and
  // password. Empty turns integrated authentication off (Basic only).
  THTTPAuthSchemes IntegratedAuthentication = kIntegratedAuthSchemes;
  // Whether Negotiate may delegate the user's credentials (none by default).
  THTTPDelegation DelegateCredentials = THTTPDelegation::None;
  TValidateCertificateEvent OnValidateCertificate;
  TValidatePeerCertificateEvent OnValidatePeerCertificate;
  TValidatePeerCertificateErrEvent OnValidatePeerCertificateErr;
  TAuthEvent OnAuthentication;
  TSelectClientCertificateEvent OnSelectClientCertificate;
};

}  // namespace qvr::rest
