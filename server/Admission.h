// Whether a request may be served, decided before its body is read: the Host
// it names must be this server (a page of another site reached through
// DNS rebinding names its own host, 421), a browser's Origin must be the
// server's own (403), the caller must be a user of the database or,
// with --anonymous, no one (401, with the challenge), and the session it
// names must be live and its own (403). The caller proves who it is with
// Basic, or with Negotiate (a Kerberos ticket) when the server has a keytab
// (--kerberos-keytab). Admission fills the request's context with the user
// and the session, and with the fields every answer to the request carries
// (Negotiate's mutual authentication).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/AttendanceStore.h"
#include "server/HttpMessage.h"
#include "server/NegotiateAcceptor.h"
#include "server/Sessions.h"

namespace qvr::server {

struct TAdmissionRules {
  // The address the server listens on and the port it got.
  std::string ListenHost;
  int Port = 0;
  bool Tls = false;
  // Host names (besides IP addresses and "localhost") that clients may
  // reach the server by (--allow-host).
  std::vector<std::string> AllowedHosts;
  bool Anonymous = false;
  // The keytab that turns Negotiate on (empty: Basic only), and the service
  // principal to accept with (empty: the keytab's HTTP/<host> for the host
  // a request names).
  std::string KerberosKeytab;
  std::string KerberosPrincipal;
};

class TAdmission {
 public:
  // Raises Exception "Cannot use the Kerberos keytab ..." when the rules name
  // a keytab without keys to accept with.
  TAdmission(TAdmissionRules ARules, TAttendanceStore& AStore, TSessionStore& ASessions);

  // The checks that need neither the database nor the sessions (Host and
  // Origin); the answer to give when the request is refused.
  std::optional<THttpAnswer> CheckOrigin(const THttpRequest& ARequest) const;
  // Authentication and the session; may wait for the database. The answer
  // to give when refused; otherwise AContext holds the user and the session.
  std::optional<THttpAnswer> Admit(const THttpRequest& ARequest, TRequestContext& AContext);
  // Admission from memory alone, for a request the front may answer on its
  // I/O thread: true, with AContext filled, when the caller needs no
  // database (no credentials under --anonymous, or a password verified a
  // moment ago) and names a live session of its own or none; false when
  // Admit must decide (on a worker thread), refusals included.
  bool AdmitFromMemory(const THttpRequest& ARequest, TRequestContext& AContext);

  const TAdmissionRules& Rules() const { return FRules; }

 private:
  // The user and password of the request's Basic credentials (empty for
  // none); false for credentials that are not Basic or have no colon.
  static bool Credentials(const THttpRequest& ARequest, std::string& AUser, std::string& APassword);
  bool HostAllowed(const std::string& AHost) const;
  std::optional<THttpAnswer> Authenticate(const THttpRequest& ARequest, TRequestContext& AContext);
  std::optional<THttpAnswer> OpenSession(const THttpRequest& ARequest, TRequestContext& AContext);
  // The user that the Negotiate token AToken proves; on success AContext
  // also gets the token to send back.
  std::optional<THttpAnswer> AcceptNegotiate(const THttpRequest& ARequest, std::string_view AToken,
                                             std::string& AUser, TRequestContext& AContext);
  // A 401 with the schemes the server takes: Negotiate (with a keytab), then
  // Basic.
  THttpAnswer Challenge(const std::string& AMessage) const;

  const TAdmissionRules FRules;
  TAttendanceStore& FStore;
  TSessionStore& FSessions;
  std::unique_ptr<TNegotiateAcceptor> FNegotiate;
};

}  // namespace qvr::server
