// The attempt loop of TRestHTTP (detail/AttemptLoop.h): one exchange as a
// series of attempts until a final answer. Here a 401 or 407 is answered with
// the offered schemes in the order Negotiate, NTLM, Digest, Basic, and with
// the request's credentials, the credential store and OnAuthentication in
// turn, redirects are followed, a refused server certificate is offered to
// the certificate events, and the headers of each attempt are put together;
// see docs/http-client.md. The transfer is reached through detail::ITransfer
// and speaks in outcomes, so nothing here depends on curl.
#include "rest/http/detail/AttemptLoop.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <utility>

#include "platform/Base64Encoding.h"
#include "platform/Charset.h"
#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/http/HTTPResponse.h"
#include "rest/http/detail/HttpUrl.h"

namespace qvr::rest {

using detail::TAttemptResult;
using detail::TProxyMode;
using detail::TTransferOutcome;

namespace {

// An upper bound on attempts per exchange, so that an authentication handler
// that keeps inventing new pairs cannot loop for ever.
constexpr int kMaxAttempts = 50;

std::string BasicAuthorization(const std::string& AUserName, const std::string& APassword) {
  return "Basic " + TBase64Encoding::Base64().EncodeLine(AUserName + ":" + APassword);
}

void AddHeaderLine(std::vector<std::string>& ALines, std::string_view AName,
                   std::string_view AValue) {
  // A line break would let a value forge further headers.
  if (HasLineBreak(AName) || HasLineBreak(AValue)) detail::RaiseHeaderRefused();
  std::string line(AName);
  line += ": ";
  line += AValue;
  ALines.push_back(std::move(line));
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

// The scheme a challenge names (without regard to case; "Passport1.4" is
// Passport); None for a scheme the HTTP object does not know.
THTTPAuthScheme SchemeNamed(std::string_view AName) {
  for (auto scheme : {THTTPAuthScheme::Negotiate, THTTPAuthScheme::NTLM, THTTPAuthScheme::Digest,
                      THTTPAuthScheme::Basic}) {
    if (SameText(AName, AuthSchemeName(scheme))) return scheme;
  }
  if (AName.size() >= 8 && SameText(AName.substr(0, 8), "Passport")) {
    return THTTPAuthScheme::Passport;
  }
  return THTTPAuthScheme::None;
}

// The schemes the challenges of the headers named AName offer. A header may
// hold several challenges separated by commas, each a scheme followed by a
// token or by parameters (name=value, separated by commas as well): an
// element whose first word holds no "=" starts a challenge.
THTTPAuthSchemes OfferedSchemes(const THTTPResponse::THeaderList& AHeaders,
                                std::string_view AName) {
  THTTPAuthSchemes offered;
  for (const auto& [name, value] : AHeaders) {
    if (!SameText(name, AName)) continue;
    const std::string_view text = value;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (i < text.size()) {
        if (quoted && text[i] == '\\') {
          ++i;
          continue;
        }
        if (text[i] == '"') quoted = !quoted;
        if (quoted || text[i] != ',') continue;
      }
      const std::string_view element = Trim(text.substr(start, i - start));
      start = i + 1;
      const std::string_view word = element.substr(0, element.find_first_of(" \t"));
      if (!word.empty() && word.find('=') == std::string_view::npos) {
        offered.Include(SchemeNamed(word));
      }
    }
  }
  return offered;
}

// Schemes that answer with a user name and password, in the order tried.
constexpr THTTPAuthScheme kPasswordSchemes[] = {THTTPAuthScheme::NTLM, THTTPAuthScheme::Digest,
                                                THTTPAuthScheme::Basic};

bool TakesPair(THTTPAuthScheme AScheme) {
  return std::ranges::find(kPasswordSchemes, AScheme) != std::end(kPasswordSchemes);
}

// The first scheme of AUsable that takes a pair and is not in ADone.
THTTPAuthScheme NextPairScheme(THTTPAuthSchemes AUsable, THTTPAuthSchemes ADone) {
  for (auto scheme : kPasswordSchemes) {
    if (AUsable.Contains(scheme) && !ADone.Contains(scheme)) return scheme;
  }
  return THTTPAuthScheme::None;
}

// Schemes that authenticate the connection rather than each request: they
// start on a connection of their own, which no earlier attempt left in
// another scheme's state.
bool BindsConnection(THTTPAuthScheme AScheme) {
  return AScheme == THTTPAuthScheme::Negotiate || AScheme == THTTPAuthScheme::NTLM;
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
  if (AProxy.Port() != 0) {
    address += ':';
    address += std::to_string(AProxy.Port());
  }
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

}  // namespace

TRestHTTP::TAttemptLoop::TAttemptLoop(TRestHTTP& AOwner, detail::ITransfer& ATransfer,
                                      const std::string& AMethod, const std::string& AURL,
                                      TStream* ASource, TStream* AResponse)
    : FOwner(AOwner),
      FTransfer(ATransfer),
      FRequestURL(AURL),
      FResponse(AResponse),
      FServer(TAuthTargetType::Server, "WWW-Authenticate"),
      FProxy(TAuthTargetType::Proxy, "Proxy-Authenticate") {
  FServer.Requested = {FOwner.FRequestHeaders.UserName(), FOwner.FRequestHeaders.Password()};
  if (!FServer.Requested.UserName.empty()) FOwner.FPreemptiveAuthentication = true;
  FSetup.Method = AMethod;
  FSetup.URL = AURL;
  FSetup.Body = ASource;
  FSetup.Protocols = FOwner.FSecureProtocols;
  FSetup.ConnectTimeout = FOwner.FConnectTimeout;
  FSetup.ReadTimeout = FOwner.FReadTimeout;
  FSetup.SendTimeout = FOwner.FSendTimeout;
  FSetup.MaxHeldBodySize = FOwner.FMaxHeldBodySize;
  UseProxySettings();
}

void TRestHTTP::TAttemptLoop::UseProxySettings() {
  const TProxyConnectionInfo* proxy = FOwner.FProxyConnectionInfo.get();
  if (proxy == nullptr || proxy->Host().empty()) return;
  if (proxy->IsDirect()) {
    FSetup.Proxy = TProxyMode::None;
    return;
  }
  FSetup.Proxy = TProxyMode::Named;
  FSetup.ProxyName = PlainProxyAddress(*proxy);
  FProxy.Requested = {proxy->UserName(), proxy->Password()};
}

void TRestHTTP::TAttemptLoop::Run() {
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    PrepareAttempt();
    TAttemptResult result = FTransfer.Perform(FSetup, FResponse);
    if (!RetryDue(result)) {
      KeepFinalAnswer(result);
      return;
    }
  }
  throw ENetHTTPClientException("Execution of request terminated with unknown error");
}

void TRestHTTP::TAttemptLoop::PrepareAttempt() {
  FAtOrigin = AtRequestOrigin(FSetup.URL);
  if (FOfferDue) OfferCredentials();
  SetUpAuthentication();
  FSetup.HeaderLines = HeaderLines();
  if (FSetup.Body != nullptr) FSetup.Body->SetPosition(0);
}

void TRestHTTP::TAttemptLoop::OfferCredentials() {
  FOfferDue = false;
  // Ahead of a challenge only Basic goes out: any other scheme waits until
  // the URL's own origin asked for it.
  FServer.Sent.reset();
  if (FOwner.FPreemptiveAuthentication && FAtOrigin) FServer.Sent = Offer(FServer);
  FServer.Scheme = FServer.Sent ? THTTPAuthScheme::Basic : THTTPAuthScheme::None;
  // The proxy is the same whatever the URL, so the scheme and pair that
  // answered its 407 stay across redirects; only a pair of the proxy
  // settings is offered again.
  if (FSetup.Proxy == TProxyMode::Named && !FProxy.Requested.UserName.empty()) {
    FProxy.Sent = Offer(FProxy);
    FProxy.Scheme = FProxy.Sent ? THTTPAuthScheme::Basic : THTTPAuthScheme::None;
  }
}

void TRestHTTP::TAttemptLoop::SetUpAuthentication() {
  // The server's schemes other than Basic (a header line) are curl's to
  // answer, at the request's origin only.
  const THTTPAuthScheme server = FAtOrigin && FServer.Scheme != THTTPAuthScheme::Basic
                                     ? FServer.Scheme
                                     : THTTPAuthScheme::None;
  // The pair goes with the schemes that take one.
  const auto answerWith = [](THTTPAuthScheme AScheme, const TAuthParty& AParty) {
    detail::TAuthAnswer answer{AScheme, {}, {}};
    if (TakesPair(AScheme) && AParty.Sent) {
      answer.UserName = AParty.Sent->UserName;
      answer.Password = AParty.Sent->Password;
    }
    return answer;
  };
  FSetup.ServerAuth = answerWith(server, FServer);
  const THTTPAuthScheme proxy = FSetup.Proxy != TProxyMode::None &&
                                        (FProxy.Sent || FProxy.Scheme == THTTPAuthScheme::Negotiate)
                                    ? FProxy.Scheme
                                    : THTTPAuthScheme::None;
  FSetup.ProxyAuth = answerWith(proxy, FProxy);
  // Delegation only where the settings allow it for every party that the
  // attempt answers with Negotiate: curl has one switch for both.
  const bool toServer = server == THTTPAuthScheme::Negotiate;
  const bool toProxy = proxy == THTTPAuthScheme::Negotiate;
  FSetup.Delegate =
      (toServer || toProxy) &&
      (!toServer || DelegatesTo(FOwner.FDelegateCredentials, TAuthTargetType::Server)) &&
      (!toProxy || DelegatesTo(FOwner.FDelegateCredentials, TAuthTargetType::Proxy));
  FSetup.FreshConnection = std::exchange(FFreshConnectionDue, false);
}

std::optional<TRestHTTP::TAttemptLoop::TPair> TRestHTTP::TAttemptLoop::Offer(
    const TAuthParty& AParty) const {
  TPair pair = AParty.Requested;
  if (FOwner.FOnAuthEvent) {
    bool abort = false;
    TAuthPersistenceType persistence = TAuthPersistenceType::Client;
    FOwner.FOnAuthEvent(&FOwner, AParty.Target, "", FSetup.URL, pair.UserName, pair.Password, abort,
                        persistence);
    if (abort) return std::nullopt;
  } else {
    const auto found = FOwner.FCredentials.Find(AParty.Target, "", FSetup.URL);
    if (!found.empty()) pair = {found.front().UserName, found.front().Password};
  }
  if (pair.UserName.empty()) return std::nullopt;
  return pair;
}

std::vector<std::string> TRestHTTP::TAttemptLoop::HeaderLines() const {
  std::vector<std::string> lines;
  const bool contentType = AddHeaderSetLines(lines);
  // An attempt to another origin than the request's carries no credentials.
  if (FServer.Scheme == THTTPAuthScheme::Basic && FServer.Sent && FAtOrigin) {
    AddHeaderLine(lines, "Authorization",
                  BasicAuthorization(FServer.Sent->UserName, FServer.Sent->Password));
  }
  // No form content type that curl would otherwise add to a body without one.
  if (FSetup.Body != nullptr && !contentType) lines.emplace_back("Content-Type:");
  // No "Expect: 100-continue", which curl adds to large bodies: ordinary
  // servers never answer it with a 100 (the body would wait a second for
  // it) and some refuse it with 417. The request carries what the exchange
  // lists and nothing else.
  if (FSetup.Body != nullptr) lines.emplace_back("Expect:");
  return lines;
}

bool TRestHTTP::TAttemptLoop::AddHeaderSetLines(std::vector<std::string>& ALines) const {
  const THTTPRequestHeaders& headers = FOwner.FRequestHeaders;
  bool contentType = false;
  for (const auto& [name, value] : headers.CustomHeaders()) {
    if (FBodyDropped && SameText(name, "Content-Type")) continue;
    // Credentials go only to the origin of the request: the Authorization
    // entry and the Pragma entry that carries the session id. An attempt
    // that answers a challenge carries only that scheme's Authorization.
    if (!FAtOrigin && (SameText(name, "Authorization") || IsSessionPragma(name, value))) continue;
    if (FSetup.ServerAuth.Scheme != THTTPAuthScheme::None && SameText(name, "Authorization")) {
      continue;
    }
    contentType = contentType || SameText(name, "Content-Type");
    AddHeaderLine(ALines, name, value);
  }
  if (!headers.Accept().empty()) {
    AddHeaderLine(ALines, "Accept", headers.Accept());
  } else {
    ALines.emplace_back("Accept:");
  }
  if (!headers.AcceptCharSet().empty()) {
    AddHeaderLine(ALines, "Accept-Charset", headers.AcceptCharSet());
  }
  if (!headers.UserAgent().empty()) AddHeaderLine(ALines, "User-Agent", headers.UserAgent());
  if (!headers.AcceptEncoding().empty()) {
    AddHeaderLine(ALines, "Accept-Encoding", headers.AcceptEncoding());
  }
  if (!headers.ContentType().empty() && !FBodyDropped) {
    AddHeaderLine(ALines, "Content-Type", headers.ContentType());
    contentType = true;
  }
  return contentType;
}

bool TRestHTTP::TAttemptLoop::RetryDue(const TAttemptResult& AResult) {
  switch (AResult.Outcome) {
    case TTransferOutcome::Answered:
      return AnswerChallenge(AResult) || FollowRedirect(AResult);
    case TTransferOutcome::ServerCertificateRefused:
      AcceptServerCertificate(AResult);
      return true;
    // Every failure is listed, so that a new outcome is a decision here.
    case TTransferOutcome::PinnedKeyMismatch:
    case TTransferOutcome::UrlRefused:
    case TTransferOutcome::ClientCertificateListEmpty:
    case TTransferOutcome::ClientCertificateUnspecified:
    case TTransferOutcome::ClientCertificateRejected:
    case TTransferOutcome::HeldBodyTooLarge:
    case TTransferOutcome::Failed:
      break;
  }
  detail::RaiseTransferFailure(AResult, FSetup);
}

bool TRestHTTP::TAttemptLoop::AnswerChallenge(const TAttemptResult& AResult) {
  // Another origin's 401 is final: the request's credentials are not for it.
  if (AResult.Status == 401 && FAtOrigin) return Answer(FServer, AResult);
  if (AResult.Status == 407 && FSetup.Proxy != TProxyMode::None) return Answer(FProxy, AResult);
  return false;
}

THTTPAuthSchemes TRestHTTP::TAttemptLoop::Answerable() const {
  THTTPAuthSchemes schemes = FOwner.FIntegratedAuthentication & FTransfer.Schemes();
  schemes.Include(THTTPAuthScheme::Basic);
  return schemes;
}

bool TRestHTTP::TAttemptLoop::Answer(TAuthParty& AParty, const TAttemptResult& AResult) {
  using enum THTTPAuthScheme;
  TChallenge& challenge = AParty.Challenge;
  // A refusal names the schemes it takes now, which may be fewer than the
  // first challenge offered (a proxy repeats only the refused one); what was
  // offered once is still tried.
  challenge.Offered = challenge.Offered | OfferedSchemes(AResult.Headers, AParty.ChallengeHeader);
  if (AParty.Scheme != None) {
    challenge.Tried.Include(AParty.Scheme);
    if (TakesPair(AParty.Scheme)) challenge.PairTried.Include(AParty.Scheme);
  }
  const THTTPAuthSchemes usable = challenge.Offered & Answerable();
  // The user's tickets first, once: they need no pair.
  if (usable.Contains(Negotiate) && !challenge.Tried.Contains(Negotiate)) {
    AParty.Scheme = Negotiate;
    FFreshConnectionDue = true;
    return true;
  }
  THTTPAuthScheme scheme = AParty.Sent ? NextPairScheme(usable, challenge.PairTried) : None;
  if (scheme == None) {
    // The pair has had every scheme: the next pair, from the first one.
    scheme = NextPairScheme(usable, {});
    if (scheme == None) return false;
    const std::string realm = ChallengeRealm(AResult.Headers, AParty.ChallengeHeader);
    std::optional<TPair> next = NextPair(AParty, realm);
    if (!next) return false;
    AParty.Sent = std::move(next);
    challenge.PairTried = {};
  }
  AParty.Scheme = scheme;
  FFreshConnectionDue = FFreshConnectionDue || BindsConnection(scheme);
  return true;
}

std::optional<TRestHTTP::TAttemptLoop::TPair> TRestHTTP::TAttemptLoop::NextPair(
    TAuthParty& AParty, const std::string& ARealm) {
  using TStage = TChallenge::TStage;
  TChallenge& challenge = AParty.Challenge;
  if (challenge.Stage == TStage::RequestCredentials) {
    challenge.Stage = TStage::Store;
    // Skipped when that very pair was just refused.
    if (!AParty.Requested.UserName.empty() && AParty.Sent != AParty.Requested) {
      return AParty.Requested;
    }
  }
  if (challenge.Stage == TStage::Store) {
    if (auto stored = NextStoredPair(AParty, ARealm)) return stored;
    challenge.Stage = TStage::Handler;
  }
  return PairFromHandler(AParty, ARealm);
}

std::optional<TRestHTTP::TAttemptLoop::TPair> TRestHTTP::TAttemptLoop::NextStoredPair(
    TAuthParty& AParty, const std::string& ARealm) {
  TChallenge& challenge = AParty.Challenge;
  if (!challenge.Stored) {
    challenge.Stored = FOwner.FCredentials.Find(AParty.Target, ARealm, FSetup.URL);
  }
  while (challenge.NextStored < challenge.Stored->size()) {
    const TCredential& stored = (*challenge.Stored)[challenge.NextStored++];
    TPair pair{stored.UserName, stored.Password};
    if (!pair.UserName.empty() && AParty.Sent != pair) return pair;
  }
  return std::nullopt;
}

std::optional<TRestHTTP::TAttemptLoop::TPair> TRestHTTP::TAttemptLoop::PairFromHandler(
    TAuthParty& AParty, const std::string& ARealm) {
  // Without a handler the store has had its turn: there is no new pair.
  if (!FOwner.FOnAuthEvent) return std::nullopt;
  TPair pair;
  bool abort = false;
  TAuthPersistenceType persistence = TAuthPersistenceType::Client;
  FOwner.FOnAuthEvent(&FOwner, AParty.Target, ARealm, FSetup.URL, pair.UserName, pair.Password,
                      abort, persistence);
  if (abort || (pair.UserName.empty() && pair.Password.empty()) || AParty.Sent == pair) {
    return std::nullopt;
  }
  if (persistence == TAuthPersistenceType::Client) {
    FOwner.FCredentials.Add({AParty.Target, ARealm, FSetup.URL, pair.UserName, pair.Password});
  }
  return pair;
}

bool TRestHTTP::TAttemptLoop::FollowRedirect(const TAttemptResult& AResult) {
  if (!IsRedirect(AResult.Status)) return false;
  const std::string location = LastHeaderValue(AResult.Headers, "Location");
  if (location.empty()) return false;
  if (FRedirects >= FOwner.FMaxRedirects) {
    throw ENetHTTPRequestException(
        Format("Maximum number of redirections (%d) exceeded", FOwner.FMaxRedirects));
  }
  std::string next = detail::ResolveLocation(FSetup.URL, location);
  if (next.empty()) return false;
  ++FRedirects;
  if (RedirectSwitchesToGet(FSetup.Method, AResult.Status)) {
    FSetup.Method = "GET";
    FSetup.Body = nullptr;
    FBodyDropped = true;
  }
  FSetup.URL = std::move(next);
  // The new URL is verified again and offered credentials again, and a
  // challenge from there starts its sequence anew.
  FSetup.VerifyPeer = true;
  FSetup.PinnedPublicKey.clear();
  FOfferDue = true;
  FServer.Challenge = {};
  FProxy.Challenge = {};
  return true;
}

void TRestHTTP::TAttemptLoop::AcceptServerCertificate(const TAttemptResult& AResult) {
  // Without the key's pin the retry could not be held to this certificate.
  if (!AResult.HaveServerCertificate || AResult.ServerPublicKeyPin.empty()) {
    throw ENetHTTPCertificateException("Error getting Server Certificate");
  }
  if (!ServerCertificateAccepted(AResult.ServerCertificate)) {
    throw ENetHTTPCertificateException("Server Certificate not accepted");
  }
  // The retry accepts exactly this certificate, whatever its issuer, name or
  // dates, and no other.
  FSetup.VerifyPeer = false;
  FSetup.PinnedPublicKey = AResult.ServerPublicKeyPin;
}

bool TRestHTTP::TAttemptLoop::ServerCertificateAccepted(
    const TX509Certificate& ACertificate) const {
  bool accepted = false;
  if (FOwner.FOnValidateCertificate) {
    FOwner.FOnValidateCertificate(&FOwner, THTTPRequestInfo{FSetup.Method, FSetup.URL},
                                  ACertificate, accepted);
  } else if (FOwner.FOnValidatePeerCertificate) {
    FOwner.FOnValidatePeerCertificate(&FOwner, ACertificate, 0, accepted);
  } else if (FOwner.FOnValidatePeerCertificateErr) {
    FOwner.FOnValidatePeerCertificateErr(&FOwner, ACertificate, 0, 0, accepted);
  }
  // With no event assigned the certificate stays refused.
  return accepted;
}

bool TRestHTTP::TAttemptLoop::AtRequestOrigin(const std::string& AURL) {
  if (AURL == FRequestURL) return true;
  if (!FRequestOrigin) FRequestOrigin = detail::OriginOf(FRequestURL);
  return !FRequestOrigin->empty() && detail::OriginOf(AURL) == *FRequestOrigin;
}

void TRestHTTP::TAttemptLoop::KeepFinalAnswer(TAttemptResult& AResult) {
  const THTTPAuthScheme server = FAtOrigin ? FServer.Scheme : THTTPAuthScheme::None;
  const THTTPAuthScheme proxy = FSetup.ProxyAuth.Scheme;
  FOwner.FHTTPResponse =
      std::make_shared<const THTTPResponse>(AResult.Status, AResult.StatusText, AResult.Version,
                                            std::move(AResult.Headers), FSetup.URL, server, proxy);
  if (AResult.Status < 300) return;
  if (FResponse != nullptr) FResponse->Write(AResult.ErrorBody);
  const std::string charset = FOwner.FHTTPResponse->ContentCharSet();
  std::string text =
      charset.empty() ? SanitizeUtf8(AResult.ErrorBody) : DecodeCharset(AResult.ErrorBody, charset);
  std::string message =
      VersionPrefix(AResult.Version) + Format("%d %s", AResult.Status, AResult.StatusText);
  // A refusal after schemes beyond Basic were offered says which were
  // offered and which tried: without a ticket, with integrated
  // authentication off or with a scheme this client cannot answer, the
  // status alone would not tell the user what to change.
  const TChallenge* challenge = AResult.Status == 401   ? &FServer.Challenge
                                : AResult.Status == 407 ? &FProxy.Challenge
                                                        : nullptr;
  if (challenge != nullptr && !challenge->Offered.Empty() &&
      challenge->Offered != THTTPAuthSchemes{THTTPAuthScheme::Basic}) {
    message +=
        " (offered: " + challenge->Offered.Text() + "; tried: " + challenge->Tried.Text() + ")";
  }
  throw EHTTPProtocolException(AResult.Status, std::move(text), std::move(message));
}

}  // namespace qvr::rest
