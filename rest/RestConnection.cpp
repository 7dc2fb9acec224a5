// The REST connection: settings and their rules, the HTTP object's
// lifecycle, base URLs, the session-carrying exchange and the command
// execution frame; see RestConnection.h.
#include "rest/RestConnection.h"

#include <cxxabi.h>

#include <cstdlib>
#include <mutex>
#include <typeinfo>

#include "platform/SysUtils.h"
#include "rest/ProxyRest.h"
#include "rest/RestCommand.h"
#include "rest/wire/SessionPragma.h"

namespace qvr::rest {

namespace {

std::mutex GLoginDialogHookLock;
TLoginDialogHook GLoginDialogHook;

// The class name without namespaces, as the system names classes.
std::string ClassNameOf(const std::type_info& AType) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(AType.name(), nullptr, nullptr, &status), std::free);
  std::string name = status == 0 && demangled ? demangled.get() : AType.name();
  const auto last = name.rfind("::");
  return last == std::string::npos ? name : name.substr(last + 2);
}

std::string WithSlash(const std::string& AValue) {
  if (!AValue.empty() && AValue.back() != '/') return AValue + "/";
  return AValue;
}

}  // namespace

TCustomRestConnection::TCustomRestConnection()
    : FLoginProperties(std::make_unique<TRestLoginProperties>()) {}

TCustomRestConnection::~TCustomRestConnection() = default;

void SetLoginDialogHook(TLoginDialogHook AHook) {
  std::scoped_lock lock(GLoginDialogHookLock);
  GLoginDialogHook = std::move(AHook);
}

TLoginDialogHook LoginDialogHook() {
  std::scoped_lock lock(GLoginDialogHookLock);
  return GLoginDialogHook;
}

std::string TCustomRestConnection::ClassName() const { return ClassNameOf(typeid(*this)); }

void TCustomRestConnection::Assign(const TObject& ASource) {
  const auto* source = dynamic_cast<const TCustomRestConnection*>(&ASource);
  if (source == nullptr)
    throw EConvertError(
        Format("Cannot assign a %s to a %s", ClassNameOf(typeid(ASource)), ClassName()));
  // Read everything first: ASource may be this connection.
  const std::string protocol = source->Protocol(), host = source->Host(),
                    urlPath = source->UrlPath(), userName = source->UserName(),
                    password = source->Password(), context = source->Context(),
                    restContext = source->RESTContext(), cacheContext = source->CacheContext(),
                    sessionID = source->SessionID(), connection = source->Connection(),
                    proxyHost = source->ProxyHost(), proxyUsername = source->ProxyUsername(),
                    proxyPassword = source->ProxyPassword();
  const std::int32_t port = source->Port(), proxyPort = source->ProxyPort(),
                     connectTimeout = source->ConnectTimeout(), readTimeout = source->ReadTimeout();
  const bool preserveSessionID = source->PreserveSessionID(), loginPrompt = source->LoginPrompt();
  const THTTPSecureProtocols secureProtocols = source->SecureProtocols();
  TRestLoginEvent onLogin = source->OnLogin();
  TNotifyEvent onBefore = source->OnBeforeExecute(), onAfter = source->OnAfterExecute();
  TValidateCertificateEvent onValidateCertificate = source->OnValidateCertificate();
  TValidatePeerCertificateEvent onValidatePeer = source->OnValidatePeerCertificate();
  TValidatePeerCertificateErrEvent onValidatePeerErr = source->OnValidatePeerCertificateErr();
  TAuthEvent onAuthentication = source->OnAuthentication();
  TSelectClientCertificateEvent onSelect = source->OnSelectClientCertificate();

  SetProtocol(protocol);
  SetHost(host);
  SetPort(port);
  SetUrlPath(urlPath);
  SetUserName(userName);
  SetPassword(password);
  SetContext(context);
  SetRESTContext(restContext);
  SetCacheContext(cacheContext);
  // After UserName, whose change would empty it.
  SetSessionID(sessionID);
  SetPreserveSessionID(preserveSessionID);
  SetLoginPrompt(loginPrompt);
  SetOnLogin(std::move(onLogin));
  SetOnBeforeExecute(std::move(onBefore));
  SetOnAfterExecute(std::move(onAfter));
  SetOnValidateCertificate(std::move(onValidateCertificate));
  SetOnValidatePeerCertificate(std::move(onValidatePeer));
  SetOnValidatePeerCertificateErr(std::move(onValidatePeerErr));
  SetOnAuthentication(std::move(onAuthentication));
  SetOnSelectClientCertificate(std::move(onSelect));
  SetConnection(connection);
  SetProxyHost(proxyHost);
  SetProxyPort(proxyPort);
  SetProxyUsername(proxyUsername);
  SetProxyPassword(proxyPassword);
  SetSecureProtocols(secureProtocols);
  SetConnectTimeout(connectTimeout);
  SetReadTimeout(readTimeout);
}

void TCustomRestConnection::SetProtocol(const std::string& AValue) {
  // A different scheme needs an HTTP object of its own; the same one keeps
  // the current object with its cookies and credentials.
  if (AValue == FProtocol) return;
  Reset();
  FProtocol = AValue;
}

TRestHTTP& TCustomRestConnection::HTTP() {
  if (FHTTP) return *FHTTP;
  // Built completely before it is kept, so that a failure leaves no
  // half-configured object behind.
  std::unique_ptr<TRestHTTP> http = TRestHTTP::ProtocolClass(DefaultProtocol())();
  http->SetProtocol(DefaultProtocol());
  http->SetOnValidateCertificate(FOnValidateCertificate);
  http->SetOnValidatePeerCertificate(FOnValidatePeerCertificate);
  http->SetOnValidatePeerCertificateErr(FOnValidatePeerCertificateERR);
  http->SetOnAuthentication(FOnAuthentication);
  http->SetOnSelectClientCertificate(FOnSelectClientCertificate);
  TProxyConnectionInfo& proxy = http->ProxyConnectionInfo();
  proxy.SetHost(FProxyHost);
  proxy.SetPort(FProxyPort);
  // The setting as it stands, possibly empty (then the proxy name has no scheme).
  proxy.SetScheme(FProtocol);
  proxy.SetUserName(FProxyUsername);
  proxy.SetPassword(FProxyPassword);
  http->SetSecureProtocols(FSecureProtocols);
  http->SetConnectTimeout(FConnectTimeout);
  http->SetReadTimeout(FReadTimeout);
  http->RequestHeaders().SetHeader("Connection", FConnectionKeepAlive);
  FHTTP = std::move(http);
  return *FHTTP;
}

void TCustomRestConnection::Reset() {
  // A certificate or authentication handler may reset the connection while
  // its HTTP object is inside a request; the object then lives on until the
  // exchange is over instead of being freed under the running request.
  if (FExchangeDepth > 0 && FHTTP) FRetiredHTTP.push_back(std::move(FHTTP));
  FHTTP.reset();
}

// Marks an exchange in progress, and frees the HTTP objects retired during it
// when the outermost one ends.
class TCustomRestConnection::TExchangeScope {
 public:
  explicit TExchangeScope(TCustomRestConnection& AConnection) : FConnection(AConnection) {
    ++FConnection.FExchangeDepth;
  }
  ~TExchangeScope() {
    if (--FConnection.FExchangeDepth == 0) FConnection.FRetiredHTTP.clear();
  }
  TExchangeScope(const TExchangeScope&) = delete;
  TExchangeScope& operator=(const TExchangeScope&) = delete;

 private:
  TCustomRestConnection& FConnection;
};

void TCustomRestConnection::ClearSessionCredentials() {
  if (FHTTP) FHTTP->ClearClientCredentials();
}

std::vector<std::string> TCustomRestConnection::GetSessionCredentials() const {
  std::vector<std::string> result;
  if (!FHTTP) return result;
  for (const TCredential& credential : FHTTP->GetClientCredentials())
    result.push_back("Realm: " + credential.Realm + " URL: " + credential.URL +
                     " Username: " + credential.UserName);
  return result;
}

std::string TCustomRestConnection::BaseURL(const std::string& AAreaContext) const {
  // The HTTP object keeps the scheme it was created with; since a changed
  // Protocol discards it, that is DefaultProtocol whenever one exists.
  std::string url = FHTTP ? FHTTP->Protocol() : DefaultProtocol();
  url += "://";
  url += PercentEncode(FHost.empty() ? std::string("localhost") : FHost, true);
  if (FPort > 0) {
    url += ':';
    url += std::to_string(FPort);
  }
  if (!FUrlPath.empty()) {
    url += '/';
    url += FUrlPath;
  }
  url += '/';
  url += FContext;
  url += AAreaContext;
  return url;
}

std::string TCustomRestConnection::RestBaseURL() const { return BaseURL(FRESTContext); }
std::string TCustomRestConnection::CacheBaseURL() const { return BaseURL(FCacheContext); }

std::unique_ptr<TRestRequestResponse> TCustomRestConnection::SessionExchange(
    const std::string& AVerb, const std::string& AURL, const std::string& AAccept,
    const std::string& ABody, TSessionRule ARule) {
  const std::string sessionID = FSessionID;
  const TExchangeScope scope(*this);
  TRestRequest request(HTTP());
  request.open(AVerb, AURL, FLoginProperties->UserName(), FLoginProperties->Password());
  request.SetAccept(AAccept);
  request.setRequestHeader("Content-Type", "text/plain;charset=UTF-8");
  request.setRequestHeader("If-Modified-Since", "Mon, 1 Oct 1990 05:00:00 GMT");
  if (!sessionID.empty()) request.setRequestPragma(SessionPragma(sessionID));
  std::unique_ptr<TRestRequestResponse> response;
  try {
    response = request.send(ABody);
  } catch (const TRestProtocolException&) {
    if (ARule == TSessionRule::ClearOnProtocolError) ClearSessionID();
    throw;
  }
  if (!response->SessionID().empty()) FSessionID = response->SessionID();
  return response;
}

void TCustomRestConnection::ExecuteInFrame(const std::function<void()>& AExchange) {
  BeforeExecute();
  try {
    if (FLoginProperties->LoginPrompt() && !Login()) throw EAbort();
    AExchange();
  } catch (...) {
    AfterExecute();
    throw;
  }
  AfterExecute();
}

bool TCustomRestConnection::Login() {
  bool cancel = false;
  if (FOnLogin) {
    FOnLogin(this, *FLoginProperties, cancel);
  } else if (const TLoginDialogHook hook = LoginDialogHook()) {
    const std::function<void()> test = [this] {
      TestConnection({TTestConnectionOption::toNoLoginPrompt});
    };
    if (!hook(*this, *FLoginProperties, test)) cancel = true;
  }
  return !cancel;
}

void TCustomRestConnection::BeforeExecute() {
  if (!FPreserveSessionID) ClearSessionID();
  if (FBeforeExecute) FBeforeExecute(this);
}

void TCustomRestConnection::AfterExecute() {
  if (FAfterExecute) FAfterExecute(this);
}

std::unique_ptr<TRestCommand> TCustomRestConnection::CreateCommand() {
  return std::make_unique<TRestCommand>(*this);
}

void TCustomRestConnection::TestConnection(TTestConnectionOptions AOptions) {
  const bool noPrompt = AOptions.Contains(TTestConnectionOption::toNoLoginPrompt);
  const bool savedPrompt = FLoginProperties->LoginPrompt();
  if (noPrompt) FLoginProperties->SetLoginPrompt(false);
  // Whatever happens, the prompt comes back and the HTTP object asks the
  // server to close the connection from now on.
  const auto finish = [&]() {
    if (noPrompt) FLoginProperties->SetLoginPrompt(savedPrompt);
    HTTP().Disconnect();
  };
  std::string platformName;
  try {
    TAdminRestClient admin(*this);
    platformName = admin.GetPlatformName();
  } catch (...) {
    try {
      finish();
    } catch (...) {
      // The test's own failure is the one to report.
    }
    throw;
  }
  finish();
  if (platformName.empty()) throw TRestException("Unexpected server method result");
}

std::string TCustomRestConnection::DefaultProtocol() const {
  return FProtocol.empty() ? "http" : FProtocol;
}

void TCustomRestConnection::SetContext(const std::string& AValue) { FContext = WithSlash(AValue); }
void TCustomRestConnection::SetRESTContext(const std::string& AValue) {
  FRESTContext = WithSlash(AValue);
}
void TCustomRestConnection::SetCacheContext(const std::string& AValue) {
  FCacheContext = WithSlash(AValue);
}

std::string TCustomRestConnection::UserName() const { return FLoginProperties->UserName(); }

void TCustomRestConnection::SetUserName(const std::string& AValue) {
  // Compared with the value last written, not with the login properties, which
  // an OnLogin handler may have changed.
  if (AValue == FUserName) return;
  FSessionID.clear();
  FUserName = AValue;
  FLoginProperties->SetUserName(AValue);
}

std::string TCustomRestConnection::Password() const { return FLoginProperties->Password(); }
void TCustomRestConnection::SetPassword(const std::string& AValue) {
  FPassword = AValue;
  FLoginProperties->SetPassword(AValue);
}
bool TCustomRestConnection::LoginPrompt() const { return FLoginProperties->LoginPrompt(); }
void TCustomRestConnection::SetLoginPrompt(bool AValue) {
  FLoginPrompt = AValue;
  FLoginProperties->SetLoginPrompt(AValue);
}

// The settings below live in the HTTP object while it exists: reads come
// from it and writes go to it as well as to the connection's copy, which the
// next HTTP object is created from.

std::string TCustomRestConnection::Connection() const {
  return FHTTP ? FHTTP->RequestHeaders().Header("Connection") : FConnectionKeepAlive;
}
void TCustomRestConnection::SetConnection(const std::string& AValue) {
  FConnectionKeepAlive = AValue;
  if (FHTTP) FHTTP->RequestHeaders().SetHeader("Connection", AValue);
}

std::string TCustomRestConnection::ProxyHost() const {
  return FHTTP ? FHTTP->ProxyConnectionInfo().Host() : FProxyHost;
}
void TCustomRestConnection::SetProxyHost(const std::string& AValue) {
  FProxyHost = AValue;
  if (FHTTP) FHTTP->ProxyConnectionInfo().SetHost(AValue);
}
std::int32_t TCustomRestConnection::ProxyPort() const {
  return FHTTP ? FHTTP->ProxyConnectionInfo().Port() : FProxyPort;
}
void TCustomRestConnection::SetProxyPort(std::int32_t AValue) {
  FProxyPort = AValue;
  if (FHTTP) FHTTP->ProxyConnectionInfo().SetPort(AValue);
}
std::string TCustomRestConnection::ProxyUsername() const {
  return FHTTP ? FHTTP->ProxyConnectionInfo().UserName() : FProxyUsername;
}
void TCustomRestConnection::SetProxyUsername(const std::string& AValue) {
  FProxyUsername = AValue;
  if (FHTTP) FHTTP->ProxyConnectionInfo().SetUserName(AValue);
}
std::string TCustomRestConnection::ProxyPassword() const {
  return FHTTP ? FHTTP->ProxyConnectionInfo().Password() : FProxyPassword;
}
void TCustomRestConnection::SetProxyPassword(const std::string& AValue) {
  FProxyPassword = AValue;
  if (FHTTP) FHTTP->ProxyConnectionInfo().SetPassword(AValue);
}

THTTPSecureProtocols TCustomRestConnection::SecureProtocols() const {
  return FHTTP ? FHTTP->SecureProtocols() : FSecureProtocols;
}
void TCustomRestConnection::SetSecureProtocols(THTTPSecureProtocols AValue) {
  FSecureProtocols = AValue;
  if (FHTTP) FHTTP->SetSecureProtocols(AValue);
}
std::int32_t TCustomRestConnection::ConnectTimeout() const {
  return FHTTP ? FHTTP->ConnectTimeout() : FConnectTimeout;
}
void TCustomRestConnection::SetConnectTimeout(std::int32_t AValue) {
  FConnectTimeout = AValue;
  if (FHTTP) FHTTP->SetConnectTimeout(AValue);
}
std::int32_t TCustomRestConnection::ReadTimeout() const {
  return FHTTP ? FHTTP->ReadTimeout() : FReadTimeout;
}
void TCustomRestConnection::SetReadTimeout(std::int32_t AValue) {
  FReadTimeout = AValue;
  if (FHTTP) FHTTP->SetReadTimeout(AValue);
}

TValidateCertificateEvent TCustomRestConnection::OnValidateCertificate() const {
  return FHTTP ? FHTTP->OnValidateCertificate() : FOnValidateCertificate;
}
void TCustomRestConnection::SetOnValidateCertificate(TValidateCertificateEvent AValue) {
  FOnValidateCertificate = std::move(AValue);
  if (FHTTP) FHTTP->SetOnValidateCertificate(FOnValidateCertificate);
}
TValidatePeerCertificateEvent TCustomRestConnection::OnValidatePeerCertificate() const {
  return FHTTP ? FHTTP->OnValidatePeerCertificate() : FOnValidatePeerCertificate;
}
void TCustomRestConnection::SetOnValidatePeerCertificate(TValidatePeerCertificateEvent AValue) {
  FOnValidatePeerCertificate = std::move(AValue);
  if (FHTTP) FHTTP->SetOnValidatePeerCertificate(FOnValidatePeerCertificate);
}
TValidatePeerCertificateErrEvent TCustomRestConnection::OnValidatePeerCertificateErr() const {
  return FHTTP ? FHTTP->OnValidatePeerCertificateErr() : FOnValidatePeerCertificateERR;
}
void TCustomRestConnection::SetOnValidatePeerCertificateErr(
    TValidatePeerCertificateErrEvent AValue) {
  FOnValidatePeerCertificateERR = std::move(AValue);
  if (FHTTP) FHTTP->SetOnValidatePeerCertificateErr(FOnValidatePeerCertificateERR);
}
TAuthEvent TCustomRestConnection::OnAuthentication() const {
  return FHTTP ? FHTTP->OnAuthentication() : FOnAuthentication;
}
void TCustomRestConnection::SetOnAuthentication(TAuthEvent AValue) {
  FOnAuthentication = std::move(AValue);
  if (FHTTP) FHTTP->SetOnAuthentication(FOnAuthentication);
}
TSelectClientCertificateEvent TCustomRestConnection::OnSelectClientCertificate() const {
  return FHTTP ? FHTTP->OnSelectClientCertificate() : FOnSelectClientCertificate;
}
void TCustomRestConnection::SetOnSelectClientCertificate(TSelectClientCertificateEvent AValue) {
  FOnSelectClientCertificate = std::move(AValue);
  if (FHTTP) FHTTP->SetOnSelectClientCertificate(FOnSelectClientCertificate);
}

}  // namespace qvr::rest
