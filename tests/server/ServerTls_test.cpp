// qvr-server over https (--tls-cert, --tls-key) with a self-signed
// certificate, reached by the client core as a workstation reaches it: the
// certificate refused until the connection's certificate event accepts it,
// then every call through the proxy; TLS below 1.2 refused; plain HTTP on
// the TLS port not served.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <memory>

#include "rest/http/NetHTTPExceptions.h"
#include "rest/uClientClasses.h"
#include "support/HttpTestServers.h"
#include "support/RawClient.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace qvr::test {
namespace {

using rest::TQVRServerMethodsClient;
using rest::TRestConnection;

class ServerTlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Folder = std::make_unique<TTempDir>();
    Certificate = MakeSelfSignedCertificate(Folder->Path(), "qvr-server");
    Server = std::make_unique<TServerProcess>(std::vector<std::string>{
        "--tls-cert", Certificate.CertificateFile, "--tls-key", Certificate.KeyFile});
  }
  static void TearDownTestSuite() {
    Server.reset();
    Folder.reset();
  }

  static void Connect(TRestConnection& AConnection) {
    AConnection.SetProtocol("https");
    AConnection.SetHost("127.0.0.1");
    AConnection.SetPort(Server->Port());
    AConnection.SetLoginPrompt(false);
    AConnection.SetUserName("kiosco");
  }

  // Whether a TLS handshake limited to AMaxVersion succeeds.
  static bool Handshakes(int AMaxVersion) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                              SSL_CTX_free);
    SSL_CTX_set_min_proto_version(context.get(), TLS1_VERSION);
    SSL_CTX_set_max_proto_version(context.get(), AMaxVersion);
    SSL_CTX_set_security_level(context.get(), 0);
    TRawClient client(Server->Port());
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(context.get()), SSL_free);
    SSL_set_fd(ssl.get(), client.Descriptor());
    return SSL_connect(ssl.get()) == 1;
  }

  static std::unique_ptr<TTempDir> Folder;
  static TTestCertificate Certificate;
  static std::unique_ptr<TServerProcess> Server;
};
std::unique_ptr<TTempDir> ServerTlsTest::Folder;
TTestCertificate ServerTlsTest::Certificate;
std::unique_ptr<TServerProcess> ServerTlsTest::Server;

TEST_F(ServerTlsTest, TheCoreCallsTheServerOnceItsEventAcceptsTheCertificate) {
  TRestConnection connection;
  Connect(connection);
  std::string subject;
  int asked = 0;
  connection.SetOnValidateCertificate([&](TObject*, const rest::THTTPRequestInfo&,
                                          const rest::TX509Certificate& ACertificate,
                                          bool& AAccepted) {
    ++asked;
    subject = ACertificate.Subject;
    AAccepted = true;
  });
  TQVRServerMethodsClient client(connection);
  EXPECT_EQ(client.EchoString("sobre TLS"), "sobre TLS");
  EXPECT_NE(subject.find("127.0.0.1"), std::string::npos) << subject;
  auto relojes = client.ListaRelojes();
  ASSERT_TRUE(relojes);
  EXPECT_EQ(relojes->Names(), std::vector<std::string>{"Relojes"});
  EXPECT_GE(asked, 1);
}

TEST_F(ServerTlsTest, WithoutAnEventTheCertificateIsRefused) {
  TRestConnection connection;
  Connect(connection);
  TQVRServerMethodsClient client(connection);
  try {
    client.EchoString("x");
    FAIL() << "a self-signed certificate was accepted";
  } catch (const rest::ENetHTTPCertificateException& AError) {
    EXPECT_STREQ(AError.what(), "Server Certificate not accepted");
  }
}

TEST_F(ServerTlsTest, OnlyTls12AndLaterAreSpoken) {
  EXPECT_TRUE(Handshakes(TLS1_3_VERSION));
  EXPECT_TRUE(Handshakes(TLS1_2_VERSION));
  EXPECT_FALSE(Handshakes(TLS1_1_VERSION));
}

TEST_F(ServerTlsTest, PlainHttpIsNotServedOnTheTlsPort) {
  TRawClient client(Server->Port());
  client.Send(TRawClient::Request(Server->Port(), "/rpc/rest/Admin/GetPlatformName/"));
  const auto answer = client.Read(std::chrono::seconds(5));
  EXPECT_FALSE(answer && answer->Status == 200);
}

}  // namespace
}  // namespace qvr::test
