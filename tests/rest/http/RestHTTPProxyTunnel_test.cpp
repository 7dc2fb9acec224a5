// The HTTP object through a real forward proxy (tinyproxy, started by the
// test): an https request reaches its server through a CONNECT tunnel over a
// plain HTTP connection to the proxy, whatever scheme names the proxy, with
// and without proxy authentication.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rest/http/RestHTTP.h"
#include "support/HttpTestServers.h"
#include "support/TempDir.h"
#include "support/TinyProxy.h"

namespace qvr::rest {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class ProxyTunnelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::TTinyProxy::Installed()) GTEST_SKIP() << test::TTinyProxy::kMissing;
    FServer = test::MakeTlsServer(test::MakeSelfSignedCertificate(FDir.Path(), "server"));
    FServer->Server().Get("/", [](const httplib::Request& r, httplib::Response& a) {
      a.set_content("secret " + r.get_header_value("Proxy-Authorization"), "text/plain");
    });
    FServer->Start();
  }

  // An HTTP object for the TLS server (its certificate accepted by the event)
  // that goes through 127.0.0.1:APort, named with AScheme as the connection
  // names it (its own Protocol).
  std::unique_ptr<TRestHTTPS> Client(const std::string& AScheme, int APort,
                                     const std::string& AUser = "",
                                     const std::string& APassword = "") {
    auto http = std::make_unique<TRestHTTPS>();
    http->SetProtocol("https");
    http->SetConnectTimeout(10000);
    http->SetReadTimeout(10000);
    http->ProxyConnectionInfo().SetScheme(AScheme);
    http->ProxyConnectionInfo().SetHost("127.0.0.1");
    http->ProxyConnectionInfo().SetPort(APort);
    http->ProxyConnectionInfo().SetUserName(AUser);
    http->ProxyConnectionInfo().SetPassword(APassword);
    http->SetOnValidateCertificate(
        [](TObject*, const THTTPRequestInfo&, const TX509Certificate&, bool& A) { A = true; });
    return http;
  }

  std::string Get(TRestHTTP& AHTTP) {
    TMemoryStream body;
    AHTTP.Get(FServer->Url("/"), body);
    return body.Bytes();
  }

  std::string Tunnel() const {
    return "CONNECT 127.0.0.1:" + std::to_string(FServer->Port()) + " HTTP/1.1";
  }

  test::TNoProxyEnvironment FNoProxy;
  test::TTempDir FDir;
  std::unique_ptr<test::THttpTestServer> FServer;
};

TEST_F(ProxyTunnelTest, HttpsGoesThroughATunnelWhateverSchemeNamesTheProxy) {
  test::TTinyProxy proxy;
  // "https" is what a connection with Protocol "https" names its proxy with.
  for (const std::string scheme : {"https", "http", ""}) {
    auto http = Client(scheme, proxy.Port());
    // The server never sees the proxy's credentials: there are none here.
    EXPECT_EQ(Get(*http), "secret ") << "scheme '" << scheme << "'";
  }
  EXPECT_THAT(proxy.Requests(), Contains(Tunnel()));
  for (const std::string& request : proxy.Requests()) EXPECT_EQ(request, Tunnel());
}

TEST_F(ProxyTunnelTest, ProxyCredentialsOpenTheTunnelAndStayWithTheProxy) {
  test::TTinyProxy proxy("pu", "pp");
  auto http = Client("https", proxy.Port(), "pu", "pp");
  // The tunnel carries the request to the server unchanged: the proxy's
  // credentials went to the proxy alone.
  EXPECT_EQ(Get(*http), "secret ");
  EXPECT_THAT(proxy.Requests(), Contains(Tunnel()));

  // Without credentials the proxy's 407 is the final answer.
  auto bare = Client("https", proxy.Port());
  TMemoryStream body;
  try {
    bare->Get(FServer->Url("/"), body);
    ADD_FAILURE() << "no 407";
  } catch (const EHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorCode(), 407);
  }

  // A 407 answered by the authentication event.
  auto asked = Client("https", proxy.Port());
  std::vector<TAuthTargetType> targets;
  asked->SetOnAuthentication([&](TObject*, TAuthTargetType ATarget, const std::string&,
                                 const std::string&, std::string& AUser, std::string& APassword,
                                 bool&, TAuthPersistenceType&) {
    targets.push_back(ATarget);
    AUser = "pu";
    APassword = "pp";
  });
  EXPECT_EQ(Get(*asked), "secret ");
  EXPECT_THAT(targets, ElementsAre(TAuthTargetType::Proxy));
}

}  // namespace
}  // namespace qvr::rest
