// qvr-server's own Negotiate (--kerberos-keytab) with the core as its client
// and with the qvr program: a private Kerberos realm on loopback, the real
// server program, tickets of the test's users. Which principal becomes which
// user, what the server's 401 offers, the service principal held to the
// host the client names, the mutual-authentication token, and a keytab that
// cannot be used.
#include <gtest/gtest.h>

#include <filesystem>

#include "rest/RestConnection.h"
#include "rest/RestExceptions.h"
#include "server/DatabaseReader.h"
#include "server/ServerCalls.h"
#include "support/KerberosRealm.h"
#include "support/ProgramRun.h"
#include "support/ServerProcess.h"
#include "tools/qvr/QvrRun.h"

namespace qvr::test {
namespace {

using rest::THTTPAuthScheme;
using rest::TRestProtocolException;

// Realm users: ana is a server user by her full name, luis by his short one
// (the server's own realm), eva is no user of the server.
class ServerNegotiateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (TKerberosRealm::Missing()) return;
    Realm = std::make_unique<TKerberosRealm>();
    Realm->AddPrincipal("luis", "clave-de-luis");
    Realm->AddPrincipal("eva", "clave-de-eva");
    // A keytab with the key of one service name alone.
    Realm->ExportKeytab(Realm->Folder() + "/only-127.keytab", {"HTTP/127.0.0.1"});
  }
  static void TearDownTestSuite() { Realm.reset(); }

  void SetUp() override {
    if (auto missing = TKerberosRealm::Missing()) GTEST_SKIP() << *missing;
    Realm->Kdestroy();
  }

  // A qvr-server with the users ana@QVR.TEST and luis, and AArgs.
  std::unique_ptr<TServerProcess> StartServer(std::vector<std::string> AArgs = {}) {
    AArgs.insert(AArgs.begin(), {"--kerberos-keytab", Realm->Keytab(), "--seed-employees", "5"});
    auto server = std::make_unique<TServerProcess>(AArgs, Data.Path());
    // Added while it runs (the first start made the database).
    for (const char* user : {"ana@QVR.TEST", "luis"}) {
      const std::string passwordFile = Data.File("password");
      WriteFileBytes(passwordFile, "no-la-usa\n");
      const TProgramResult added =
          RunProgram(TServerProcess::ExecutablePath(),
                     {"user", "add", user, "--data", Data.Path(), "--password-file", passwordFile});
      EXPECT_TRUE(added.Status == 0 || added.Err.find("exists") != std::string::npos) << added.Err;
    }
    return server;
  }

  // The status of EchoString through a connection without a user name to
  // AHost; AMessage gets the refusal's message.
  int Echo(TServerProcess& AServer, const std::string& AHost = "127.0.0.1",
           std::string* AMessage = nullptr) {
    TServerClient client(AServer.Port(), "");
    client.Connection().SetHost(AHost);
    try {
      EXPECT_EQ(StringOf(client.Result(calls::EchoString("hola")).get()), "hola");
      EXPECT_EQ(client.Connection().HTTP().Response().AuthScheme(), THTTPAuthScheme::Negotiate);
      return 200;
    } catch (const TRestProtocolException& AError) {
      if (AMessage != nullptr) *AMessage = AError.Message();
      return AError.Status();
    }
  }

  static std::unique_ptr<TKerberosRealm> Realm;
  TTempDir Data;
};
std::unique_ptr<TKerberosRealm> ServerNegotiateTest::Realm;

TEST_F(ServerNegotiateTest, ATicketSignsOnAndTheUploadIsTheUsers) {
  auto server = StartServer();
  const struct {
    const char* Principal;
    const char* Password;
    const char* User;
  } kCases[] = {
      // user@REALM is the user named so; in the server's realm also the
      // user without it.
      {"ana", TKerberosRealm::kPassword, "ana@QVR.TEST"},
      {"luis", "clave-de-luis", "luis"},
  };
  for (const auto& row : kCases) {
    Realm->Kinit(row.Principal, row.Password);
    TServerClient client(server->Port(), "");
    const auto list = AttendanceList(1, 3, 1);
    const std::string archivo = std::string("reloj de ") + row.Principal;
    const auto stored = client.Result(calls::SubirAsistencia(archivo, MarshalList(*list)));
    ASSERT_TRUE(stored) << row.Principal;
    const rest::THTTPResponse& response = client.Connection().HTTP().Response();
    EXPECT_EQ(response.AuthScheme(), THTTPAuthScheme::Negotiate) << row.Principal;
    // The server proves itself with a token of its own.
    EXPECT_TRUE(response.HeaderValue("WWW-Authenticate").starts_with("Negotiate "))
        << row.Principal;
    TDatabaseReader db(server->DatabasePath());
    EXPECT_EQ(db.One("SELECT DISTINCT usuario FROM asistencia WHERE archivo = '" + archivo + "'"),
              row.User);
  }
}

TEST_F(ServerNegotiateTest, TheChallengeOffersNegotiateThenBasic) {
  auto server = StartServer();
  rest::TRestHTTP http;
  TMemoryStream body;
  EXPECT_THROW(http.Get(server->Origin() + "/rpc/rest/TQVRServerMethods/EchoString/x", body),
               rest::EHTTPProtocolException);
  std::vector<std::string> challenges;
  for (const auto& [name, value] : http.Response().Headers()) {
    if (name == "WWW-Authenticate") challenges.push_back(value);
  }
  EXPECT_EQ(challenges, (std::vector<std::string>{"Negotiate", "Basic realm=\"qvr-server\""}));
  // Basic still answers for the users with a password.
  TServerClient kiosco(server->Port(), "kiosco");
  EXPECT_EQ(StringOf(kiosco.Result(calls::EchoString("hola")).get()), "hola");
}

TEST_F(ServerNegotiateTest, RefusalsSayWhy) {
  auto server = StartServer();
  std::string message;
  EXPECT_EQ(Echo(*server, "127.0.0.1", &message), 401);
  EXPECT_NE(message.find("(offered: Negotiate, Basic; tried: Negotiate)"), std::string::npos)
      << message;
  Realm->Kinit("eva", "clave-de-eva");
  EXPECT_EQ(Echo(*server, "127.0.0.1", &message), 401);
  EXPECT_NE(message.find("The user eva@QVR.TEST is not allowed"), std::string::npos) << message;
}

TEST_F(ServerNegotiateTest, TheServiceIsTheHostTheClientNames) {
  Realm->Kinit();
  const struct {
    const char* Name;
    std::vector<std::string> Args;
    const char* Host;
    int Status;
  } kCases[] = {
      {"any key of the keytab, by address", {}, "127.0.0.1", 200},
      {"any key of the keytab, by name", {}, "localhost", 200},
      {"one principal, its host",
       {"--kerberos-principal", "HTTP/127.0.0.1@QVR.TEST"},
       "127.0.0.1",
       200},
      {"one principal, another host",
       {"--kerberos-principal", "HTTP/127.0.0.1@QVR.TEST"},
       "localhost",
       401},
  };
  for (const auto& row : kCases) {
    auto server = StartServer(row.Args);
    EXPECT_EQ(Echo(*server, row.Host), row.Status) << row.Name;
  }
  // A keytab without the key of the name the client uses.
  TServerProcess only({"--kerberos-keytab", Realm->Folder() + "/only-127.keytab"});
  std::string message;
  EXPECT_EQ(Echo(only, "localhost", &message), 401);
  EXPECT_NE(message.find("(offered: Negotiate, Basic; tried: Negotiate)"), std::string::npos)
      << message;
}

TEST_F(ServerNegotiateTest, AKeytabThatCannotBeUsedStopsTheStart) {
  WriteFileBytes(Data.File("text.keytab"), "not a keytab\n");
  const struct {
    std::string File;
    std::string Reason;
  } kCases[] = {
      {Data.File("no-such.keytab"), "No such file or directory"},
      {Data.File("text.keytab"), "not a keytab"},
  };
  for (const auto& row : kCases) {
    TProgramOptions limited;
    limited.Limit = std::chrono::milliseconds(30000);
    const TProgramResult started =
        RunProgram(TServerProcess::ExecutablePath(),
                   {"--listen", "127.0.0.1:0", "--data", Data.Path(), "--seed-employees", "5",
                    "--kerberos-keytab", row.File},
                   limited);
    EXPECT_EQ(started.Status, 1) << row.File;
    EXPECT_NE(started.Err.find("Cannot use the Kerberos keytab " + row.File + ": " + row.Reason),
              std::string::npos)
        << started.Err;
  }
  const TProgramResult wrong =
      RunProgram(TServerProcess::ExecutablePath(), {"--kerberos-principal", "HTTP/x@QVR.TEST"});
  EXPECT_EQ(wrong.Status, 2);
  EXPECT_NE(wrong.Err.find("--kerberos-principal needs --kerberos-keytab"), std::string::npos);
}

TEST_F(ServerNegotiateTest, QvrSignsOnWithAnEmptyUid) {
  auto server = StartServer();
  TQvrFolder folder;
  folder.PointAt(server->Port(), "");
  Realm->Kinit();
  const TProgramResult tested = folder.Run({"test"});
  EXPECT_EQ(tested.Status, 0) << tested.Err;
  EXPECT_EQ(tested.Out,
            "Connected to " + server->Origin() + "/rpc/rest/ (authenticated with Negotiate)\n");
  Realm->Kdestroy();
  const TProgramResult refused = folder.Run({"test"});
  EXPECT_NE(refused.Status, 0);
  EXPECT_NE(refused.Err.find("401"), std::string::npos) << refused.Err;
}

}  // namespace
}  // namespace qvr::test
