// Squid as the tests' real proxy for integrated authentication: Debian's
// squid in the foreground (-N) on a free port of 127.0.0.1, from a
// configuration of its own, answering every request without credentials
// with a 407 that offers Negotiate (Kerberos, with the realm's keytab), NTLM
// (a helper that takes any pair), Digest and Basic (the pair kUser and
// kPassword); a request whose path holds /proxy-digest/ is offered Digest
// and Basic only. It forwards to any port of 127.0.0.1 and caches nothing.
// Started as root it serves as nobody.
//
//   if (auto missing = TSquidProxy::Missing()) GTEST_SKIP() << *missing;
//   TSquidProxy squid(realm);
//   http.ProxyConnectionInfo().SetHost("127.0.0.1"); ...SetPort(squid.Port());
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/Daemon.h"
#include "support/KerberosRealm.h"

namespace qvr::test {

class TSquidProxy {
 public:
  static constexpr const char* kUser = "ana";
  static constexpr const char* kPassword = "clave-proxy";

  // Why the proxy cannot run here (squid or a helper missing), or nothing.
  static std::optional<std::string> Missing();

  // Starts squid (at most 30 s). Raises std::runtime_error when it does not
  // start.
  explicit TSquidProxy(TKerberosRealm& ARealm);
  ~TSquidProxy();
  TSquidProxy(const TSquidProxy&) = delete;
  TSquidProxy& operator=(const TSquidProxy&) = delete;

  int Port() const { return FPort; }
  // The proxy's log of requests: a line per request with the user name it
  // authenticated ("-" for none).
  std::string AccessLog() const;
  std::string CacheLog() const;

 private:
  std::string FFolder;
  TDaemon FDaemon;
  int FPort = 0;
};

}  // namespace qvr::test
