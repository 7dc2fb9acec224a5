// Apache httpd as the tests' real web server for integrated authentication:
// Debian's apache2 binary in the foreground on a free port of 127.0.0.1,
// from a configuration of its own, serving a small file under each of these
// folders (every answer names the authenticated user in X-User):
//   /open/            no authentication
//   /negotiate/       Negotiate (Kerberos, mod_auth_gssapi), then Basic
//                     checked against the realm
//   /negotiate-only/  Negotiate (Kerberos) alone
//   /digest/          Digest (mod_auth_digest, MD5), realm kDigestRealm
//   /ntlm/            Negotiate with Kerberos or NTLM inside SPNEGO
//                     (gss-ntlmssp, the users of NtlmUserFile())
//   /delegation/      Negotiate, keeping delegated credentials in
//                     DelegationFolder() (X-Delegated names the cache)
//   /redirect/        Negotiate, then a 302 to the target given
// Its keytab is the realm's. Started as root it serves as nobody.
//
//   if (auto missing = TApacheServer::Missing()) GTEST_SKIP() << *missing;
//   TApacheServer httpd(realm, "http://localhost:8081/elsewhere");
//   http.Get(httpd.Url("/negotiate/hola.txt"), body);
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/Daemon.h"
#include "support/KerberosRealm.h"
#include "support/TempDir.h"

namespace qvr::test {

class TApacheServer {
 public:
  static constexpr const char* kDigestRealm = "qvr-digest";
  static constexpr const char* kDigestUser = "ana";
  static constexpr const char* kDigestPassword = "clave-digest";
  // What each folder's file holds.
  static constexpr const char* kBody = "hola\n";

  // Why the server cannot run here (apache2-bin or a module missing), or
  // nothing.
  static std::optional<std::string> Missing();

  // Starts httpd (at most 20 s) with the realm's keytab; /redirect/ sends
  // an authenticated client to ARedirectTarget. Raises std::runtime_error
  // when it does not start.
  TApacheServer(TKerberosRealm& ARealm, const std::string& ARedirectTarget);
  ~TApacheServer();
  TApacheServer(const TApacheServer&) = delete;
  TApacheServer& operator=(const TApacheServer&) = delete;

  int Port() const { return FPort; }
  // "http://" AHost ":" port APath.
  std::string Url(const std::string& APath, const std::string& AHost = "127.0.0.1") const;
  // The users file of NTLM inside SPNEGO ("DOMAIN:user:password" lines); a
  // client that sets NTLM_USER_FILE to it has those NTLM credentials.
  std::string NtlmUserFile() const { return FNtlmUsers; }
  static constexpr const char* kNtlmDomain = "QVR";
  static constexpr const char* kNtlmUser = "ana";
  static constexpr const char* kNtlmPassword = "clave-ntlm";
  std::string DelegationFolder() const { return FDelegated; }
  std::string ErrorLog() const;

 private:
  std::unique_ptr<TTempDir> FFolder;
  std::string FLogs;
  std::string FDelegated;
  std::string FNtlmUsers;
  TDaemon FDaemon;
  int FPort = 0;
};

}  // namespace qvr::test
