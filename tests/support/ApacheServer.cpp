// Apache httpd for the integrated-authentication tests; see ApacheServer.h.
#include "support/ApacheServer.h"

#include <grp.h>
#include <openssl/evp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "support/HttpTestServers.h"

namespace qvr::test {

namespace {

constexpr const char* kModules = "/usr/lib/apache2/modules";

std::string Md5Hex(const std::string& AText) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(AText.data(), AText.size(), digest, &size, EVP_md5(), nullptr);
  std::string hex;
  char byte[3];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof byte, "%02x", digest[i]);
    hex += byte;
  }
  return hex;
}

// The lines of a folder that asks for Negotiate with Kerberos.
std::string Negotiate(const std::string& AMore = {}) {
  return "  AuthType GSSAPI\n  AuthName \"qvr\"\n  GssapiAllowedMech krb5\n" + AMore +
         "  Require valid-user\n";
}

}  // namespace

std::optional<std::string> TApacheServer::Missing() {
  if (FindProgram("apache2").empty()) {
    return std::string(
        "apache2 is missing (Debian package apache2-bin, which "
        "scripts/install-deps installs): no test against a real web server");
  }
  for (const char* module : {"mod_auth_gssapi.so", "mod_auth_digest.so"}) {
    if (::access((std::string(kModules) + "/" + module).c_str(), R_OK) != 0) {
      return std::string(module) +
             " is missing (Debian packages libapache2-mod-auth-gssapi and apache2-bin)";
    }
  }
  return std::nullopt;
}

TApacheServer::TApacheServer(TKerberosRealm& ARealm, const std::string& ARedirectTarget)
    : FFolder(std::make_unique<TTempDir>()) {
  const std::string root = FFolder->Path();
  ::chmod(root.c_str(), 0755);
  static int servers = 0;
  FLogs = ARealm.SharedFolder("httpd-" + std::to_string(++servers));
  FDelegated = FLogs + "/delegated";
  ::mkdir(FDelegated.c_str(), 0777);
  ::chmod(FDelegated.c_str(), 0777);
  const std::string www = root + "/www";
  ::mkdir(www.c_str(), 0755);
  for (const char* folder :
       {"open", "negotiate", "negotiate-only", "digest", "ntlm", "delegation", "redirect"}) {
    const std::string path = www + "/" + folder;
    ::mkdir(path.c_str(), 0755);
    WriteFileBytes(path + "/hola.txt", kBody);
    ::chmod((path + "/hola.txt").c_str(), 0644);
  }
  const std::string digestUsers = root + "/digest.users";
  WriteFileBytes(digestUsers,
                 std::string(kDigestUser) + ":" + kDigestRealm + ":" +
                     Md5Hex(std::string(kDigestUser) + ":" + kDigestRealm + ":" + kDigestPassword) +
                     "\n");
  ::chmod(digestUsers.c_str(), 0644);
  FNtlmUsers = root + "/ntlm.users";
  WriteFileBytes(FNtlmUsers,
                 std::string(kNtlmDomain) + ":" + kNtlmUser + ":" + kNtlmPassword + "\n");
  ::chmod(FNtlmUsers.c_str(), 0644);

  std::string user;
  if (::geteuid() == 0) {
    // httpd refuses to serve as root; its children serve as nobody.
    const passwd* nobody = ::getpwnam("nobody");
    const group* group = nobody != nullptr ? ::getgrgid(nobody->pw_gid) : nullptr;
    user =
        "User nobody\nGroup " + std::string(group != nullptr ? group->gr_name : "nogroup") + "\n";
  }
  const std::string m = kModules;
  for (int attempt = 0; attempt < 5; ++attempt) {
    FPort = ClosedPort();
    const std::string config =
        "ServerRoot " + root + "\nDefaultRuntimeDir " + FLogs + "\nPidFile " + FLogs +
        "/httpd.pid\nListen 127.0.0.1:" + std::to_string(FPort) + "\nServerName 127.0.0.1\n" +
        user + "ErrorLog " + FLogs +
        "/error.log\nLogLevel info auth_gssapi:debug\nKeepAlive On\nTimeout 30\n"
        "LoadModule mpm_event_module " +
        m +
        "/mod_mpm_event.so\n"
        "LoadModule authz_core_module " +
        m +
        "/mod_authz_core.so\n"
        "LoadModule authz_user_module " +
        m +
        "/mod_authz_user.so\n"
        "LoadModule authn_core_module " +
        m +
        "/mod_authn_core.so\n"
        "LoadModule authn_file_module " +
        m +
        "/mod_authn_file.so\n"
        "LoadModule auth_digest_module " +
        m +
        "/mod_auth_digest.so\n"
        "LoadModule auth_gssapi_module " +
        m +
        "/mod_auth_gssapi.so\n"
        "LoadModule headers_module " +
        m +
        "/mod_headers.so\n"
        "LoadModule rewrite_module " +
        m +
        "/mod_rewrite.so\n"
        "StartServers 1\nServerLimit 2\nThreadsPerChild 8\nMaxRequestWorkers 16\n"
        "DocumentRoot " +
        www +
        "\n"
        "Header always set X-User \"expr=%{REMOTE_USER}\"\n"
        "<Directory " +
        www + "/negotiate>\n" + Negotiate("  GssapiBasicAuth On\n") +
        "</Directory>\n"
        "<Directory " +
        www + "/negotiate-only>\n" + Negotiate() +
        "</Directory>\n"
        "<Directory " +
        www + "/digest>\n  AuthType Digest\n  AuthName \"" + kDigestRealm +
        "\"\n  AuthDigestProvider file\n  AuthUserFile " + digestUsers +
        "\n  Require valid-user\n</Directory>\n"
        // NTLM takes two round trips on one connection.
        "<Directory " +
        www + "/ntlm>\n" + Negotiate("  GssapiAllowedMech ntlmssp\n  GssapiConnectionBound On\n") +
        "</Directory>\n"
        "<Directory " +
        www + "/delegation>\n" + Negotiate("  GssapiDelegCcacheDir " + FDelegated + "\n") +
        "  Header always set X-Delegated \"expr=%{reqenv:KRB5CCNAME}\"\n</Directory>\n"
        // A per-folder rewrite runs after authentication.
        "<Directory " +
        www + "/redirect>\n" + Negotiate() + "  RewriteEngine On\n  RewriteRule ^ " +
        ARedirectTarget + " [R=302,L]\n</Directory>\n";
    WriteFileBytes(root + "/httpd.conf", config);
    // The keytab through the environment: a credential store in the
    // configuration made mod_auth_gssapi fail on NTLM inside SPNEGO.
    if (FDaemon.Start(FindProgram("apache2"), {"-f", root + "/httpd.conf", "-DFOREGROUND"},
                      {"KRB5_KTNAME=FILE:" + ARealm.Keytab(), "NTLM_USER_FILE=" + FNtlmUsers},
                      root + "/httpd.out", FPort)) {
      return;
    }
  }
  throw std::runtime_error("httpd did not start:\n" + ReadFileBytes(root + "/httpd.out") +
                           ErrorLog());
}

TApacheServer::~TApacheServer() { FDaemon.Stop(); }

std::string TApacheServer::Url(const std::string& APath, const std::string& AHost) const {
  return "http://" + AHost + ":" + std::to_string(FPort) + APath;
}

std::string TApacheServer::ErrorLog() const { return ReadFileBytes(FLogs + "/error.log"); }

}  // namespace qvr::test
