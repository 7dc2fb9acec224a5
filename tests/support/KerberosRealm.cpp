// A private Kerberos realm for the tests; see KerberosRealm.h.
#include "support/KerberosRealm.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "support/HttpTestServers.h"
#include "support/ProgramRun.h"

namespace qvr::test {

namespace {

std::string Program(const std::string& AName) {
  const std::string path = FindProgram(AName);
  if (path.empty()) throw std::runtime_error(AName + " is not installed");
  return path;
}

}  // namespace

std::optional<std::string> TKerberosRealm::Missing() {
  const std::pair<const char*, const char*> kPrograms[] = {{"krb5kdc", "krb5-kdc"},
                                                           {"kdb5_util", "krb5-kdc"},
                                                           {"kadmin.local", "krb5-admin-server"},
                                                           {"kinit", "krb5-user"},
                                                           {"kdestroy", "krb5-user"}};
  for (const auto& [program, package] : kPrograms) {
    if (FindProgram(program).empty()) {
      return std::string(program) + " is missing (Debian package " + package +
             ", which scripts/install-deps installs): no Kerberos test realm";
    }
  }
  return std::nullopt;
}

TKerberosRealm::TKerberosRealm() : FFolder(std::make_unique<TTempDir>()) {
  // Daemons that start as root and drop to nobody read from here.
  ::chmod(Folder().c_str(), 0755);
  const std::string folder = Folder();
  const auto set = [&](const char* AName, std::optional<std::string> AValue) {
    FEnvironment.push_back(std::make_unique<TScopedEnv>(AName, AValue));
  };
  set("NTLM_USER_FILE", std::nullopt);
  set("KRB5_CONFIG", ConfigFile());
  set("KRB5_KDC_PROFILE", FFolder->File("kdc.conf"));
  set("KRB5CCNAME", CredentialCache());
  set("KRB5_KTNAME", std::nullopt);
  set("KRB5_CLIENT_KTNAME", std::nullopt);
  set("KRB5RCACHEDIR", SharedFolder("rcache"));
  set("KRB5_TRACE", std::nullopt);

  for (int attempt = 0; attempt < 5; ++attempt) {
    FPort = ClosedPort();
    const std::string port = std::to_string(FPort);
    const std::string realm = kRealm;
    const std::string database = "    database_name = " + folder + "/principal\n" +
                                 "    key_stash_file = " + folder + "/stash\n" +
                                 "    acl_file = " + folder + "/kadm5.acl\n";
    // TCP only, on loopback only; no look-up of names or realms in DNS, so
    // that the service asked for is the URL's host as written.
    WriteFileBytes(ConfigFile(),
                   "[libdefaults]\n"
                   "  default_realm = " +
                       realm +
                       "\n"
                       "  dns_lookup_kdc = false\n"
                       "  dns_lookup_realm = false\n"
                       "  rdns = false\n"
                       "  dns_canonicalize_hostname = false\n"
                       "  udp_preference_limit = 1\n"
                       "  forwardable = true\n"
                       "[realms]\n  " +
                       realm +
                       " = {\n"
                       "    kdc = 127.0.0.1:" +
                       port + "\n" + database + "  }\n");
    WriteFileBytes(FFolder->File("kdc.conf"),
                   "[kdcdefaults]\n"
                   "  kdc_listen = 127.0.0.1:" +
                       port +
                       "\n"
                       "  kdc_tcp_listen = 127.0.0.1:" +
                       port +
                       "\n"
                       "[realms]\n  " +
                       realm + " = {\n" + database +
                       "  }\n"
                       "[logging]\n"
                       "  kdc = FILE:" +
                       folder + "/kdc.log\n");
    if (attempt == 0) {
      Run(Program("kdb5_util"), {"create", "-s", "-r", realm, "-P", "clave-maestra-de-prueba"});
      AddPrincipal(kUser, kPassword);
      AddPrincipal("HTTP/localhost", "");
      AddPrincipal("HTTP/127.0.0.1", "");
      // Only this service may receive a delegated ticket.
      Run(Program("kadmin.local"), {"-q", "modprinc +ok_as_delegate HTTP/localhost"});
      ExportKeytab(Keytab(), {"HTTP/localhost", "HTTP/127.0.0.1"});
    }
    if (FKdc.Start(Program("krb5kdc"), {"-n"}, {}, FFolder->File("kdc.out"), FPort)) return;
  }
  throw std::runtime_error("krb5kdc did not start:\n" + ReadFileBytes(FFolder->File("kdc.out")) +
                           ReadFileBytes(FFolder->File("kdc.log")));
}

TKerberosRealm::~TKerberosRealm() { FKdc.Stop(); }

std::string TKerberosRealm::SharedFolder(const std::string& AName) const {
  const std::string path = FFolder->File(AName);
  ::mkdir(path.c_str(), 0777);
  // Sticky, as /tmp: each user removes only its own files.
  ::chmod(path.c_str(), 01777);
  return path;
}

void TKerberosRealm::AddPrincipal(const std::string& AName, const std::string& APassword) {
  const std::string query =
      APassword.empty() ? "addprinc -randkey " + AName : "addprinc -pw " + APassword + " " + AName;
  Run(Program("kadmin.local"), {"-q", query});
}

void TKerberosRealm::ExportKeytab(const std::string& AFile,
                                  const std::vector<std::string>& APrincipals) {
  // The keys as they are: a new random key would outdate every keytab
  // exported before.
  std::string query = "ktadd -norandkey -k " + AFile;
  for (const std::string& principal : APrincipals) query += " " + principal;
  Run(Program("kadmin.local"), {"-q", query});
  // A daemon that drops root to nobody reads it.
  ::chmod(AFile.c_str(), 0644);
}

void TKerberosRealm::Kinit(const std::string& AUser, const std::string& APassword) {
  Run(Program("kinit"), {"-f", AUser}, APassword + "\n");
}

void TKerberosRealm::Kdestroy() {
  const std::string path = FFolder->File("ccache");
  ::unlink(path.c_str());
}

std::string TKerberosRealm::Run(const std::string& AProgram, const std::vector<std::string>& AArgs,
                                const std::string& AInput) {
  TProgramOptions options;
  options.Input = AInput;
  options.Limit = std::chrono::milliseconds(30000);
  const TProgramResult result = RunProgram(AProgram, AArgs, options);
  if (result.Status != 0) {
    std::string line = AProgram;
    for (const std::string& arg : AArgs) line += " " + arg;
    throw std::runtime_error(line + " failed (" + std::to_string(result.Status) + "):\n" +
                             result.Out + result.Err);
  }
  return result.Out;
}

}  // namespace qvr::test
