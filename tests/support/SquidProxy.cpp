// Squid for the integrated-authentication tests; see SquidProxy.h.
#include "support/SquidProxy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "support/HttpTestServers.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace qvr::test {

namespace {

constexpr const char* kHelpers = "/usr/lib/squid";

}  // namespace

std::optional<std::string> TSquidProxy::Missing() {
  if (FindProgram("squid").empty()) {
    return std::string(
        "squid is missing (Debian package squid, which scripts/install-deps "
        "installs): no test through an authenticating proxy");
  }
  for (const char* helper :
       {"negotiate_kerberos_auth", "ntlm_fake_auth", "digest_file_auth", "basic_ncsa_auth"}) {
    if (::access((std::string(kHelpers) + "/" + helper).c_str(), X_OK) != 0) {
      return "the squid helper " + std::string(helper) + " is missing (Debian package squid)";
    }
  }
  if (FindProgram("openssl").empty()) return std::string("openssl is missing");
  return std::nullopt;
}

TSquidProxy::TSquidProxy(TKerberosRealm& ARealm) {
  static int proxies = 0;
  FFolder = ARealm.SharedFolder("squid-" + std::to_string(++proxies));
  const std::string digestUsers = FFolder + "/digest.users";
  WriteFileBytes(digestUsers, std::string(kUser) + ":" + kPassword + "\n");
  ::chmod(digestUsers.c_str(), 0644);
  TProgramOptions input;
  input.Input = kPassword;
  const TProgramResult hash =
      RunProgram(FindProgram("openssl"), {"passwd", "-apr1", "-stdin"}, input);
  if (hash.Status != 0) throw std::runtime_error("openssl passwd failed: " + hash.Err);
  const std::string basicUsers = FFolder + "/basic.users";
  WriteFileBytes(basicUsers, std::string(kUser) + ":" + hash.Out);
  ::chmod(basicUsers.c_str(), 0644);

  const std::string h = kHelpers;
  for (int attempt = 0; attempt < 5; ++attempt) {
    FPort = ClosedPort();
    const std::string config = "http_port 127.0.0.1:" + std::to_string(FPort) +
                               "\n"
                               "visible_hostname qvr-test-proxy\n"
                               "pid_filename " +
                               FFolder +
                               "/squid.pid\n"
                               "cache_log " +
                               FFolder +
                               "/cache.log\n"
                               "access_log stdio:" +
                               FFolder +
                               "/access.log\n"
                               "cache_store_log none\n"
                               "cache deny all\n"
                               "cache_mem 8 MB\n"
                               "coredump_dir " +
                               FFolder +
                               "\n"
                               "netdb_filename none\n"
                               "pinger_enable off\n"
                               "shutdown_lifetime 0 seconds\n"
                               "cache_effective_user nobody\n"
                               "dns_nameservers 127.0.0.1\n"
                               "auth_param negotiate program " +
                               h + "/negotiate_kerberos_auth -k " + ARealm.Keytab() +
                               " -s GSS_C_NO_NAME\n"
                               "auth_param negotiate children 2\n"
                               "auth_param ntlm program " +
                               h +
                               "/ntlm_fake_auth\n"
                               "auth_param ntlm children 2\n"
                               "auth_param digest program " +
                               h + "/digest_file_auth " + digestUsers +
                               "\n"
                               "auth_param digest children 2\n"
                               "auth_param digest realm qvr-proxy-digest\n"
                               "auth_param basic program " +
                               h + "/basic_ncsa_auth " + basicUsers +
                               "\n"
                               "auth_param basic children 2\n"
                               "auth_param basic realm qvr-proxy-basic\n"
                               "acl digest_only urlpath_regex /proxy-digest/\n"
                               "auth_schemes digest,basic digest_only\n"
                               "auth_schemes negotiate,ntlm,digest,basic all\n"
                               "acl authenticated proxy_auth REQUIRED\n"
                               "http_access allow authenticated\n"
                               "http_access deny all\n";
    WriteFileBytes(FFolder + "/squid.conf", config);
    if (FDaemon.Start(FindProgram("squid"), {"-N", "-f", FFolder + "/squid.conf"}, {},
                      FFolder + "/squid.out", FPort, std::chrono::seconds(30))) {
      return;
    }
  }
  throw std::runtime_error("squid did not start:\n" + ReadFileBytes(FFolder + "/squid.out") +
                           CacheLog());
}

TSquidProxy::~TSquidProxy() { FDaemon.Stop(); }

std::string TSquidProxy::AccessLog() const { return ReadFileBytes(FFolder + "/access.log"); }
std::string TSquidProxy::CacheLog() const { return ReadFileBytes(FFolder + "/cache.log"); }

}  // namespace qvr::test
