// The attempt loop of TRestHTTP (declared in RestHTTP.h): one exchange as a
// series of attempts, each one curl transfer (detail/CurlTransfer), until a
// final answer. Here redirects are followed, a 401 or 407 is answered with the
// request's credentials, the credential store and OnAuthentication in turn, a
// refused server certificate is offered to the certificate events, and the
// headers of each attempt are put together; see docs/http-client.md.
#include <optional>

#include "platform/Base64Encoding.h"
#include "platform/Charset.h"
#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/http/RestHTTP.h"
#include "rest/http/detail/CurlTransfer.h"
#include "rest/http/detail/HttpUrl.h"
#include "rest/http/detail/Transfer.h"

namespace qvr::rest {

using detail::OriginOf;
using detail::ResolveLocation;
using detail::TAttemptResult;
using detail::TAttemptSetup;
using detail::TProxyMode;
using detail::TTransferOutcome;

namespace {

std::string BasicAuthorization(const std::string& AUserName, const std::string& APassword) {
  return "Basic " + TBase64Encoding::Base64().EncodeLine(AUserName + ":" + APassword);
}

// The realm of the first challenge that names one ("Basic realm="x"").
std::string ChallengeRealm(const THTTPResponse::THeaderList& AHeaders, std::string_view AName) {
  for (const auto& [name, value] : AHeaders) {
    if (!SameText(name, AName)) continue;
    const std::string lower = LowerCase(value);
    const auto pos = lower.find("realm=");
    if (pos == std::string::npos) continue;
    std::string_view rest = std::string_view(value).substr(pos + 6);
    if (!rest.empty() && rest.front() == '"') {
      rest.remove_prefix(1);
      std::string realm;
      for (std::size_t i = 0; i < rest.size() && rest[i] != '"'; ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
        realm += rest[i];
      }
      return realm;
    }
    return std::string(Trim(rest.substr(0, rest.find_first_of(", "))));
  }
  return {};
}

// A Pragma entry that carries a session id, which is a credential.
bool IsSessionPragma(std::string_view AName, std::string_view AValue) {
  return SameText(AName, "Pragma") && AValue.find("sessionid=") != std::string_view::npos;
}

// Where curl reaches a named proxy. The scheme of the proxy's name says which
// requests it serves (a connection names it with its own Protocol, so
// "https" for https requests), not how it is spoken to: the connection to
// the proxy is plain HTTP, and curl opens a CONNECT tunnel through it for an
// https request. (Given "https://", curl would speak TLS to the proxy
// itself, which an ordinary proxy never answers.)
std::string PlainProxyAddress(const TProxyConnectionInfo& AProxy) {
  std::string address = "http://" + AProxy.Host();
  if (AProxy.Port() != 0) address += ":" + std::to_string(AProxy.Port());
  return address;
}

bool IsRedirect(std::int32_t AStatus) {
  return AStatus == 300 || AStatus == 301 || AStatus == 302 || AStatus == 303 || AStatus == 307 ||
         AStatus == 308;
}

// The verb after a redirect: GET (without body) for POST on 301, 302 and 303,
// for PUT and DELETE on 303; every other combination keeps the verb.
bool RedirectSwitchesToGet(const std::string& AMethod, std::int32_t AStatus) {
  if (AMethod == "POST") return AStatus == 301 || AStatus == 302 || AStatus == 303;
  if (AMethod == "PUT" || AMethod == "DELETE") return AStatus == 303;
  return false;
}

std::string VersionPrefix(THTTPProtocolVersion AVersion) {
  switch (AVersion) {
    case THTTPProtocolVersion::HTTP_1_0:
      return "HTTP/1.0 ";
    case THTTPProtocolVersion::HTTP_1_1:
      return "HTTP/1.1 ";
    case THTTPProtocolVersion::HTTP_2_0:
      return "HTTP/2.0 ";
    case THTTPProtocolVersion::UNKNOWN_HTTP:
      break;
  }
  return {};
}

struct TPair {
  std::string UserName;
  std::string Password;
  bool operator==(const TPair&) const = default;
};

// Progress of one 401 or 407 sequence within an exchange.
struct TChallenge {
  enum class TStage { RequestCredentials, Store, Handler } Stage = TStage::RequestCredentials;
  std::vector<TCredential> StoreCandidates;
  std::size_t NextStore = 0;
  bool StoreLoaded = false;
};

// An upper bound on attempts per exchange, so that an authentication handler
// that keeps inventing new pairs cannot loop for ever.
constexpr int kMaxAttempts = 50;

// The headers of one attempt, in order: the header set's custom entries, then
// its standard ones, then the attempt's credentials. An attempt to another
// origin than the request's carries no credentials.
std::vector<std::string> HeaderLines(const THTTPRequestHeaders& AHeaders, const TStream* ABody,
                                     bool ABodyDropped, bool ASameOrigin,
                                     const std::optional<TPair>& AServerPair) {
  std::vector<std::string> lines;
  auto add = [&](std::string_view AName, std::string_view AValue) {
    if (HasLineBreak(AName) || HasLineBreak(AValue)) {
      // A line break would let a value forge further headers.
      detail::RaiseHeaderRefused();
    }
    std::string line(AName);
    line += ": ";
    line += AValue;
    lines.push_back(std::move(line));
  };
  bool contentType = false;
  for (const auto& [name, value] : AHeaders.CustomHeaders()) {
    if (ABodyDropped && SameText(name, "Content-Type")) continue;
    // Credentials go only to the origin of the request: the Authorization
    // entry and the Pragma entry that carries the session id.
    if (!ASameOrigin && (SameText(name, "Authorization") || IsSessionPragma(name, value))) {
      continue;
    }
    contentType = contentType || SameText(name, "Content-Type");
    add(name, value);
  }
  if (!AHeaders.Accept().empty()) {
    add("Accept", AHeaders.Accept());
  } else {
    lines.emplace_back("Accept:");
  }
  if (!AHeaders.AcceptCharSet().empty()) add("Accept-Charset", AHeaders.AcceptCharSet());
  if (!AHeaders.UserAgent().empty()) add("User-Agent", AHeaders.UserAgent());
  if (!AHeaders.AcceptEncoding().empty()) add("Accept-Encoding", AHeaders.AcceptEncoding());
  if (!AHeaders.ContentType().empty() && !ABodyDropped) {
    add("Content-Type", AHeaders.ContentType());
    contentType = true;
  }
  if (AServerPair && ASameOrigin) {
    add("Authorization", BasicAuthorization(AServerPair->UserName, AServerPair->Password));
  }
  // No form content type that curl would otherwise add to a body without one.
  if (ABody != nullptr && !contentType) lines.emplace_back("Content-Type:");
  // No "Expect: 100-continue", which curl adds to large bodies: ordinary
  // servers never answer it with a 100 (the body would wait a second for
  // it) and some refuse it with 417. The request carries what the exchange
  // lists and nothing else.
  if (ABody != nullptr) lines.emplace_back("Expect:");
  return lines;
}

}  // namespace

void TRestHTTP::Execute(const std::string& AMethod, const std::string& AURL, TStream* ASource,
                        TStream* AResponse) {
  // The origin of the request URL, worked out only once a redirect needs it.
  std::optional<std::string> origin;
  auto sameOriginAs = [&](const std::string& AURLNow) {
    if (AURLNow == AURL) return true;
    if (!origin) origin = OriginOf(AURL);
    return !origin->empty() && OriginOf(AURLNow) == *origin;
  };
  if (!FRequestHeaders.UserName().empty()) FPreemptiveAuthentication = true;
  const TPair requestPair{FRequestHeaders.UserName(), FRequestHeaders.Password()};

  TAttemptSetup setup;
  setup.Protocols = FSecureProtocols;
  setup.ConnectTimeout = FConnectTimeout;
  setup.ReadTimeout = FReadTimeout;
  setup.SendTimeout = FSendTimeout;
  setup.MaxHeldBodySize = FMaxHeldBodySize;
  TPair proxyRequestPair;
  if (FProxyConnectionInfo && !FProxyConnectionInfo->Host().empty()) {
    if (FProxyConnectionInfo->IsDirect()) {
      setup.Proxy = TProxyMode::None;
    } else {
      setup.Proxy = TProxyMode::Named;
      setup.ProxyName = PlainProxyAddress(*FProxyConnectionInfo);
      proxyRequestPair = {FProxyConnectionInfo->UserName(), FProxyConnectionInfo->Password()};
    }
  }

  // Offers credentials to OnAuthentication (or the store without a handler)
  // before an attempt; empty or aborted means none.
  auto offer = [&](TAuthTargetType ATarget, const std::string& AURLNow,
                   TPair APair) -> std::optional<TPair> {
    if (FOnAuthEvent) {
      bool abort = false;
      TAuthPersistenceType persistence = TAuthPersistenceType::Client;
      FOnAuthEvent(this, ATarget, "", AURLNow, APair.UserName, APair.Password, abort, persistence);
      if (abort) return std::nullopt;
    } else {
      const auto found = FCredentials.Find(ATarget, "", AURLNow);
      if (!found.empty()) APair = {found.front().UserName, found.front().Password};
    }
    if (APair.UserName.empty()) return std::nullopt;
    return APair;
  };

  // The next pair to answer a 401 or 407 with, or none to end the sequence.
  auto answerChallenge = [&](TAuthTargetType ATarget, TChallenge& AState,
                             const TAttemptResult& AResult, const std::string& AURLNow,
                             const TPair& ARequestPair,
                             const std::optional<TPair>& ALastSent) -> std::optional<TPair> {
    const std::string realm =
        ChallengeRealm(AResult.Headers, ATarget == TAuthTargetType::Server ? "WWW-Authenticate"
                                                                           : "Proxy-Authenticate");
    const auto fresh = [&](const TPair& APair) { return !ALastSent || !(*ALastSent == APair); };
    if (AState.Stage == TChallenge::TStage::RequestCredentials) {
      AState.Stage = TChallenge::TStage::Store;
      if (!ARequestPair.UserName.empty() && fresh(ARequestPair)) return ARequestPair;
    }
    if (AState.Stage == TChallenge::TStage::Store) {
      if (!AState.StoreLoaded) {
        AState.StoreCandidates = FCredentials.Find(ATarget, realm, AURLNow);
        AState.StoreLoaded = true;
      }
      while (AState.NextStore < AState.StoreCandidates.size()) {
        const TCredential& c = AState.StoreCandidates[AState.NextStore++];
        const TPair pair{c.UserName, c.Password};
        if (!pair.UserName.empty() && fresh(pair)) return pair;
      }
      AState.Stage = TChallenge::TStage::Handler;
    }
    // Without a handler the store had its turn above: there is no new pair.
    if (!FOnAuthEvent) return std::nullopt;
    TPair pair;
    bool abort = false;
    TAuthPersistenceType persistence = TAuthPersistenceType::Client;
    FOnAuthEvent(this, ATarget, realm, AURLNow, pair.UserName, pair.Password, abort, persistence);
    if (abort || (pair.UserName.empty() && pair.Password.empty()) || !fresh(pair)) {
      return std::nullopt;
    }
    if (persistence == TAuthPersistenceType::Client) {
      FCredentials.Add({ATarget, realm, AURLNow, pair.UserName, pair.Password});
    }
    return pair;
  };

  std::string method = AMethod;
  std::string url = AURL;
  TStream* body = ASource;
  bool bodyDropped = false;
  bool verifyPeer = true;
  // The public key of the certificate an event accepted, the only one that
  // the retry accepts.
  std::string pinnedKey;
  bool offerDue = true;
  std::int32_t redirects = 0;
  std::optional<TPair> serverPair;
  std::optional<TPair> proxyPair;
  TChallenge serverChallenge;
  TChallenge proxyChallenge;

  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    const bool sameOrigin = sameOriginAs(url);
    if (offerDue) {
      offerDue = false;
      serverPair.reset();
      if (FPreemptiveAuthentication && sameOrigin) {
        serverPair = offer(TAuthTargetType::Server, url, requestPair);
      }
      if (setup.Proxy == TProxyMode::Named && !proxyRequestPair.UserName.empty()) {
        proxyPair = offer(TAuthTargetType::Proxy, url, proxyRequestPair);
      }
    }
    setup.Method = method;
    setup.URL = url;
    setup.Body = body;
    setup.VerifyPeer = verifyPeer;
    setup.PinnedPublicKey = pinnedKey;
    setup.ProxyCredentials = proxyPair.has_value() && setup.Proxy != TProxyMode::None;
    setup.ProxyUserName = proxyPair ? proxyPair->UserName : std::string();
    setup.ProxyPassword = proxyPair ? proxyPair->Password : std::string();
    setup.HeaderLines = HeaderLines(FRequestHeaders, body, bodyDropped, sameOrigin, serverPair);
    if (body != nullptr) body->SetPosition(0);

    TAttemptResult r = FHTTPClient->Perform(setup, AResponse);
    if (r.Outcome == TTransferOutcome::ServerCertificateRefused) {
      // Without the key's pin the retry could not be held to this certificate.
      if (!r.HaveServerCertificate || r.ServerPublicKeyPin.empty()) {
        throw ENetHTTPCertificateException("Error getting Server Certificate");
      }
      if (!ServerCertificateAccepted(method, url, r.ServerCertificate)) {
        throw ENetHTTPCertificateException("Server Certificate not accepted");
      }
      verifyPeer = false;
      pinnedKey = r.ServerPublicKeyPin;
      continue;
    }
    if (r.Outcome != TTransferOutcome::Answered) detail::RaiseTransferFailure(r, setup);

    if (r.Status == 401 && sameOrigin) {
      const std::optional<TPair> sent = serverPair;
      if (auto next = answerChallenge(TAuthTargetType::Server, serverChallenge, r, url, requestPair,
                                      sent)) {
        serverPair = next;
        continue;
      }
    }
    if (r.Status == 407 && setup.Proxy != TProxyMode::None) {
      const std::optional<TPair> sent = proxyPair;
      if (auto next = answerChallenge(TAuthTargetType::Proxy, proxyChallenge, r, url,
                                      proxyRequestPair, sent)) {
        proxyPair = next;
        continue;
      }
    }
    if (IsRedirect(r.Status)) {
      std::string location;
      for (const auto& [name, value] : r.Headers) {
        if (SameText(name, "Location")) location = value;
      }
      if (!location.empty()) {
        if (redirects >= FMaxRedirects) {
          throw ENetHTTPRequestException(
              Format("Maximum number of redirections (%d) exceeded", FMaxRedirects));
        }
        const std::string next = ResolveLocation(url, location);
        if (!next.empty()) {
          ++redirects;
          if (RedirectSwitchesToGet(method, r.Status)) {
            method = "GET";
            body = nullptr;
            bodyDropped = true;
          }
          url = next;
          verifyPeer = true;
          pinnedKey.clear();
          offerDue = true;
          serverChallenge = {};
          proxyChallenge = {};
          continue;
        }
      }
    }

    FHTTPResponse = std::make_shared<const THTTPResponse>(r.Status, r.StatusText, r.Version,
                                                          std::move(r.Headers), url);
    if (r.Status >= 300) {
      if (AResponse != nullptr) AResponse->Write(r.ErrorBody);
      const std::string charset = FHTTPResponse->ContentCharSet();
      std::string text =
          charset.empty() ? SanitizeUtf8(r.ErrorBody) : DecodeCharset(r.ErrorBody, charset);
      throw EHTTPProtocolException(
          r.Status, std::move(text),
          VersionPrefix(r.Version) + Format("%d %s", r.Status, r.StatusText));
    }
    return;
  }
  throw ENetHTTPClientException("Execution of request terminated with unknown error");
}

bool TRestHTTP::ServerCertificateAccepted(const std::string& AMethod, const std::string& AURL,
                                          const TX509Certificate& ACertificate) {
  bool accepted = false;
  if (FOnValidateCertificate) {
    FOnValidateCertificate(this, THTTPRequestInfo{AMethod, AURL}, ACertificate, accepted);
  } else if (FOnValidatePeerCertificate) {
    FOnValidatePeerCertificate(this, ACertificate, 0, accepted);
  } else if (FOnValidatePeerCertificateErr) {
    FOnValidatePeerCertificateErr(this, ACertificate, 0, 0, accepted);
  }
  // With no event assigned the certificate stays refused.
  return accepted;
}

}  // namespace qvr::rest
