// Negotiate (SPNEGO with Kerberos) on the server side, through GSS-API: the
// service's keys come from a keytab (--kerberos-keytab), and one token of a
// request's "Authorization: Negotiate ..." is accepted, or not, in one round
// trip. Only Kerberos is taken: NTLM inside SPNEGO, which the platform may
// also offer, would need several round trips on one connection and a
// password database of its own. The accepted token's answer (mutual
// authentication) goes back in WWW-Authenticate. Calls may block on the
// keytab and the replay cache, so they run where admission runs, on the
// worker threads; one acceptor serves them all at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/SysUtils.h"

namespace qvr::server {

class TNegotiateAcceptor {
 public:
  // What one token gave.
  struct TResult {
    bool Accepted = false;
    // The client's principal as GSS-API shows it ("ana@QVR.TEST").
    std::string Client;
    // The realm of the service principal the ticket was for: the server's own.
    std::string ServiceRealm;
    // The answer to send back (base64), for "WWW-Authenticate: Negotiate ...";
    // may be empty.
    std::string Token;
    // Why the token was refused, for the 401's message.
    std::string Error;
  };

  // Takes the service keys from the keytab AKeytab for the principal
  // APrincipal ("HTTP/qvr.example.com@EXAMPLE.COM"; empty: any principal of
  // the keytab, held to the host name each request names). Raises Exception
  // "Cannot use the Kerberos keytab <file>: <reason>" when there are no keys
  // to accept with.
  TNegotiateAcceptor(const std::string& AKeytab, const std::string& APrincipal);
  ~TNegotiateAcceptor();
  TNegotiateAcceptor(const TNegotiateAcceptor&) = delete;
  TNegotiateAcceptor& operator=(const TNegotiateAcceptor&) = delete;

  // Accepts the base64 token AToken of a request that names the host AHost
  // (its Host without the port). Without a principal of its own the ticket
  // must be for HTTP/AHost: the service is the host as the client wrote it
  // in its URL, never one found by a reverse look-up. Delegated credentials
  // are never kept.
  TResult Accept(std::string_view AToken, const std::string& AHost) const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace qvr::server
