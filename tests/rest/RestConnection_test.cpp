// The REST connection: setting rules, the HTTP object's lifecycle, base URLs,
// assignment, the command execution frame and the session-carrying exchange,
// checked against what a stand-in server on 127.0.0.1 receives.
#include "rest/RestConnection.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/SysUtils.h"
#include "rest/http/NetHTTPExceptions.h"
#include "support/StandInServer.h"

namespace qvr::rest {
namespace {

using test::EmptyAnswer;
using test::ErrorAnswer;
using test::ResultAnswer;
using test::TStandInServer;

const char* const kEcho = "TQVRServerMethods/EchoString/abc/";

// ---------------------------------------------------------------- settings

TEST(RestConnectionSettings, StartAtTheirDefaultsWithoutHTTPObject) {
  TRestConnection c;
  EXPECT_EQ(c.Protocol(), "http");
  EXPECT_EQ(c.Host(), "");
  EXPECT_EQ(c.Port(), 0);
  EXPECT_EQ(c.Context(), "rpc/");
  EXPECT_EQ(c.RESTContext(), "rest/");
  EXPECT_EQ(c.CacheContext(), "cache/");
  EXPECT_EQ(c.Connection(), "Keep-Alive");
  EXPECT_EQ(c.ProxyPort(), 8888);
  EXPECT_EQ(c.ConnectTimeout(), 60000);
  EXPECT_EQ(c.ReadTimeout(), 60000);
  EXPECT_TRUE(c.SecureProtocols().Empty());
  EXPECT_TRUE(c.LoginPrompt());
  EXPECT_TRUE(c.PreserveSessionID());
  EXPECT_EQ(c.SessionID(), "");
  EXPECT_FALSE(c.HasHTTP());
}

TEST(RestConnectionSettings, ContextsGetAFinalSlash) {
  struct TCase {
    const char* Written;
    const char* Read;
  };
  const TCase kCases[] = {{"ctx", "ctx/"}, {"ctx/", "ctx/"}, {"", ""},
                          {"/", "/"},      {"a/b", "a/b/"},  {"a//", "a//"}};
  for (const auto& c : kCases) {
    TRestConnection conn;
    conn.SetContext(c.Written);
    conn.SetRESTContext(c.Written);
    conn.SetCacheContext(c.Written);
    EXPECT_EQ(conn.Context(), c.Read) << c.Written;
    EXPECT_EQ(conn.RESTContext(), c.Read) << c.Written;
    EXPECT_EQ(conn.CacheContext(), c.Read) << c.Written;
  }
}

TEST(RestConnectionSettings, UserNameDropsTheSessionOnlyWhenItChanges) {
  TRestConnection c;
  c.SetSessionID("S1");
  c.SetUserName("");  // equal to the value last written (none yet)
  EXPECT_EQ(c.SessionID(), "S1");
  c.SetUserName("bob");
  EXPECT_EQ(c.SessionID(), "");
  EXPECT_EQ(c.UserName(), "bob");
  EXPECT_EQ(c.LoginProperties().UserName(), "bob");
  c.SetSessionID("S2");
  c.SetUserName("bob");
  EXPECT_EQ(c.SessionID(), "S2");

  // A login handler changed the login properties: the setter still compares
  // with what was last written, and an equal value changes nothing at all.
  c.LoginProperties().SetUserName("carol");
  c.SetUserName("bob");
  EXPECT_EQ(c.UserName(), "carol");
  EXPECT_EQ(c.SessionID(), "S2");
  c.SetUserName("carol");
  EXPECT_EQ(c.SessionID(), "");
}

TEST(RestConnectionSettings, PasswordAndLoginPromptLiveInTheLoginProperties) {
  TRestConnection c;
  c.SetPassword("secret");
  c.SetLoginPrompt(false);
  EXPECT_EQ(c.LoginProperties().Password(), "secret");
  EXPECT_FALSE(c.LoginProperties().LoginPrompt());
  c.LoginProperties().SetPassword("other");
  EXPECT_EQ(c.Password(), "other");
}

// --------------------------------------------------------------- base URLs

struct TBaseCase {
  const char* Note;
  const char* Protocol;
  const char* Host;
  int Port;
  const char* UrlPath;
  const char* Context;
  const char* RESTContext;
  const char* Rest;
  const char* Cache;
};

// The worked examples of the connection's documentation and the host rule.
const TBaseCase kBaseCases[] = {
    {"defaults", "http", "127.0.0.1", 8080, "", "rpc/", "rest/", "http://127.0.0.1:8080/rpc/rest/",
     "http://127.0.0.1:8080/rpc/cache/"},
    {"port 0 left out", "http", "127.0.0.1", 0, "", "rpc/", "rest/", "http://127.0.0.1/rpc/rest/",
     "http://127.0.0.1/rpc/cache/"},
    {"negative port left out", "http", "127.0.0.1", -1, "", "rpc/", "rest/",
     "http://127.0.0.1/rpc/rest/", "http://127.0.0.1/rpc/cache/"},
    {"url path", "http", "127.0.0.1", 8080, "api", "rpc/", "rest/",
     "http://127.0.0.1:8080/api/rpc/rest/", "http://127.0.0.1:8080/api/rpc/cache/"},
    {"url path kept with its slash", "http", "127.0.0.1", 8080, "api/", "rpc/", "rest/",
     "http://127.0.0.1:8080/api//rpc/rest/", "http://127.0.0.1:8080/api//rpc/cache/"},
    {"url path kept with a leading slash", "http", "127.0.0.1", 8080, "/api", "rpc/", "rest/",
     "http://127.0.0.1:8080//api/rpc/rest/", "http://127.0.0.1:8080//api/rpc/cache/"},
    {"empty context", "http", "127.0.0.1", 8080, "", "", "rest/", "http://127.0.0.1:8080/rest/",
     "http://127.0.0.1:8080/cache/"},
    {"empty REST context", "http", "127.0.0.1", 8080, "", "rpc/", "", "http://127.0.0.1:8080/rpc/",
     "http://127.0.0.1:8080/rpc/cache/"},
    {"context without slash", "http", "127.0.0.1", 8080, "", "ctx", "rest",
     "http://127.0.0.1:8080/ctx/rest/", "http://127.0.0.1:8080/ctx/cache/"},
    {"empty host", "http", "", 8080, "", "rpc/", "rest/", "http://localhost:8080/rpc/rest/",
     "http://localhost:8080/rpc/cache/"},
    {"empty protocol", "", "h", 0, "", "rpc/", "rest/", "http://h/rpc/rest/",
     "http://h/rpc/cache/"},
    {"https", "https", "h", 443, "", "rpc/", "rest/", "https://h:443/rpc/rest/",
     "https://h:443/rpc/cache/"},
    {"host: every reserved character", "http", "a b#c%d/e:f?g\\h^i`j{k|l}m~", 0, "", "rpc/",
     "rest/", "http://a%20b%23c%25d%2Fe%3Af%3Fg%5Ch%5Ei%60j%7Bk%7Cl%7Dm~/rpc/rest/",
     "http://a%20b%23c%25d%2Fe%3Af%3Fg%5Ch%5Ei%60j%7Bk%7Cl%7Dm~/rpc/cache/"},
    {"host: non-ASCII as UTF-8 bytes", "http", "s\xC3\xA9rvidor.local", 0, "", "rpc/", "rest/",
     "http://s%C3%A9rvidor.local/rpc/rest/", "http://s%C3%A9rvidor.local/rpc/cache/"},
    {"host: control and DEL bytes", "http", "a\tb\x7F", 0, "", "rpc/", "rest/",
     "http://a%09b%7F/rpc/rest/", "http://a%09b%7F/rpc/cache/"},
    {"host: IPv6 brackets copied", "http", "[::1]", 8080, "", "rpc/", "rest/",
     "http://[%3A%3A1]:8080/rpc/rest/", "http://[%3A%3A1]:8080/rpc/cache/"},
};

TEST(RestConnectionBaseURLs, FollowTheSettingsOfTheMoment) {
  for (const auto& c : kBaseCases) {
    TRestConnection conn;
    conn.SetProtocol(c.Protocol);
    conn.SetHost(c.Host);
    conn.SetPort(c.Port);
    conn.SetUrlPath(c.UrlPath);
    conn.SetContext(c.Context);
    conn.SetRESTContext(c.RESTContext);
    EXPECT_EQ(conn.RestBaseURL(), c.Rest) << c.Note;
    EXPECT_EQ(conn.CacheBaseURL(), c.Cache) << c.Note;
    // The same with an HTTP object in place, whose scheme the bases use.
    conn.HTTP();
    EXPECT_EQ(conn.RestBaseURL(), c.Rest) << c.Note;
  }
}

// ------------------------------------------------------- the HTTP object

TEST(RestConnectionHTTPObject, IsCreatedFromTheSettingsOnFirstUse) {
  TRestConnection c;
  c.SetProtocol("");
  c.SetConnection("Upgrade");
  c.SetProxyHost("proxy.local");
  c.SetProxyPort(3128);
  c.SetProxyUsername("pu");
  c.SetProxyPassword("pp");
  c.SetSecureProtocols({THTTPSecureProtocol::TLS12, THTTPSecureProtocol::TLS13});
  c.SetConnectTimeout(1234);
  c.SetReadTimeout(5678);
  int certificateCalls = 0;
  c.SetOnValidateCertificate([&](TObject*, const THTTPRequestInfo&, const TX509Certificate&,
                                 bool&) { ++certificateCalls; });
  EXPECT_FALSE(c.HasHTTP());

  TRestHTTP& http = c.HTTP();
  EXPECT_TRUE(c.HasHTTP());
  EXPECT_EQ(&http, &c.HTTP());
  EXPECT_EQ(http.Protocol(), "http");  // DefaultProtocol
  EXPECT_EQ(http.RequestHeaders().Header("Connection"), "Upgrade");
  EXPECT_EQ(http.ProxyConnectionInfo().Host(), "proxy.local");
  EXPECT_EQ(http.ProxyConnectionInfo().Port(), 3128);
  EXPECT_EQ(http.ProxyConnectionInfo().Scheme(), "");  // the setting unchanged
  EXPECT_EQ(http.ProxyConnectionInfo().UserName(), "pu");
  EXPECT_EQ(http.ProxyConnectionInfo().Password(), "pp");
  EXPECT_EQ(http.SecureProtocols(),
            (THTTPSecureProtocols{THTTPSecureProtocol::TLS12, THTTPSecureProtocol::TLS13}));
  EXPECT_EQ(http.ConnectTimeout(), 1234);
  EXPECT_EQ(http.ReadTimeout(), 5678);
  ASSERT_TRUE(http.OnValidateCertificate());
  bool accepted = false;
  http.OnValidateCertificate()(nullptr, {}, {}, accepted);
  EXPECT_EQ(certificateCalls, 1);
  EXPECT_FALSE(http.OnAuthentication());
}

TEST(RestConnectionHTTPObject, EmptyConnectionSettingAddsNoEntry) {
  TRestConnection c;
  c.SetConnection("");
  EXPECT_TRUE(c.HTTP().RequestHeaders().CustomHeaders().empty());
}

TEST(RestConnectionHTTPObject, SettingsReadFromAndWriteThroughToIt) {
  TRestConnection c;
  TRestHTTP& http = c.HTTP();
  c.SetProxyHost("p");
  c.SetProxyPort(1);
  c.SetProxyUsername("u");
  c.SetProxyPassword("w");
  c.SetConnectTimeout(10);
  c.SetReadTimeout(20);
  c.SetSecureProtocols({THTTPSecureProtocol::TLS11});
  EXPECT_EQ(http.ProxyConnectionInfo().Host(), "p");
  EXPECT_EQ(http.ProxyConnectionInfo().Port(), 1);
  EXPECT_EQ(http.ProxyConnectionInfo().UserName(), "u");
  EXPECT_EQ(http.ProxyConnectionInfo().Password(), "w");
  EXPECT_EQ(http.ConnectTimeout(), 10);
  EXPECT_EQ(http.ReadTimeout(), 20);
  EXPECT_TRUE(http.SecureProtocols().Contains(THTTPSecureProtocol::TLS11));

  // Reads come from the HTTP object while it exists.
  http.ProxyConnectionInfo().SetHost("changed");
  http.SetReadTimeout(99);
  EXPECT_EQ(c.ProxyHost(), "changed");
  EXPECT_EQ(c.ReadTimeout(), 99);

  // Connection: a disconnect shows as "close" until the setting is written again.
  http.Disconnect();
  EXPECT_EQ(c.Connection(), "close");
  c.SetConnection("Keep-Alive");
  EXPECT_EQ(http.RequestHeaders().Header("Connection"), "Keep-Alive");
  c.SetConnection("");
  EXPECT_EQ(http.RequestHeaders().Header("Connection"), "");
  EXPECT_EQ(c.Connection(), "");

  // Without the HTTP object the connection's own copies answer again.
  c.SetConnection("Keep-Alive");
  c.HTTP().Disconnect();
  c.Reset();
  EXPECT_EQ(c.Connection(), "Keep-Alive");
  EXPECT_EQ(c.ProxyHost(), "p");
  EXPECT_EQ(c.ReadTimeout(), 20);
}

TEST(RestConnectionHTTPObject, EventsAreCopiedIntoIt) {
  TRestConnection c;
  TRestHTTP& http = c.HTTP();
  std::vector<std::string> calls;
  c.SetOnAuthentication([&](TObject*, TAuthTargetType, const std::string&, const std::string&,
                            std::string&, std::string&, bool&,
                            TAuthPersistenceType&) { calls.push_back("auth"); });
  c.SetOnValidatePeerCertificate(
      [&](TObject*, const TX509Certificate&, int, bool&) { calls.push_back("peer"); });
  c.SetOnValidatePeerCertificateErr(
      [&](TObject*, const TX509Certificate&, int, int, bool&) { calls.push_back("peerErr"); });
  c.SetOnSelectClientCertificate([&](TObject*, const THTTPRequestInfo&,
                                     const std::vector<TX509Certificate>&,
                                     int&) { calls.push_back("select"); });
  std::string user, password;
  bool abort = false, ok = false;
  int index = -1;
  TAuthPersistenceType persistence = TAuthPersistenceType::Client;
  http.OnAuthentication()(nullptr, TAuthTargetType::Server, "", "", user, password, abort,
                          persistence);
  http.OnValidatePeerCertificate()(nullptr, {}, 0, ok);
  http.OnValidatePeerCertificateErr()(nullptr, {}, 0, 0, ok);
  http.OnSelectClientCertificate()(nullptr, {}, {}, index);
  EXPECT_EQ(calls, (std::vector<std::string>{"auth", "peer", "peerErr", "select"}));

  // Reads come from the HTTP object; clearing an event clears it there too.
  c.SetOnAuthentication(nullptr);
  EXPECT_FALSE(http.OnAuthentication());
  EXPECT_FALSE(c.OnAuthentication());
  EXPECT_TRUE(c.OnValidatePeerCertificate());
}

TEST(RestConnectionHTTPObject, ProtocolChangeDiscardsItButTheSameProtocolKeepsIt) {
  TRestConnection c;
  c.SetSessionID("S");
  TRestHTTP* first = &c.HTTP();
  c.HTTP().SetAuthentication("u", "p");
  c.SetProtocol("http");
  EXPECT_EQ(&c.HTTP(), first);
  EXPECT_EQ(c.GetSessionCredentials().size(), 1u);

  c.SetProtocol("https");
  EXPECT_FALSE(c.HasHTTP());
  EXPECT_EQ(c.SessionID(), "S");
  EXPECT_EQ(c.HTTP().Protocol(), "https");
  EXPECT_TRUE(c.HTTP().HasPeerCertificate());
  EXPECT_TRUE(c.GetSessionCredentials().empty());

  // "" differs from "https" and from "http" alike; it means "http".
  c.SetProtocol("");
  EXPECT_FALSE(c.HasHTTP());
  EXPECT_EQ(c.HTTP().Protocol(), "http");
  EXPECT_FALSE(c.HTTP().HasPeerCertificate());
  EXPECT_EQ(c.DefaultProtocol(), "http");
  c.SetProtocol("http");
  EXPECT_FALSE(c.HasHTTP());
}

TEST(RestConnectionHTTPObject, ResetKeepsSettingsAndSession) {
  TRestConnection c;
  c.SetHost("h");
  c.SetSessionID("S");
  c.HTTP().RequestHeaders().SetHeader("Pragma", "sessionid=S");
  c.Reset();
  EXPECT_FALSE(c.HasHTTP());
  EXPECT_EQ(c.Host(), "h");
  EXPECT_EQ(c.SessionID(), "S");
  EXPECT_EQ(c.HTTP().RequestHeaders().Header("Pragma"), "");
}

TEST(RestConnectionHTTPObject, SessionCredentialsComeFromItsStore) {
  TRestConnection c;
  EXPECT_TRUE(c.GetSessionCredentials().empty());
  c.ClearSessionCredentials();
  EXPECT_FALSE(c.HasHTTP());  // neither call creates it

  c.HTTP().SetAuthentication("ana", "x");
  c.HTTP().SetAuthentication("luis", "y");
  EXPECT_EQ(c.GetSessionCredentials(), (std::vector<std::string>{"Realm:  URL:  Username: ana",
                                                                 "Realm:  URL:  Username: luis"}));
  c.ClearSessionCredentials();
  EXPECT_TRUE(c.GetSessionCredentials().empty());
}

// ------------------------------------------------------ the HTTP settings

// The mark of the test event that ran last.
int GEventMark = 0;

// A value of each setting's type told apart by a mark (1 or 2); MarkOf reads
// the mark back, and gives 0 for any value the table did not make (the
// defaults, an empty event).
template <typename T>
T ValueFor(int AMark) {
  if constexpr (std::is_same_v<T, std::string>) {
    return AMark == 1 ? "v1" : "v2";
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    return 1000 + AMark;
  } else if constexpr (std::is_same_v<T, THTTPSecureProtocols>) {
    return {AMark == 1 ? THTTPSecureProtocol::TLS12 : THTTPSecureProtocol::TLS13};
  } else if constexpr (std::is_same_v<T, THTTPAuthSchemes>) {
    return {AMark == 1 ? THTTPAuthScheme::Negotiate : THTTPAuthScheme::NTLM};
  } else if constexpr (std::is_same_v<T, THTTPDelegation>) {
    return AMark == 1 ? THTTPDelegation::Server : THTTPDelegation::Proxy;
  } else {
    return T([AMark](auto&&...) { GEventMark = AMark; });
  }
}

int MarkOf(const std::string& AValue) {
  if (AValue == "v1") return 1;
  if (AValue == "v2") return 2;
  return 0;
}
int MarkOf(std::int32_t AValue) { return AValue == 1001 || AValue == 1002 ? AValue - 1000 : 0; }
int MarkOf(const THTTPSecureProtocols& AValue) {
  if (AValue == THTTPSecureProtocols{THTTPSecureProtocol::TLS12}) return 1;
  if (AValue == THTTPSecureProtocols{THTTPSecureProtocol::TLS13}) return 2;
  return 0;
}
int MarkOf(const THTTPAuthSchemes& AValue) {
  if (AValue == THTTPAuthSchemes{THTTPAuthScheme::Negotiate}) return 1;
  if (AValue == THTTPAuthSchemes{THTTPAuthScheme::NTLM}) return 2;
  return 0;
}
int MarkOf(THTTPDelegation AValue) {
  if (AValue == THTTPDelegation::Server) return 1;
  if (AValue == THTTPDelegation::Proxy) return 2;
  return 0;
}
void Fire(const TValidateCertificateEvent& AEvent) {
  bool accepted = false;
  AEvent(nullptr, {}, {}, accepted);
}
void Fire(const TValidatePeerCertificateEvent& AEvent) {
  bool ok = false;
  AEvent(nullptr, {}, 0, ok);
}
void Fire(const TValidatePeerCertificateErrEvent& AEvent) {
  bool ok = false;
  AEvent(nullptr, {}, 0, 0, ok);
}
void Fire(const TAuthEvent& AEvent) {
  std::string user, password;
  bool abort = false;
  TAuthPersistenceType persistence = TAuthPersistenceType::Client;
  AEvent(nullptr, TAuthTargetType::Server, "", "", user, password, abort, persistence);
}
void Fire(const TSelectClientCertificateEvent& AEvent) {
  int index = -1;
  AEvent(nullptr, {}, {}, index);
}
template <typename TEvent>
int MarkOf(const TEvent& AEvent) {
  GEventMark = 0;
  if (AEvent) Fire(AEvent);
  return GEventMark;
}

// One HTTP setting: written and read through the connection's property, and
// through the HTTP object's own accessors, not its settings report, so that a
// setting put in the wrong place of the object shows.
struct THTTPSettingCase {
  const char* Name;
  std::function<void(TCustomRestConnection&, int AMark)> Set;
  std::function<int(const TCustomRestConnection&)> Get;
  std::function<void(TRestHTTP&, int AMark)> SetInHTTP;
  std::function<int(TRestHTTP&)> GetFromHTTP;
};

template <typename TSetter, typename TGetter, typename THTTPSetter, typename THTTPGetter>
THTTPSettingCase HTTPSettingCase(const char* AName, TSetter ASet, TGetter AGet,
                                 THTTPSetter ASetInHTTP, THTTPGetter AGetFromHTTP) {
  using T = std::invoke_result_t<TGetter, const TCustomRestConnection&>;
  return {AName,
          [=](TCustomRestConnection& AConn, int AMark) {
            std::invoke(ASet, AConn, ValueFor<T>(AMark));
          },
          [=](const TCustomRestConnection& AConn) { return MarkOf(std::invoke(AGet, AConn)); },
          [=](TRestHTTP& AHTTP, int AMark) { std::invoke(ASetInHTTP, AHTTP, ValueFor<T>(AMark)); },
          [=](TRestHTTP& AHTTP) { return MarkOf(std::invoke(AGetFromHTTP, AHTTP)); }};
}

// Every setting the connection hands its HTTP object, with where the object
// keeps it (the HTTP client's notes).
const std::vector<THTTPSettingCase>& HTTPSettingCases() {
  using C = TCustomRestConnection;
  using H = TRestHTTP;
  static const std::vector<THTTPSettingCase> kCases = {
      HTTPSettingCase(
          "Connection", &C::SetConnection, &C::Connection,
          [](H& A, const std::string& V) { A.RequestHeaders().SetHeader("Connection", V); },
          [](H& A) { return A.RequestHeaders().Header("Connection"); }),
      HTTPSettingCase(
          "ProxyHost", &C::SetProxyHost, &C::ProxyHost,
          [](H& A, const std::string& V) { A.ProxyConnectionInfo().SetHost(V); },
          [](H& A) { return A.ProxyConnectionInfo().Host(); }),
      HTTPSettingCase(
          "ProxyPort", &C::SetProxyPort, &C::ProxyPort,
          [](H& A, std::int32_t V) { A.ProxyConnectionInfo().SetPort(V); },
          [](H& A) { return A.ProxyConnectionInfo().Port(); }),
      HTTPSettingCase(
          "ProxyUsername", &C::SetProxyUsername, &C::ProxyUsername,
          [](H& A, const std::string& V) { A.ProxyConnectionInfo().SetUserName(V); },
          [](H& A) { return A.ProxyConnectionInfo().UserName(); }),
      HTTPSettingCase(
          "ProxyPassword", &C::SetProxyPassword, &C::ProxyPassword,
          [](H& A, const std::string& V) { A.ProxyConnectionInfo().SetPassword(V); },
          [](H& A) { return A.ProxyConnectionInfo().Password(); }),
      HTTPSettingCase("SecureProtocols", &C::SetSecureProtocols, &C::SecureProtocols,
                      &H::SetSecureProtocols, &H::SecureProtocols),
      HTTPSettingCase("ConnectTimeout", &C::SetConnectTimeout, &C::ConnectTimeout,
                      &H::SetConnectTimeout, &H::ConnectTimeout),
      HTTPSettingCase("ReadTimeout", &C::SetReadTimeout, &C::ReadTimeout, &H::SetReadTimeout,
                      &H::ReadTimeout),
      HTTPSettingCase("IntegratedAuthentication", &C::SetIntegratedAuthentication,
                      &C::IntegratedAuthentication, &H::SetIntegratedAuthentication,
                      &H::IntegratedAuthentication),
      HTTPSettingCase("DelegateCredentials", &C::SetDelegateCredentials, &C::DelegateCredentials,
                      &H::SetDelegateCredentials, &H::DelegateCredentials),
      HTTPSettingCase("OnValidateCertificate", &C::SetOnValidateCertificate,
                      &C::OnValidateCertificate, &H::SetOnValidateCertificate,
                      &H::OnValidateCertificate),
      HTTPSettingCase("OnValidatePeerCertificate", &C::SetOnValidatePeerCertificate,
                      &C::OnValidatePeerCertificate, &H::SetOnValidatePeerCertificate,
                      &H::OnValidatePeerCertificate),
      HTTPSettingCase("OnValidatePeerCertificateErr", &C::SetOnValidatePeerCertificateErr,
                      &C::OnValidatePeerCertificateErr, &H::SetOnValidatePeerCertificateErr,
                      &H::OnValidatePeerCertificateErr),
      HTTPSettingCase("OnAuthentication", &C::SetOnAuthentication, &C::OnAuthentication,
                      &H::SetOnAuthentication, &H::OnAuthentication),
      HTTPSettingCase("OnSelectClientCertificate", &C::SetOnSelectClientCertificate,
                      &C::OnSelectClientCertificate, &H::SetOnSelectClientCertificate,
                      &H::OnSelectClientCertificate),
  };
  return kCases;
}

TEST(RestConnectionHTTPSettings, TheTableHasARowForEachOne) {
  // Stops compiling when THTTPSettings gains or loses a member, which then
  // needs its row in the table.
  THTTPSettings settings;
  [[maybe_unused]] auto& [connection, proxyHost, proxyPort, proxyUsername, proxyPassword,
                          secureProtocols, connectTimeout, readTimeout, integratedAuthentication,
                          delegateCredentials, onValidateCertificate, onValidatePeerCertificate,
                          onValidatePeerCertificateErr, onAuthentication,
                          onSelectClientCertificate] = settings;
  EXPECT_EQ(HTTPSettingCases().size(), 15u);
}

TEST(RestConnectionHTTPSettings, SetBeforeTheHTTPObjectExistsReachEveryNewObject) {
  for (const auto& k : HTTPSettingCases()) {
    TRestConnection c;
    k.Set(c, 1);
    EXPECT_EQ(k.Get(c), 1) << k.Name;
    EXPECT_EQ(k.GetFromHTTP(c.HTTP()), 1) << k.Name;
    c.Reset();
    EXPECT_EQ(k.GetFromHTTP(c.HTTP()), 1) << k.Name << " after Reset";
  }
}

TEST(RestConnectionHTTPSettings, SetWhileItExistsGoIntoItAloneAndIntoTheCopy) {
  for (const auto& k : HTTPSettingCases()) {
    TRestConnection c;
    TRestHTTP& http = c.HTTP();
    k.Set(c, 1);
    EXPECT_EQ(k.GetFromHTTP(http), 1) << k.Name;
    EXPECT_EQ(k.Get(c), 1) << k.Name;
    for (const auto& other : HTTPSettingCases()) {
      if (&other != &k) {
        EXPECT_EQ(other.GetFromHTTP(http), 0) << k.Name << " moved " << other.Name;
      }
    }

    // The getter reads the object, which may have changed on its own ...
    k.SetInHTTP(http, 2);
    EXPECT_EQ(k.Get(c), 2) << k.Name;
    // ... while the next object is created from what was written.
    c.Reset();
    EXPECT_EQ(k.Get(c), 1) << k.Name;
    EXPECT_EQ(k.GetFromHTTP(c.HTTP()), 1) << k.Name << " after Reset";
  }
}

TEST(RestConnectionHTTPSettings, AssignCopiesThemFromWhereTheSourceReadsThem) {
  for (const bool targetHasHTTP : {false, true}) {
    for (const auto& k : HTTPSettingCases()) {
      const std::string note = std::string(k.Name) + (targetHasHTTP ? " into an HTTP object" : "");
      TRestConnection source, target;
      if (targetHasHTTP) target.HTTP();
      k.Set(source, 1);
      target.Assign(source);
      EXPECT_EQ(k.Get(target), 1) << note;
      EXPECT_EQ(k.GetFromHTTP(target.HTTP()), 1) << note;

      // A source with an HTTP object gives what its object holds, and the
      // target keeps that for its next object.
      k.SetInHTTP(source.HTTP(), 2);
      target.Assign(source);
      EXPECT_EQ(k.Get(target), 2) << note;
      target.Reset();
      EXPECT_EQ(k.GetFromHTTP(target.HTTP()), 2) << note << " after Reset";
    }
  }
}

// -------------------------------------------------------------- assignment

TEST(RestConnectionAssign, CopiesEverySettingSessionAndEvent) {
  TRestConnection source;
  source.SetProtocol("https");
  source.SetHost("h");
  source.SetPort(81);
  source.SetUrlPath("api");
  source.SetUserName("u");
  source.SetPassword("p");
  source.SetContext("c");
  source.SetRESTContext("r");
  source.SetCacheContext("k");
  source.SetSessionID("S9");
  source.SetPreserveSessionID(false);
  source.SetLoginPrompt(false);
  source.SetConnection("close");
  source.SetProxyHost("ph");
  source.SetProxyPort(1);
  source.SetProxyUsername("pu");
  source.SetProxyPassword("pp");
  source.SetSecureProtocols({THTTPSecureProtocol::TLS12});
  source.SetConnectTimeout(11);
  source.SetReadTimeout(22);
  std::vector<std::string> calls;
  source.SetOnLogin([&](TObject*, TRestLoginProperties&, bool&) { calls.push_back("login"); });
  source.SetOnBeforeExecute([&](TObject*) { calls.push_back("before"); });
  source.SetOnAfterExecute([&](TObject*) { calls.push_back("after"); });
  source.SetOnValidateCertificate([&](TObject*, const THTTPRequestInfo&, const TX509Certificate&,
                                      bool&) { calls.push_back("cert"); });
  source.SetOnValidatePeerCertificate(
      [&](TObject*, const TX509Certificate&, int, bool&) { calls.push_back("peer"); });
  source.SetOnValidatePeerCertificateErr(
      [&](TObject*, const TX509Certificate&, int, int, bool&) { calls.push_back("peerErr"); });
  source.SetOnAuthentication([&](TObject*, TAuthTargetType, const std::string&, const std::string&,
                                 std::string&, std::string&, bool&,
                                 TAuthPersistenceType&) { calls.push_back("auth"); });
  source.SetOnSelectClientCertificate([&](TObject*, const THTTPRequestInfo&,
                                          const std::vector<TX509Certificate>&,
                                          int&) { calls.push_back("select"); });

  TRestConnection target;
  target.HTTP();  // settings must go through the setters into it
  target.Assign(source);
  EXPECT_EQ(target.Protocol(), "https");
  EXPECT_EQ(target.HTTP().Protocol(), "https");
  EXPECT_EQ(target.Host(), "h");
  EXPECT_EQ(target.Port(), 81);
  EXPECT_EQ(target.UrlPath(), "api");
  EXPECT_EQ(target.UserName(), "u");
  EXPECT_EQ(target.Password(), "p");
  EXPECT_EQ(target.Context(), "c/");
  EXPECT_EQ(target.RESTContext(), "r/");
  EXPECT_EQ(target.CacheContext(), "k/");
  EXPECT_EQ(target.SessionID(), "S9");  // although the user name changed
  EXPECT_FALSE(target.PreserveSessionID());
  EXPECT_FALSE(target.LoginPrompt());
  EXPECT_EQ(target.Connection(), "close");
  EXPECT_EQ(target.HTTP().RequestHeaders().Header("Connection"), "close");
  EXPECT_EQ(target.ProxyHost(), "ph");
  EXPECT_EQ(target.ProxyPort(), 1);
  EXPECT_EQ(target.ProxyUsername(), "pu");
  EXPECT_EQ(target.ProxyPassword(), "pp");
  EXPECT_EQ(target.SecureProtocols(), THTTPSecureProtocols{THTTPSecureProtocol::TLS12});
  EXPECT_EQ(target.ConnectTimeout(), 11);
  EXPECT_EQ(target.ReadTimeout(), 22);

  bool flag = false;
  int index = 0;
  std::string s1, s2;
  TAuthPersistenceType persistence{};
  target.OnLogin()(nullptr, target.LoginProperties(), flag);
  target.OnBeforeExecute()(nullptr);
  target.OnAfterExecute()(nullptr);
  target.OnValidateCertificate()(nullptr, {}, {}, flag);
  target.OnValidatePeerCertificate()(nullptr, {}, 0, flag);
  target.OnValidatePeerCertificateErr()(nullptr, {}, 0, 0, flag);
  target.OnAuthentication()(nullptr, TAuthTargetType::Server, "", "", s1, s2, flag, persistence);
  target.OnSelectClientCertificate()(nullptr, {}, {}, index);
  EXPECT_EQ(calls, (std::vector<std::string>{"login", "before", "after", "cert", "peer", "peerErr",
                                             "auth", "select"}));
}

TEST(RestConnectionAssign, FromItselfChangesNothing) {
  TRestConnection c;
  c.SetUserName("u");
  c.SetSessionID("S");
  c.HTTP();
  c.Assign(c);
  EXPECT_EQ(c.UserName(), "u");
  EXPECT_EQ(c.SessionID(), "S");
  EXPECT_TRUE(c.HasHTTP());
}

TEST(RestConnectionAssign, RefusesAnyOtherKindOfObject) {
  TRestConnection c;
  TCustomRestConnection custom;
  TRestLoginProperties properties;
  TObject plain;
  struct TCase {
    TCustomRestConnection* Target;
    const TObject* Source;
    const char* Message;
  };
  const TCase kCases[] = {
      {&c, &properties, "Cannot assign a TRestLoginProperties to a TRestConnection"},
      {&c, &plain, "Cannot assign a TObject to a TRestConnection"},
      {&custom, &properties, "Cannot assign a TRestLoginProperties to a TCustomRestConnection"},
  };
  for (const auto& k : kCases) {
    try {
      k.Target->Assign(*k.Source);
      ADD_FAILURE() << "no exception for " << k.Message;
    } catch (const EConvertError& E) {
      EXPECT_EQ(E.Message(), k.Message);
    }
  }
  // A connection of the other class is a connection.
  custom.SetHost("x");
  c.Assign(custom);
  EXPECT_EQ(c.Host(), "x");
}

// ------------------------------------------------ command execution frame

// Runs the frame with a step that only records itself, and records every event.
class RestConnectionFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    Conn.SetOnBeforeExecute([this](TObject* ASender) {
      EXPECT_EQ(ASender, &Conn);
      Log.push_back("before:" + Conn.SessionID());
    });
    Conn.SetOnAfterExecute([this](TObject* ASender) {
      EXPECT_EQ(ASender, &Conn);
      Log.push_back("after");
    });
  }
  void TearDown() override { SetLoginDialogHook(nullptr); }

  void Run() {
    Conn.ExecuteInFrame([this] { Log.push_back("exchange"); });
  }

  TRestConnection Conn;
  std::vector<std::string> Log;
};

TEST_F(RestConnectionFrame, LoginPromptWithoutHandlerOrHookLetsTheCallThrough) {
  Run();
  EXPECT_EQ(Log, (std::vector<std::string>{"before:", "exchange", "after"}));
}

TEST_F(RestConnectionFrame, OnLoginCancellingAbortsSilentlyAndStillRunsAfter) {
  Conn.SetOnLogin([this](TObject* ASender, TRestLoginProperties& AProps, bool& ACancel) {
    EXPECT_EQ(ASender, &Conn);
    EXPECT_EQ(&AProps, &Conn.LoginProperties());
    EXPECT_FALSE(ACancel);
    Log.push_back("login");
    ACancel = true;
  });
  EXPECT_THROW(Run(), EAbort);
  EXPECT_EQ(Log, (std::vector<std::string>{"before:", "login", "after"}));
}

TEST_F(RestConnectionFrame, LoginIsSkippedWithoutLoginPrompt) {
  Conn.SetOnLogin([this](TObject*, TRestLoginProperties&, bool& ACancel) {
    Log.push_back("login");
    ACancel = true;
  });
  Conn.SetLoginPrompt(false);
  Run();
  EXPECT_EQ(Log, (std::vector<std::string>{"before:", "exchange", "after"}));
}

TEST_F(RestConnectionFrame, BeforeExecuteFailureSkipsEverythingElse) {
  Conn.SetOnBeforeExecute([](TObject*) { throw Exception("refused"); });
  EXPECT_THROW(Run(), Exception);
  EXPECT_TRUE(Log.empty());
}

TEST_F(RestConnectionFrame, FailedExchangeStillRunsAfterAndPropagates) {
  try {
    Conn.ExecuteInFrame([] { throw Exception("boom"); });
    ADD_FAILURE() << "no exception";
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), "boom");
  }
  EXPECT_EQ(Log, (std::vector<std::string>{"before:", "after"}));
}

TEST_F(RestConnectionFrame, PreserveSessionIDFalseEmptiesTheSessionBeforeTheEvent) {
  Conn.SetSessionID("S");
  Run();
  EXPECT_EQ(Log.front(), "before:S");
  Log.clear();
  Conn.SetPreserveSessionID(false);
  Run();
  EXPECT_EQ(Log.front(), "before:");
  EXPECT_EQ(Conn.SessionID(), "");
}

TEST_F(RestConnectionFrame, LoginDialogHookDecidesWhenNoOnLoginIsAssigned) {
  struct TCase {
    bool HookAnswer;
    bool Aborted;
  };
  for (const TCase k : {TCase{true, false}, TCase{false, true}}) {
    Log.clear();
    SetLoginDialogHook([&](TCustomRestConnection& AConn, TRestLoginProperties& AProps,
                           const std::function<void()>& ATest) {
      EXPECT_EQ(&AConn, &Conn);
      EXPECT_EQ(&AProps, &Conn.LoginProperties());
      EXPECT_TRUE(static_cast<bool>(ATest));
      AProps.SetUserName("from-dialog");
      Log.push_back("hook");
      return k.HookAnswer;
    });
    if (k.Aborted) {
      EXPECT_THROW(Run(), EAbort);
      EXPECT_EQ(Log, (std::vector<std::string>{"before:", "hook", "after"}));
    } else {
      Run();
      EXPECT_EQ(Log, (std::vector<std::string>{"before:", "hook", "exchange", "after"}));
    }
    EXPECT_EQ(Conn.UserName(), "from-dialog");
  }
  // OnLogin takes precedence over the hook.
  Log.clear();
  Conn.SetOnLogin([this](TObject*, TRestLoginProperties&, bool&) { Log.push_back("login"); });
  Run();
  EXPECT_EQ(Log, (std::vector<std::string>{"before:", "login", "exchange", "after"}));
}

// ------------------------------------------------ the exchange on the wire

class RestConnectionExchange : public ::testing::Test {
 protected:
  RestConnectionExchange() {
    Conn.SetHost("127.0.0.1");
    Conn.SetPort(Server.Port());
    Conn.SetLoginPrompt(false);
  }

  // A remote call as the command layer makes it.
  std::string Call(const std::string& AVerb = "GET", const std::string& ABody = {}) {
    auto response = Conn.SessionExchange(AVerb, Conn.RestBaseURL() + kEcho, "application/JSON",
                                         ABody, TSessionRule::ClearOnProtocolError);
    return response->StringValue();
  }
  // A request about a cached item as the cache layer makes it.
  std::string CacheGet(const std::string& APath) {
    auto response = Conn.SessionExchange("GET", Conn.CacheBaseURL() + APath, "application/JSON", {},
                                         TSessionRule::KeepOnProtocolError);
    return response->StringValue();
  }

  // Declared first so that it outlives the connection's open socket.
  TStandInServer Server;
  TRestConnection Conn;
};

TEST_F(RestConnectionExchange, SendsTheFixedHeadersByteForByte) {
  Conn.SetUserName("kiosco");
  Server.Enqueue(ResultAnswer("\"cba\""));
  EXPECT_EQ(Call(), "{\"result\":[\"cba\"]}");
  const auto r = Server.LastRequest();
  EXPECT_EQ(r.Method, "GET");
  EXPECT_EQ(r.Target, "/rpc/rest/TQVRServerMethods/EchoString/abc/");
  EXPECT_EQ(r.Header("Accept"), "application/JSON");
  EXPECT_EQ(r.Header("Content-Type"), "text/plain;charset=UTF-8");
  EXPECT_EQ(r.Header("If-Modified-Since"), "Mon, 1 Oct 1990 05:00:00 GMT");
  EXPECT_EQ(r.Header("User-Agent"), "Kolvane URI Client/1.0");
  EXPECT_EQ(r.Header("Connection"), "Keep-Alive");
  // base64("kiosco:"), as `printf 'kiosco:' | base64` prints it.
  EXPECT_EQ(r.Header("Authorization"), "Basic a2lvc2NvOg==");
  EXPECT_FALSE(r.HasHeader("Pragma"));
  EXPECT_FALSE(r.HasHeader("Cookie"));
  EXPECT_EQ(r.Body, "");
}

TEST_F(RestConnectionExchange, NoUserNameSendsNoAuthorization) {
  Call();
  EXPECT_FALSE(Server.LastRequest().HasHeader("Authorization"));
}

TEST_F(RestConnectionExchange, EmptyConnectionSettingSendsNoConnectionHeader) {
  Conn.SetConnection("");
  Call();
  EXPECT_FALSE(Server.LastRequest().HasHeader("Connection"));
}

TEST_F(RestConnectionExchange, PostBodyIsUtf8WithoutByteOrderMark) {
  // "é" and "€" as UTF-8; the server must see exactly these bytes.
  const std::string body = "{\"a\":\"\xC3\xA9\xE2\x82\xAC\"}";
  Call("POST", body);
  auto r = Server.LastRequest();
  EXPECT_EQ(r.Method, "POST");
  EXPECT_EQ(r.Body, body);
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(r.Header("Content-Type"), "text/plain;charset=UTF-8");

  Call("PUT", "");
  r = Server.LastRequest();
  EXPECT_EQ(r.Method, "PUT");
  EXPECT_EQ(r.Body, "");
  EXPECT_EQ(r.Header("Content-Length"), "0");
}

TEST_F(RestConnectionExchange, SessionIdTravelsBackAndForth) {
  struct TStep {
    const char* Note;
    test::TStandInAnswer Answer;
    const char* PragmaSent;  // "" = no Pragma header expected
    const char* SessionAfter;
  };
  const TStep kSteps[] = {
      {"first answer brings an id with more directives",
       ResultAnswer().WithSessionID("S1", "dssessionexpires=1200000"), "", "S1"},
      {"an answer without Pragma keeps it", ResultAnswer(), "sessionid=S1", "S1"},
      {"a Pragma without sessionid= keeps it", ResultAnswer().WithPragma("no-cache"),
       "sessionid=S1", "S1"},
      {"the case of sessionid= matters", ResultAnswer().WithPragma("SessionID=X"), "sessionid=S1",
       "S1"},
      {"of several Pragma headers the last counts",
       ResultAnswer().WithSessionID("A").WithSessionID("B"), "sessionid=S1", "B"},
      {"an empty id keeps the old one", ResultAnswer().WithPragma("sessionid=,x"), "sessionid=B",
       "B"},
      {"the id ends at the first comma", ResultAnswer().WithPragma("x, sessionid=C D,E"),
       "sessionid=B", "C D"},
  };
  for (const auto& step : kSteps) {
    Server.Enqueue(step.Answer);
    Call();
    const auto r = Server.LastRequest();
    if (*step.PragmaSent == '\0') {
      EXPECT_FALSE(r.HasHeader("Pragma")) << step.Note;
    } else {
      EXPECT_EQ(r.HeaderCount("Pragma"), 1u) << step.Note;
      EXPECT_EQ(r.Header("Pragma"), step.PragmaSent) << step.Note;
    }
    EXPECT_EQ(Conn.SessionID(), step.SessionAfter) << step.Note;
  }
}

TEST_F(RestConnectionExchange, ProtocolErrorClearsTheSessionOfARemoteCallOnly) {
  Conn.SetSessionID("S");
  Server.Enqueue(ErrorAnswer(404, "no such item"));
  EXPECT_THROW(CacheGet("item/0"), TRestProtocolException);
  EXPECT_EQ(Conn.SessionID(), "S");
  EXPECT_EQ(Server.LastRequest().Target, "/rpc/cache/item/0");
  EXPECT_EQ(Server.LastRequest().Header("Pragma"), "sessionid=S");

  Server.Enqueue(ErrorAnswer(404, "no such method"));
  EXPECT_THROW(Call(), TRestProtocolException);
  EXPECT_EQ(Conn.SessionID(), "");
  // The next call goes without Pragma: none survives in the HTTP object.
  Call();
  EXPECT_FALSE(Server.LastRequest().HasHeader("Pragma"));
}

TEST_F(RestConnectionExchange, NetworkFailureLeavesTheSession) {
  Conn.SetSessionID("S");
  int closedPort = 0;
  {
    TStandInServer gone;
    closedPort = gone.Port();
  }
  Conn.SetPort(closedPort);
  Conn.SetConnectTimeout(2000);
  EXPECT_THROW(Call(), ENetHTTPClientException);
  EXPECT_EQ(Conn.SessionID(), "S");
}

TEST_F(RestConnectionExchange, RequestTypeIsCheckedBeforeAnythingIsSent) {
  struct TCase {
    const char* Verb;
    const char* Method;  // nullptr: refused
  };
  const TCase kCases[] = {{"get", "GET"},         {"", "GET"},        {"Delete", "DELETE"},
                          {"post", "POST"},       {"PATCH", nullptr}, {"head", nullptr},
                          {"G\xC3\xA9T", nullptr}};
  for (const auto& k : kCases) {
    Server.ClearRequests();
    if (k.Method != nullptr) {
      Call(k.Verb, "x");
      EXPECT_EQ(Server.LastRequest().Method, k.Method) << k.Verb;
      // GET and DELETE send no body whatever they were given.
      EXPECT_EQ(Server.LastRequest().Body, std::string(k.Method) == "POST" ? "x" : "") << k.Verb;
    } else {
      try {
        Call(k.Verb);
        ADD_FAILURE() << k.Verb;
      } catch (const TRestProtocolException&) {
        ADD_FAILURE() << "protocol exception for " << k.Verb;
      } catch (const TRestException& E) {
        std::string upper = k.Verb;
        for (char& ch : upper)
          if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
        EXPECT_EQ(E.Message(), "Unexpected request type: " + upper + ".");
      }
      EXPECT_EQ(Server.RequestCount(), 0u) << k.Verb;
    }
  }
}

TEST_F(RestConnectionExchange, LoginCancelledSendsNothingAndRunsAfter) {
  Conn.SetLoginPrompt(true);
  bool after = false;
  Conn.SetOnLogin([](TObject*, TRestLoginProperties&, bool& ACancel) { ACancel = true; });
  Conn.SetOnAfterExecute([&](TObject*) { after = true; });
  EXPECT_THROW(Conn.ExecuteInFrame([this] { Call(); }), EAbort);
  EXPECT_TRUE(after);
  EXPECT_EQ(Server.RequestCount(), 0u);
}

TEST_F(RestConnectionExchange, BeforeExecuteRaisingSendsNothingAndSkipsAfter) {
  bool after = false;
  Conn.SetOnBeforeExecute([](TObject*) { throw Exception("not now"); });
  Conn.SetOnAfterExecute([&](TObject*) { after = true; });
  EXPECT_THROW(Conn.ExecuteInFrame([this] { Call(); }), Exception);
  EXPECT_FALSE(after);
  EXPECT_EQ(Server.RequestCount(), 0u);
}

TEST_F(RestConnectionExchange, LoginHandlerCredentialsAreUsedWithoutDroppingTheSession) {
  Conn.SetLoginPrompt(true);
  Conn.SetSessionID("S");
  Conn.SetOnLogin([](TObject*, TRestLoginProperties& AProps, bool&) {
    AProps.SetUserName("ana");
    AProps.SetPassword("pw");
  });
  Conn.ExecuteInFrame([this] { Call(); });
  // base64("ana:pw")
  EXPECT_EQ(Server.LastRequest().Header("Authorization"), "Basic YW5hOnB3");
  EXPECT_EQ(Server.LastRequest().Header("Pragma"), "sessionid=S");
  EXPECT_EQ(Conn.SessionID(), "S");
}

TEST_F(RestConnectionExchange, WithoutPreserveSessionIDNoCommandSendsPragma) {
  Conn.SetPreserveSessionID(false);
  for (const char* id : {"S0", "S1", "S2"}) {
    Server.Enqueue(ResultAnswer().WithSessionID(id));
    Conn.ExecuteInFrame([this] { Call(); });
    EXPECT_FALSE(Server.LastRequest().HasHeader("Pragma")) << id;
  }
  // The id of the last answer still serves a request about a cached item.
  CacheGet("item/0");
  EXPECT_EQ(Server.LastRequest().Header("Pragma"), "sessionid=S2");
}

TEST_F(RestConnectionExchange, ResetKeepsTheSessionForTheNextExchange) {
  Server.Enqueue(ResultAnswer().WithSessionID("S"));
  Call();
  TRestHTTP* before = &Conn.HTTP();
  Conn.Reset();
  Call();
  EXPECT_NE(&Conn.HTTP(), nullptr);
  (void)before;
  EXPECT_EQ(Server.LastRequest().Header("Pragma"), "sessionid=S");
}

TEST_F(RestConnectionExchange, HandlerResettingTheConnectionMidRequestIsSafe) {
  // With a user name every attempt offers the credentials to OnAuthentication
  // first; the handler discards the HTTP object that is running the request.
  Conn.SetUserName("ana");
  int calls = 0;
  Conn.SetOnAuthentication([&](TObject*, TAuthTargetType, const std::string&, const std::string&,
                               std::string&, std::string&, bool&, TAuthPersistenceType&) {
    ++calls;
    Conn.Reset();
  });
  Server.Enqueue(ResultAnswer("1").WithSessionID("S"));
  EXPECT_EQ(Call(), "{\"result\":[1]}");
  EXPECT_GE(calls, 1);
  EXPECT_FALSE(Conn.HasHTTP());
  EXPECT_EQ(Conn.SessionID(), "S");
  Call();  // a fresh HTTP object
  EXPECT_EQ(Server.LastRequest().Header("Pragma"), "sessionid=S");
}

// Tells, through Alive, whether this very copy of a closure still exists.
struct TLifeMark {
  TLifeMark() = default;
  TLifeMark(const TLifeMark&) {}
  TLifeMark& operator=(const TLifeMark&) = delete;
  ~TLifeMark() { *Alive = false; }
  std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
};

TEST_F(RestConnectionExchange, HandlerChangingASettingMidRequestKeepsRunning) {
  // Writing one setting must leave the running event alone: were it assigned
  // again, the handler's closure would be freed while it runs.
  Conn.SetUserName("ana");
  bool handlerAlive = false;
  Conn.SetOnAuthentication([&, mark = TLifeMark()](TObject*, TAuthTargetType, const std::string&,
                                                   const std::string&, std::string&, std::string&,
                                                   bool&, TAuthPersistenceType&) {
    // Taken before the writes: after them the closure may be gone.
    const std::shared_ptr<bool> alive = mark.Alive;
    bool* const result = &handlerAlive;
    Conn.SetReadTimeout(30000);
    Conn.SetProxyHost("");
    *result = *alive;
  });
  Call();
  EXPECT_TRUE(handlerAlive);
  EXPECT_EQ(Conn.HTTP().ReadTimeout(), 30000);
}

TEST_F(RestConnectionExchange, SameProtocolKeepsCookiesAnotherDropsThem) {
  Server.Enqueue(ResultAnswer().WithHeader("Set-Cookie", "k=v; Path=/"));
  Call();
  Call();
  EXPECT_EQ(Server.LastRequest().Header("Cookie"), "k=v");
  Conn.SetProtocol("http");
  Call();
  EXPECT_EQ(Server.LastRequest().Header("Cookie"), "k=v");
  Conn.SetProtocol("");
  Call();
  EXPECT_FALSE(Server.LastRequest().HasHeader("Cookie"));
}

// ------------------------------------------------------ connection test

TEST_F(RestConnectionExchange, TestConnectionAsksThePlatformNameThenCloses) {
  Conn.SetLoginPrompt(true);
  int logins = 0;
  Conn.SetOnLogin([&](TObject*, TRestLoginProperties&, bool& ACancel) {
    ++logins;
    ACancel = true;
  });
  Server.Enqueue(ResultAnswer("\"Linux\"").WithSessionID("S9"));
  Conn.TestConnection({TTestConnectionOption::toNoLoginPrompt});
  EXPECT_EQ(logins, 0) << "toNoLoginPrompt skips the login step";
  EXPECT_TRUE(Conn.LoginPrompt()) << "and puts the prompt back";
  const auto request = Server.LastRequest();
  EXPECT_EQ(request.Method, "GET");
  EXPECT_EQ(request.Target, "/rpc/rest/Admin/GetPlatformName/");
  EXPECT_EQ(request.Header("Accept"), "application/JSON");
  EXPECT_EQ(Conn.SessionID(), "S9");

  // Every later request of this HTTP object asks to close the connection.
  Conn.SetLoginPrompt(false);
  Call();
  EXPECT_EQ(Server.LastRequest().Header("Connection"), "close");
  Conn.SetConnection("Keep-Alive");
  Call();
  EXPECT_EQ(Server.LastRequest().Header("Connection"), "Keep-Alive");

  // Without the option the login step runs, and cancelling aborts silently.
  Conn.SetLoginPrompt(true);
  EXPECT_THROW(Conn.TestConnection({}), EAbort);
  EXPECT_EQ(logins, 1);
}

TEST_F(RestConnectionExchange, TestConnectionResults) {
  struct TCase {
    const char* Body;
    const char* Error;  // nullptr: the test passes
  };
  // The platform name is read as a text result is.
  const TCase kCases[] = {
      {"{\"result\":[\"Linux\"]}", nullptr},
      {"{\"result\":[7]}", nullptr},
      {"{\"result\":[true]}", nullptr},
      {"{\"result\":[\"\"]}", "Unexpected server method result"},
      {"{\"result\":[null]}", "Unexpected server method result"},
      {"{\"other\":1}", "Unexpected server method result"},
      {"not json", "Unexpected server method result"},
      {"{\"result\":[]}", "Argument out of range"},
  };
  for (const auto& k : kCases) {
    Server.Enqueue(test::JsonAnswer(200, k.Body));
    try {
      Conn.TestConnection({});
      EXPECT_EQ(k.Error, nullptr) << k.Body;
    } catch (const Exception& e) {
      ASSERT_NE(k.Error, nullptr) << k.Body << ": " << e.Message();
      EXPECT_EQ(e.Message(), k.Error) << k.Body;
    }
    Call();
    EXPECT_EQ(Server.LastRequest().Header("Connection"), "close") << k.Body;
  }
}

TEST_F(RestConnectionExchange, TestConnectionFailurePropagatesAndStillCloses) {
  Conn.SetSessionID("S1");
  Conn.SetLoginPrompt(true);
  Server.Enqueue(ErrorAnswer(500, "caido"));
  try {
    Conn.TestConnection({TTestConnectionOption::toNoLoginPrompt});
    FAIL() << "no exception";
  } catch (const TRestProtocolException& e) {
    EXPECT_EQ(e.Status(), 500);
  }
  EXPECT_EQ(Conn.SessionID(), "") << "a failed remote call forgets the session";
  EXPECT_TRUE(Conn.LoginPrompt());
  Conn.SetLoginPrompt(false);
  Call();
  EXPECT_EQ(Server.LastRequest().Header("Connection"), "close");
}

}  // namespace
}  // namespace qvr::rest
