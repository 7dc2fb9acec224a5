// A private Kerberos realm on loopback for the single sign-on tests: MIT's
// KDC (krb5kdc) in the foreground on a free port of 127.0.0.1, a database in
// a temporary folder, the user "ana" with a password, service principals for
// HTTP/localhost (trusted for delegation) and HTTP/127.0.0.1 in one keytab,
// and a ticket cache of the test's own. For its life the test process (and
// every program it starts) sees only this realm: KRB5_CONFIG,
// KRB5_KDC_PROFILE and KRB5CCNAME point into its folder, NTLM_USER_FILE is
// unset (NTLM inside SPNEGO would otherwise answer where Kerberos failed),
// and names are never canonicalised through DNS, so the service a client
// asks for is HTTP/ and the host as its URL writes it.
//
//   if (auto missing = TKerberosRealm::Missing()) GTEST_SKIP() << *missing;
//   TKerberosRealm realm;
//   realm.Kinit();                       // a ticket for ana@QVR.TEST
//   ... Negotiate to a server whose keytab is realm.Keytab() ...
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/Daemon.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace qvr::test {

class TKerberosRealm {
 public:
  static constexpr const char* kRealm = "QVR.TEST";
  static constexpr const char* kUser = "ana";
  static constexpr const char* kPassword = "secreto-de-ana";

  // Why the realm cannot be made on this machine (a program of krb5-kdc,
  // krb5-admin-server or krb5-user missing), or nothing.
  static std::optional<std::string> Missing();

  // Creates the realm and starts its KDC. Raises std::runtime_error when a
  // step fails.
  TKerberosRealm();
  ~TKerberosRealm();
  TKerberosRealm(const TKerberosRealm&) = delete;
  TKerberosRealm& operator=(const TKerberosRealm&) = delete;

  // The realm's folder, readable by every user (a daemon that drops root
  // reads its configuration and keytab from there).
  const std::string& Folder() const { return FFolder->Path(); }
  // A new folder in it that every user may write (a daemon's logs).
  std::string SharedFolder(const std::string& AName) const;
  std::string Keytab() const { return FFolder->File("http.keytab"); }
  std::string ConfigFile() const { return FFolder->File("krb5.conf"); }
  // The test's ticket cache ("FILE:<path>"), empty until Kinit.
  std::string CredentialCache() const { return "FILE:" + FFolder->File("ccache"); }

  // Adds the principal AName with APassword (empty: a random key).
  void AddPrincipal(const std::string& AName, const std::string& APassword);
  // Writes the keys of APrincipals into a new keytab AFile.
  void ExportKeytab(const std::string& AFile, const std::vector<std::string>& APrincipals);
  // Gets a forwardable ticket-granting ticket for AUser into the test's
  // cache. Raises std::runtime_error when kinit fails.
  void Kinit(const std::string& AUser = kUser, const std::string& APassword = kPassword);
  // Empties the test's cache: no ticket.
  void Kdestroy();

 private:
  // Runs AProgram with AArgs and AInput on standard input; raises with its
  // output when it fails.
  std::string Run(const std::string& AProgram, const std::vector<std::string>& AArgs,
                  const std::string& AInput = {});

  std::unique_ptr<TTempDir> FFolder;
  std::vector<std::unique_ptr<TScopedEnv>> FEnvironment;
  TDaemon FKdc;
  int FPort = 0;
};

}  // namespace qvr::test
