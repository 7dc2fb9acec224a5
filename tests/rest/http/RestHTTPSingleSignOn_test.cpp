// Integrated authentication of the HTTP object, end to end on loopback: a
// private Kerberos realm (MIT's KDC), Apache httpd with Negotiate, Digest and
// NTLM inside SPNEGO, Squid offering Negotiate, NTLM, Digest and Basic for
// 407, and servers of the test that record what each attempt carried. Every
// daemon is started and stopped here; a missing package skips with the
// package's name.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "rest/http/RestHTTP.h"
#include "support/ApacheServer.h"
#include "support/HttpTestServers.h"
#include "support/KerberosRealm.h"
#include "support/Raised.h"
#include "support/ScopedEnv.h"
#include "support/SquidProxy.h"

#if defined(__SANITIZE_ADDRESS__)
// The system's NTLM mechanism (gss-ntlmssp), which GSS-API loads into this
// process for NTLM inside SPNEGO, never frees the digests it fetches from
// OpenSSL. That is its leak, not the client's: it is left out of the leak
// report, and for the report to see the mechanism among the frames of an
// allocation, stacks are walked in full (this binary only).
extern "C" const char* __lsan_default_suppressions() { return "leak:gssntlmssp.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
#endif

namespace qvr::rest {
namespace {

using test::Raised;

using test::TApacheServer;
using test::TKerberosRealm;
using test::TSquidProxy;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using enum THTTPAuthScheme;

const std::string kPrincipal = std::string(TKerberosRealm::kUser) + "@" + TKerberosRealm::kRealm;
// The pair the recording server takes, and how it arrives.
const std::string kBasicAna = "Basic YW5hOmNsYXZl";  // ana:clave

std::string GetText(TRestHTTP& AHTTP, const std::string& AURL) {
  TMemoryStream body;
  AHTTP.Get(AURL, body);
  return body.Bytes();
}

// What each Authorization (or Proxy-Authorization) that a server of the test
// received says, in order: "-" for none, the scheme of a token, "Digest" and
// the user name, "Basic" and its credentials.
class TAuthorizations {
 public:
  // One attempt of the client may take more than one round trip of the
  // same scheme (curl's legs of NTLM, or a Digest computed again): a repeat
  // is noted once.
  void Note(const std::string& AValue) {
    std::string note = AValue.empty() ? "-" : AValue.substr(0, AValue.find(' '));
    if (note == "Basic") note = AValue;
    if (note == "Digest") {
      const auto user = AValue.find("username=\"");
      if (user != std::string::npos) {
        note += " " + AValue.substr(user + 10, AValue.find('"', user + 10) - user - 10);
      }
    }
    std::scoped_lock lock(FLock);
    if (FNotes.empty() || FNotes.back() != note || note == "-") FNotes.push_back(std::move(note));
  }
  std::vector<std::string> Take() {
    std::scoped_lock lock(FLock);
    return std::exchange(FNotes, {});
  }

 private:
  std::mutex FLock;
  std::vector<std::string> FNotes;
};

// A server of the test that asks for authentication with the challenge lines
// Challenge and takes only Basic with ana:clave; and a landing page of another origin that
// asks for Negotiate (a redirect's target).
struct TRecordingServer {
  TRecordingServer() {
    Http.Server().Get("/four", [this](const httplib::Request& ARequest, httplib::Response& A) {
      const std::string value = ARequest.get_header_value("Authorization");
      Four.Note(value);
      if (value == kBasicAna) {
        A.set_content("ok", "text/plain");
        return;
      }
      std::scoped_lock lock(ChallengeLock);
      for (const std::string& line : Challenge) A.headers.emplace("WWW-Authenticate", line);
      A.status = 401;
      A.set_content("who?", "text/plain");
    });
    Http.Server().Get("/landing", [this](const httplib::Request& ARequest, httplib::Response& A) {
      Landing.Note(ARequest.get_header_value("Authorization"));
      A.headers.emplace("WWW-Authenticate", "Negotiate");
      A.headers.emplace("WWW-Authenticate", "Basic realm=\"landing\"");
      A.status = 401;
      A.set_content("who?", "text/plain");
    });
    Http.Start();
  }
  void SetChallenge(std::vector<std::string> ALines) {
    std::scoped_lock lock(ChallengeLock);
    Challenge = std::move(ALines);
  }

  test::THttpTestServer Http;
  std::mutex ChallengeLock;
  std::vector<std::string> Challenge;
  TAuthorizations Four;
  TAuthorizations Landing;
};

// The realm, httpd and the recording server, for all the tests of the file;
// each test starts without a ticket and with a new HTTP object.
class SingleSignOnTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (Missing()) return;
    NoProxy = std::make_unique<test::TNoProxyEnvironment>();
    Realm = std::make_unique<TKerberosRealm>();
    Recorder = std::make_unique<TRecordingServer>();
    // The redirect's target is another origin: another host name and port.
    Httpd = std::make_unique<TApacheServer>(
        *Realm, "http://localhost:" + std::to_string(Recorder->Http.Port()) + "/landing");
  }
  static void TearDownTestSuite() {
    Httpd.reset();
    Recorder.reset();
    Realm.reset();
    NoProxy.reset();
  }
  static std::optional<std::string> Missing() {
    if (auto missing = TKerberosRealm::Missing()) return missing;
    return TApacheServer::Missing();
  }

  void SetUp() override {
    if (auto missing = Missing()) GTEST_SKIP() << *missing;
    Realm->Kdestroy();
    Recorder->Four.Take();
    Recorder->Landing.Take();
  }

  std::string Url(const std::string& APath, const std::string& AHost = "127.0.0.1") const {
    return Httpd->Url(APath, AHost);
  }

  static std::unique_ptr<test::TNoProxyEnvironment> NoProxy;
  static std::unique_ptr<TKerberosRealm> Realm;
  static std::unique_ptr<TRecordingServer> Recorder;
  static std::unique_ptr<TApacheServer> Httpd;
  TRestHTTP Http;
};
std::unique_ptr<test::TNoProxyEnvironment> SingleSignOnTest::NoProxy;
std::unique_ptr<TKerberosRealm> SingleSignOnTest::Realm;
std::unique_ptr<TRecordingServer> SingleSignOnTest::Recorder;
std::unique_ptr<TApacheServer> SingleSignOnTest::Httpd;

// ---------------------------------------------------------------------------
// Negotiate with the user's tickets

TEST_F(SingleSignOnTest, ATicketSignsOnWithoutAPassword) {
  Realm->Kinit();
  // The service is the host as the URL writes it: both names have a key.
  for (const char* host : {"127.0.0.1", "localhost"}) {
    EXPECT_EQ(GetText(Http, Url("/negotiate-only/hola.txt", host)), TApacheServer::kBody) << host;
    EXPECT_EQ(Http.Response().AuthScheme(), Negotiate) << host;
    EXPECT_EQ(Http.Response().HeaderValue("X-User"), kPrincipal) << host;
  }
  // Each exchange answers its own challenge: the next one works the same.
  EXPECT_EQ(GetText(Http, Url("/negotiate-only/hola.txt")), TApacheServer::kBody);
  // An answer without a challenge carries nothing.
  EXPECT_EQ(GetText(Http, Url("/open/hola.txt")), TApacheServer::kBody);
  EXPECT_EQ(Http.Response().AuthScheme(), None);
}

TEST_F(SingleSignOnTest, ABodyGoesOutWithTheTicket) {
  Realm->Kinit();
  // The attempt after the 401 sends the body again, with the token.
  TMemoryStream body;
  body.Write(std::string(100000, 'x'));
  TMemoryStream answer;
  Http.Post(Url("/negotiate-only/hola.txt"), body, answer);
  EXPECT_EQ(answer.Bytes(), TApacheServer::kBody);
  EXPECT_EQ(Http.Response().AuthScheme(), Negotiate);
}

TEST_F(SingleSignOnTest, WithoutATicketTheNextOfferedSchemeAnswers) {
  // /negotiate/ offers Negotiate, then Basic (checked against the realm).
  Http.SetAuthentication(TKerberosRealm::kUser, TKerberosRealm::kPassword);
  EXPECT_EQ(GetText(Http, Url("/negotiate/hola.txt")), TApacheServer::kBody);
  EXPECT_EQ(Http.Response().AuthScheme(), Basic);
  EXPECT_EQ(Http.Response().HeaderValue("X-User"), kPrincipal);

  // With a ticket the same exchange prefers it.
  Realm->Kinit();
  EXPECT_EQ(GetText(Http, Url("/negotiate/hola.txt")), TApacheServer::kBody);
  EXPECT_EQ(Http.Response().AuthScheme(), Negotiate);
}

TEST_F(SingleSignOnTest, RefusalsSayWhichSchemesWereOfferedAndTried) {
  const struct {
    const char* Name;
    bool Ticket;
    THTTPAuthSchemes Integrated;
    const char* Path;
    const char* Message;
  } kCases[] = {
      {"no ticket", false, kIntegratedAuthSchemes, "/negotiate-only/hola.txt",
       "HTTP/1.1 401 Unauthorized (offered: Negotiate; tried: Negotiate)"},
      {"integrated authentication off",
       true,
       {},
       "/negotiate-only/hola.txt",
       "HTTP/1.1 401 Unauthorized (offered: Negotiate; tried: none)"},
      {"no ticket and no pair for Basic", false, kIntegratedAuthSchemes, "/negotiate/hola.txt",
       "HTTP/1.1 401 Unauthorized (offered: Negotiate, Basic; tried: Negotiate)"},
      {"Digest without a pair", false, kIntegratedAuthSchemes, "/digest/hola.txt",
       "HTTP/1.1 401 Unauthorized (offered: Digest; tried: none)"},
  };
  for (const auto& row : kCases) {
    row.Ticket ? Realm->Kinit() : Realm->Kdestroy();
    TRestHTTP http;
    http.SetIntegratedAuthentication(row.Integrated);
    const auto e = Raised<EHTTPProtocolException>([&] { GetText(http, Url(row.Path)); });
    EXPECT_EQ(e.ErrorCode(), 401) << row.Name;
    EXPECT_EQ(e.Message(), row.Message) << row.Name;
  }
}

TEST_F(SingleSignOnTest, IntegratedAuthenticationOffLeavesBasic) {
  Realm->Kinit();
  Http.SetIntegratedAuthentication({});
  Http.SetAuthentication(TKerberosRealm::kUser, TKerberosRealm::kPassword);
  EXPECT_EQ(GetText(Http, Url("/negotiate/hola.txt")), TApacheServer::kBody);
  EXPECT_EQ(Http.Response().AuthScheme(), Basic);
}

// ---------------------------------------------------------------------------
// Digest

TEST_F(SingleSignOnTest, DigestAnswersWithThePairOfEachSource) {
  const std::string url = Url("/digest/hola.txt");
  {
    // The request's pair goes out preemptively as Basic, which a Digest
    // server refuses; the same pair then answers with Digest.
    TRestHTTP http;
    http.RequestHeaders().SetBasicAuthentication(TApacheServer::kDigestUser,
                                                 TApacheServer::kDigestPassword);
    EXPECT_EQ(GetText(http, url), TApacheServer::kBody);
    EXPECT_EQ(http.Response().AuthScheme(), Digest);
    EXPECT_EQ(http.Response().HeaderValue("X-User"), TApacheServer::kDigestUser);
  }
  {
    TRestHTTP http;
    http.SetAuthentication(TApacheServer::kDigestUser, TApacheServer::kDigestPassword);
    EXPECT_EQ(GetText(http, url), TApacheServer::kBody);
    EXPECT_EQ(http.Response().AuthScheme(), Digest);
  }
  {
    // The handler's pair, asked with the challenge's realm, is kept.
    TRestHTTP http;
    std::vector<std::string> realms;
    http.SetOnAuthentication([&](TObject*, TAuthTargetType, const std::string& ARealm,
                                 const std::string&, std::string& AUser, std::string& APassword,
                                 bool&, TAuthPersistenceType&) {
      realms.push_back(ARealm);
      AUser = TApacheServer::kDigestUser;
      APassword = TApacheServer::kDigestPassword;
    });
    EXPECT_EQ(GetText(http, url), TApacheServer::kBody);
    EXPECT_EQ(http.Response().AuthScheme(), Digest);
    EXPECT_THAT(realms, ElementsAre(TApacheServer::kDigestRealm));
    EXPECT_EQ(http.GetClientCredentials().size(), 1u);
  }
}

TEST_F(SingleSignOnTest, AWrongDigestPasswordIsRefused) {
  int asked = 0;
  Http.SetOnAuthentication([&](TObject*, TAuthTargetType, const std::string&, const std::string&,
                               std::string& AUser, std::string& APassword, bool&,
                               TAuthPersistenceType&) {
    ++asked;
    AUser = TApacheServer::kDigestUser;
    APassword = "not-the-password";
  });
  const auto e = Raised<EHTTPProtocolException>([&] { GetText(Http, Url("/digest/hola.txt")); });
  EXPECT_EQ(e.ErrorCode(), 401);
  EXPECT_EQ(e.Message(), "HTTP/1.1 401 Unauthorized (offered: Digest; tried: Digest)");
  // The same pair again ends the sequence.
  EXPECT_EQ(asked, 2);
}

// ---------------------------------------------------------------------------
// The order, on a server offering all four

TEST_F(SingleSignOnTest, OffersAreAnsweredInOrderOneSchemePerAttempt) {
  Realm->Kinit();
  // Challenges one per line, several in one line, and in another order: the
  // client's order is its own. NTLM goes out as its first message, which
  // this server does not take further.
  const struct {
    const char* Name;
    std::vector<std::string> Challenge;
    THTTPAuthSchemes Integrated;
    std::vector<std::string> Sent;
  } kCases[] = {
      {"one per line",
       {"Negotiate", "NTLM", "Digest realm=\"four\", nonce=\"abc\", qop=\"auth\"",
        "Basic realm=\"four\""},
       kIntegratedAuthSchemes,
       {"-", "Negotiate", "NTLM", "Digest ana", kBasicAna}},
      {"in one line, Basic first",
       {"Basic realm=\"four\", Digest realm=\"four\", nonce=\"abc\", NTLM, Negotiate"},
       kIntegratedAuthSchemes,
       {"-", "Negotiate", "NTLM", "Digest ana", kBasicAna}},
      {"unknown and Passport ones skipped",
       {"Passport1.4 srealm=\"x\"", "Bearer realm=\"x\"", "Digest realm=\"four\", nonce=\"abc\"",
        "Basic realm=\"four\""},
       kIntegratedAuthSchemes,
       {"-", "Digest ana", kBasicAna}},
      {"NTLM left out of the settings",
       {"Negotiate", "NTLM", "Digest realm=\"four\", nonce=\"abc\"", "Basic realm=\"four\""},
       {Negotiate, Digest},
       {"-", "Negotiate", "Digest ana", kBasicAna}},
      {"integrated authentication off",
       {"Negotiate", "NTLM", "Digest realm=\"four\", nonce=\"abc\"", "Basic realm=\"four\""},
       {},
       {"-", kBasicAna}},
  };
  for (const auto& row : kCases) {
    Recorder->SetChallenge(row.Challenge);
    TRestHTTP http;
    http.SetIntegratedAuthentication(row.Integrated);
    http.SetAuthentication("ana", "clave");
    // Nothing but Basic goes out before the challenge: the first attempt
    // carries nothing at all, ticket or not.
    EXPECT_EQ(GetText(http, Recorder->Http.Url("/four")), "ok") << row.Name;
    EXPECT_EQ(http.Response().AuthScheme(), Basic) << row.Name;
    EXPECT_THAT(Recorder->Four.Take(), ElementsAreArray(row.Sent)) << row.Name;
  }
}

TEST_F(SingleSignOnTest, EachPairGoesThroughTheSchemesBeforeTheNext) {
  Recorder->SetChallenge({"Digest realm=\"four\", nonce=\"abc\"", "Basic realm=\"four\""});
  // The request's pair went out preemptively as Basic, so it is tried with
  // Digest alone; the store's pair with both.
  Http.RequestHeaders().SetBasicAuthentication("first", "one");
  Http.SetAuthentication("ana", "clave");
  // The handler lets the preemptive offer go and has no pair of its own.
  Http.SetOnAuthentication([&](TObject*, TAuthTargetType, const std::string& ARealm,
                               const std::string&, std::string&, std::string&, bool& AAbort,
                               TAuthPersistenceType&) { AAbort = !ARealm.empty(); });
  // Only the store's pair is this server's.
  EXPECT_EQ(GetText(Http, Recorder->Http.Url("/four")), "ok");
  EXPECT_THAT(Recorder->Four.Take(),
              ElementsAre("Basic Zmlyc3Q6b25l", "Digest first", "Digest ana", kBasicAna));
}

// ---------------------------------------------------------------------------
// Origins and redirects

TEST_F(SingleSignOnTest, ARedirectToAnotherOriginCarriesNoToken) {
  Realm->Kinit();
  Http.SetAuthentication("ana", "clave");
  // /redirect/ authenticates with Negotiate, then sends the client to
  // localhost on another port, which asks for Negotiate and Basic too.
  const auto e = Raised<EHTTPProtocolException>([&] { GetText(Http, Url("/redirect/hola.txt")); });
  EXPECT_EQ(e.ErrorCode(), 401);
  EXPECT_EQ(e.Message(), "HTTP/1.1 401 Unauthorized");
  EXPECT_THAT(Recorder->Landing.Take(), ElementsAre("-"));
  EXPECT_EQ(Http.Response().AuthScheme(), None);
}

TEST_F(SingleSignOnTest, NoTokenGoesToAHostThatDidNotAsk) {
  Realm->Kinit();
  // A first exchange signs on at httpd; the next one, to another origin,
  // starts without anything.
  EXPECT_EQ(GetText(Http, Url("/negotiate-only/hola.txt")), TApacheServer::kBody);
  Recorder->SetChallenge({"Basic realm=\"four\""});
  EXPECT_THROW(GetText(Http, Recorder->Http.Url("/four")), EHTTPProtocolException);
  EXPECT_THAT(Recorder->Four.Take(), ElementsAre("-"));
}

// ---------------------------------------------------------------------------
// Delegation

TEST_F(SingleSignOnTest, CredentialsAreDelegatedOnlyWhenAskedAndToATrustedService) {
  Realm->Kinit();
  const struct {
    const char* Name;
    THTTPDelegation Delegation;
    const char* Host;
    bool Delegated;
  } kCases[] = {
      // HTTP/localhost is marked ok-as-delegate, HTTP/127.0.0.1 is not.
      {"default", THTTPDelegation::None, "localhost", false},
      {"proxy only", THTTPDelegation::Proxy, "localhost", false},
      {"server, trusted", THTTPDelegation::Server, "localhost", true},
      {"server and proxy, trusted", THTTPDelegation::ServerAndProxy, "localhost", true},
      {"server, not trusted", THTTPDelegation::Server, "127.0.0.1", false},
  };
  EXPECT_EQ(TRestHTTP().DelegateCredentials(), THTTPDelegation::None);
  for (const auto& row : kCases) {
    std::filesystem::remove_all(Httpd->DelegationFolder() + "/" + kPrincipal);
    TRestHTTP http;
    http.SetDelegateCredentials(row.Delegation);
    EXPECT_EQ(GetText(http, Url("/delegation/hola.txt", row.Host)), TApacheServer::kBody)
        << row.Name;
    EXPECT_EQ(http.Response().AuthScheme(), Negotiate) << row.Name;
    EXPECT_EQ(!http.Response().HeaderValue("X-Delegated").empty(), row.Delegated) << row.Name;
  }
}

// ---------------------------------------------------------------------------
// NTLM inside SPNEGO

TEST_F(SingleSignOnTest, NtlmInsideNegotiateSignsOnWithoutATicket) {
  {
    // Without NTLM credentials and without a ticket, nothing answers.
    const auto e = Raised<EHTTPProtocolException>([&] { GetText(Http, Url("/ntlm/hola.txt")); });
    EXPECT_EQ(e.ErrorCode(), 401);
  }
  test::TScopedEnv ntlm("NTLM_USER_FILE", Httpd->NtlmUserFile());
  TRestHTTP http;
  EXPECT_EQ(GetText(http, Url("/ntlm/hola.txt")), TApacheServer::kBody);
  EXPECT_EQ(http.Response().AuthScheme(), Negotiate);
  EXPECT_EQ(http.Response().HeaderValue("X-User"),
            std::string(TApacheServer::kNtlmDomain) + "\\" + TApacheServer::kNtlmUser);
  // Kerberos-only folders take no NTLM.
  EXPECT_THROW(GetText(http, Url("/negotiate-only/hola.txt")), EHTTPProtocolException);
}

// ---------------------------------------------------------------------------
// Through an authenticating proxy (407)

class ProxySingleSignOnTest : public SingleSignOnTest {
 protected:
  static void SetUpTestSuite() {
    SingleSignOnTest::SetUpTestSuite();
    if (!Missing() && !TSquidProxy::Missing()) Squid = std::make_unique<TSquidProxy>(*Realm);
  }
  static void TearDownTestSuite() {
    Squid.reset();
    SingleSignOnTest::TearDownTestSuite();
  }
  void SetUp() override {
    SingleSignOnTest::SetUp();
    if (IsSkipped()) return;
    if (auto missing = TSquidProxy::Missing()) GTEST_SKIP() << *missing;
  }
  // A new HTTP object through squid, whose 407 the handler answers with
  // APassword (empty: no pair); AAsked counts the handler's calls.
  std::unique_ptr<TRestHTTP> ThroughProxy(const std::string& APassword, int& AAsked) {
    auto http = std::make_unique<TRestHTTP>();
    http->ProxyConnectionInfo().SetHost("127.0.0.1");
    http->ProxyConnectionInfo().SetPort(Squid->Port());
    http->SetOnAuthentication([APassword, &AAsked](TObject*, TAuthTargetType ATarget,
                                                   const std::string&, const std::string&,
                                                   std::string& AUser, std::string& APass,
                                                   bool& AAbort, TAuthPersistenceType&) {
      ++AAsked;
      if (ATarget != TAuthTargetType::Proxy || APassword.empty()) {
        AAbort = true;
        return;
      }
      AUser = TSquidProxy::kUser;
      APass = APassword;
    });
    return http;
  }

  static std::unique_ptr<TSquidProxy> Squid;
};
std::unique_ptr<TSquidProxy> ProxySingleSignOnTest::Squid;

TEST_F(ProxySingleSignOnTest, TheProxyTakesTheTicketFirst) {
  Realm->Kinit();
  int asked = 0;
  auto http = ThroughProxy(TSquidProxy::kPassword, asked);
  EXPECT_EQ(GetText(*http, Url("/open/hola.txt")), TApacheServer::kBody);
  EXPECT_EQ(http->Response().ProxyAuthScheme(), Negotiate);
  EXPECT_EQ(http->Response().AuthScheme(), None);
  EXPECT_EQ(asked, 0) << "a ticket needs no pair";
  // The proxy and the server both sign on with the ticket.
  EXPECT_EQ(GetText(*http, Url("/negotiate-only/hola.txt")), TApacheServer::kBody);
  EXPECT_EQ(http->Response().ProxyAuthScheme(), Negotiate);
  EXPECT_EQ(http->Response().AuthScheme(), Negotiate);
  EXPECT_THAT(Squid->AccessLog(), HasSubstr(kPrincipal));
}

TEST_F(ProxySingleSignOnTest, WithoutATicketTheProxyGetsNtlmThenDigest) {
  int asked = 0;
  // All four offered: NTLM comes before Digest and Basic.
  auto http = ThroughProxy(TSquidProxy::kPassword, asked);
  EXPECT_EQ(GetText(*http, Url("/open/hola.txt")), TApacheServer::kBody);
  EXPECT_EQ(http->Response().ProxyAuthScheme(), NTLM);
  // Digest and Basic offered: Digest.
  http = ThroughProxy(TSquidProxy::kPassword, asked);
  const auto e = Raised<EHTTPProtocolException>(
      [&] { GetText(*http, Url("/open/proxy-digest/nothing-here")); });
  // The proxy let the request through to httpd, which has no such file.
  EXPECT_EQ(e.ErrorCode(), 404);
  EXPECT_EQ(http->Response().ProxyAuthScheme(), Digest);
}

TEST_F(ProxySingleSignOnTest, AWrongPairIsRefusedWithEveryScheme) {
  int asked = 0;
  auto http = ThroughProxy("not-the-password", asked);
  const auto e = Raised<EHTTPProtocolException>(
      [&] { GetText(*http, Url("/open/proxy-digest/nothing-here")); });
  EXPECT_EQ(e.ErrorCode(), 407);
  EXPECT_EQ(e.Message(),
            "HTTP/1.1 407 Proxy Authentication Required (offered: Digest, Basic; tried: Digest, "
            "Basic)");
  EXPECT_EQ(asked, 2);
}

TEST_F(ProxySingleSignOnTest, NoPairAndNoTicketEndWithThe407) {
  int asked = 0;
  auto http = ThroughProxy("", asked);
  const auto e = Raised<EHTTPProtocolException>([&] { GetText(*http, Url("/open/hola.txt")); });
  EXPECT_EQ(e.ErrorCode(), 407);
  EXPECT_EQ(e.Message(),
            "HTTP/1.1 407 Proxy Authentication Required (offered: Negotiate, NTLM, Digest, Basic; "
            "tried: Negotiate)");
}

}  // namespace
}  // namespace qvr::rest
