// Admission of a request; see Admission.h.
#include "server/Admission.h"

#include <arpa/inet.h>

#include "platform/Base64Encoding.h"
#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "rest/wire/Envelope.h"
#include "rest/wire/SessionPragma.h"
#include "server/Answers.h"

namespace qvr::server {

namespace {

bool IsAddressLiteral(const std::string& AName) {
  unsigned char address[16];
  return inet_pton(AF_INET, AName.c_str(), address) == 1 ||
         inet_pton(AF_INET6, AName.c_str(), address) == 1;
}

// The name and the port of a Host value ("name", "name:port", "[v6]:port");
// false for a value that is none of these.
bool SplitHost(std::string_view AValue, std::string& AName, int& APort, bool& AHasPort) {
  std::string_view rest;
  if (AValue.starts_with('[')) {
    const auto close = AValue.find(']');
    if (close == std::string_view::npos) return false;
    AName = std::string(AValue.substr(1, close - 1));
    rest = AValue.substr(close + 1);
  } else {
    const auto colon = AValue.find(':');
    AName = std::string(AValue.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : AValue.substr(colon);
  }
  AHasPort = !rest.empty();
  if (AHasPort) {
    std::int32_t port = 0;
    if (rest.front() != ':' || !TryDecimalToInt(rest.substr(1), port) || port < 0 || port > 65535) {
      return false;
    }
    APort = port;
  }
  return !AName.empty();
}

// The credentials of an Authorization value after its scheme AScheme
// ("Basic "), compared without regard to case; none for another scheme.
std::optional<std::string_view> SchemeCredentials(std::string_view AValue,
                                                  std::string_view AScheme) {
  if (AValue.size() < AScheme.size() || !SameText(AValue.substr(0, AScheme.size()), AScheme)) {
    return std::nullopt;
  }
  return AValue.substr(AScheme.size());
}

}  // namespace

TAdmission::TAdmission(TAdmissionRules ARules, TAttendanceStore& AStore, TSessionStore& ASessions)
    : FRules(std::move(ARules)), FStore(AStore), FSessions(ASessions) {
  if (!FRules.KerberosKeytab.empty()) {
    FNegotiate =
        std::make_unique<TNegotiateAcceptor>(FRules.KerberosKeytab, FRules.KerberosPrincipal);
  }
}

THttpAnswer TAdmission::Challenge(const std::string& AMessage) const {
  THttpAnswer answer = ErrorAnswer(401, AMessage);
  // Each scheme a challenge of its own, the preferred one first.
  if (FNegotiate) answer.Fields.emplace_back("WWW-Authenticate", "Negotiate");
  answer.Fields.emplace_back("WWW-Authenticate", "Basic realm=\"qvr-server\"");
  return answer;
}

bool TAdmission::HostAllowed(const std::string& AHost) const {
  std::string name;
  int port = 0;
  bool hasPort = false;
  if (!SplitHost(AHost, name, port, hasPort)) return false;
  if (!hasPort) port = FRules.Tls ? 443 : 80;
  if (port != FRules.Port) return false;
  // An address names this machine as the client reached it; only a name can
  // have been pointed here by someone else's DNS.
  if (IsAddressLiteral(name) || SameText(name, "localhost") || SameText(name, FRules.ListenHost)) {
    return true;
  }
  for (const std::string& allowed : FRules.AllowedHosts) {
    if (SameText(name, allowed)) return true;
  }
  return false;
}

std::optional<THttpAnswer> TAdmission::CheckOrigin(const THttpRequest& ARequest) const {
  // HTTP/1.0 requests may come without a Host; the check is then moot.
  const std::string* host = ARequest.Field("Host");
  if (host != nullptr && !HostAllowed(*host)) {
    return ErrorAnswer(421, "This server does not answer for the host " + *host +
                                "; qvr-server --allow-host NAME lets clients use a name");
  }
  if (const std::string* origin = ARequest.Field("Origin")) {
    const std::string own =
        std::string(FRules.Tls ? "https://" : "http://") + (host != nullptr ? *host : "");
    if (host == nullptr || !SameText(Trim(*origin), own)) {
      return ErrorAnswer(403, "Requests of the web page " + *origin + " are not accepted");
    }
  }
  return std::nullopt;
}

std::optional<THttpAnswer> TAdmission::Admit(const THttpRequest& ARequest,
                                             TRequestContext& AContext) {
  if (auto refused = Authenticate(ARequest, AContext)) return refused;
  return OpenSession(ARequest, AContext);
}

bool TAdmission::Credentials(const THttpRequest& ARequest, std::string& AUser,
                             std::string& APassword) {
  const std::string* authorization = ARequest.Field("Authorization");
  if (authorization == nullptr) return true;
  const auto basic = SchemeCredentials(Trim(*authorization), "Basic ");
  if (!basic) return false;
  const std::string decoded = TBase64Encoding::Base64().Decode(*basic);
  const auto colon = decoded.find(':');
  // A credential is a user and a password: a user name alone says nothing
  // about who sends it.
  if (colon == std::string::npos) return false;
  AUser = decoded.substr(0, colon);
  APassword = decoded.substr(colon + 1);
  return true;
}

std::optional<THttpAnswer> TAdmission::Authenticate(const THttpRequest& ARequest,
                                                    TRequestContext& AContext) {
  std::string user, password;
  if (!Credentials(ARequest, user, password)) {
    const std::string* authorization = ARequest.Field("Authorization");
    const std::string_view value = Trim(*authorization);
    if (const auto token = SchemeCredentials(value, "Negotiate "); token && FNegotiate) {
      if (auto refused = AcceptNegotiate(ARequest, *token, user, AContext)) return refused;
      AContext.UserName = user;
      return std::nullopt;
    }
    if (!SchemeCredentials(value, "Basic ")) {
      return Challenge(FNegotiate ? "Only Negotiate and Basic authentication are accepted"
                                  : "Only Basic authentication is accepted");
    }
    return Challenge("The credentials are not a user name and a password");
  }
  if (user.empty()) {
    if (!FRules.Anonymous) return Challenge("The server needs a user name (UID)");
  } else if (!FStore.UserAllowed(user, password)) {
    return Challenge("The user " + user + " is not allowed, or the password is wrong");
  }
  AContext.UserName = user;
  return std::nullopt;
}

bool TAdmission::AdmitFromMemory(const THttpRequest& ARequest, TRequestContext& AContext) {
  std::string user, password;
  if (!Credentials(ARequest, user, password)) return false;
  if (user.empty() ? !FRules.Anonymous : !FStore.UserRecentlyAllowed(user, password)) {
    return false;
  }
  // The session as memory knows it; a refusal of it is given by Admit, which
  // asks the store.
  const std::string* pragma = ARequest.Field("Pragma");
  const std::string id = pragma != nullptr ? rest::SessionIDFromPragma(*pragma) : std::string();
  if (id.empty()) {
    if (!FSessions.CreatesInMemory()) return false;
    AContext.Session = FSessions.Create(user);
  } else {
    const auto found = FSessions.TouchFromMemory(id, user);
    if (found != TSessionStore::TLookup::Found) return false;
    AContext.Session = id;
  }
  AContext.UserName = user;
  return true;
}

std::optional<THttpAnswer> TAdmission::AcceptNegotiate(const THttpRequest& ARequest,
                                                       std::string_view AToken, std::string& AUser,
                                                       TRequestContext& AContext) {
  // The service is the host as the client wrote it; an HTTP/1.0 request
  // without Host names none that a ticket could be for.
  std::string host;
  int port = 0;
  bool hasPort = false;
  const std::string* field = ARequest.Field("Host");
  if (field == nullptr || !SplitHost(*field, host, port, hasPort)) {
    return Challenge("Negotiate needs the Host the client reached the server by");
  }
  const TNegotiateAcceptor::TResult result = FNegotiate->Accept(AToken, host);
  if (!result.Accepted) return Challenge(result.Error);
  // "ana@REALM" is the user named so; in the server's own realm it may also
  // be the user "ana" (docs/server.md).
  const std::string& principal = result.Client;
  const auto at = principal.rfind('@');
  if (FStore.UserExists(principal)) {
    AUser = principal;
  } else if (at != std::string::npos && principal.substr(at + 1) == result.ServiceRealm &&
             FStore.UserExists(principal.substr(0, at))) {
    AUser = principal.substr(0, at);
  } else {
    return Challenge("The user " + principal + " is not allowed");
  }
  if (!result.Token.empty()) {
    AContext.AnswerFields.emplace_back("WWW-Authenticate", "Negotiate " + result.Token);
  }
  return std::nullopt;
}

std::optional<THttpAnswer> TAdmission::OpenSession(const THttpRequest& ARequest,
                                                   TRequestContext& AContext) {
  // Of several Pragma fields the last one speaks.
  const std::string* pragma = ARequest.Field("Pragma");
  const std::string id = pragma != nullptr ? rest::SessionIDFromPragma(*pragma) : std::string();
  if (id.empty()) {
    AContext.Session = FSessions.Create(AContext.UserName);
    return std::nullopt;
  }
  switch (FSessions.Touch(id, AContext.UserName)) {
    case TSessionStore::TLookup::Found:
      AContext.Session = id;
      return std::nullopt;
    case TSessionStore::TLookup::Unknown:
      return ErrorAnswer(403, "Session has expired", rest::kSessionExpiredMember);
    case TSessionStore::TLookup::OtherUser:
      return ErrorAnswer(403, "The session belongs to another user");
  }
  return ErrorAnswer(500, "Internal error: unknown session state");
}

}  // namespace qvr::server
