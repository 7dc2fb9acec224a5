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
                    sessionID = source->SessionID();
  const std::int32_t port = source->Port();
  const bool preserveSessionID = source->PreserveSessionID(), loginPrompt = source->LoginPrompt();
  TRestLoginEvent onLogin = source->OnLogin();
  TNotifyEvent onBefore = source->OnBeforeExecute(), onAfter = source->OnAfterExecute();
  const THTTPSettings httpSettings = source->HTTPSettings();

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
  SetHTTPSettings(httpSettings);
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
  http->ApplyHTTPSettings(FHTTPSettings);
  // Not an HTTP setting: the proxy's scheme is the Protocol setting as it
  // stands, possibly empty (then the proxy name has no scheme).
  http->ProxyConnectionInfo().SetScheme(FProtocol);
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

// The HTTP settings live in the HTTP object while it exists: reads come from
// it and writes go to it as well as to the connection's copy, which the next
// HTTP object is created from. A single setting is written alone, never by
// applying the whole value, so that a handler running inside a request does
// not have its own event reassigned under it.

THTTPSettings TCustomRestConnection::HTTPSettings() const {
  return FHTTP ? FHTTP->HTTPSettings() : FHTTPSettings;
}
void TCustomRestConnection::SetHTTPSettings(const THTTPSettings& AValue) {
  FHTTPSettings = AValue;
  if (FHTTP) FHTTP->ApplyHTTPSettings(FHTTPSettings);
}

template <typename T>
T TCustomRestConnection::HTTPSetting(T THTTPSettings::*AMember) const {
  return FHTTP ? FHTTP->HTTPSetting(AMember) : FHTTPSettings.*AMember;
}
template <typename T>
void TCustomRestConnection::SetHTTPSetting(T THTTPSettings::*AMember,
                                           std::type_identity_t<T> AValue) {
  FHTTPSettings.*AMember = std::move(AValue);
  if (FHTTP) FHTTP->ApplyHTTPSetting(AMember, FHTTPSettings.*AMember);
}

std::string TCustomRestConnection::Connection() const {
  return HTTPSetting(&THTTPSettings::Connection);
}
void TCustomRestConnection::SetConnection(const std::string& AValue) {
  SetHTTPSetting(&THTTPSettings::Connection, AValue);
}
std::string TCustomRestConnection::ProxyHost() const {
  return HTTPSetting(&THTTPSettings::ProxyHost);
}
void TCustomRestConnection::SetProxyHost(const std::string& AValue) {
  SetHTTPSetting(&THTTPSettings::ProxyHost, AValue);
}
std::int32_t TCustomRestConnection::ProxyPort() const {
  return HTTPSetting(&THTTPSettings::ProxyPort);
}
void TCustomRestConnection::SetProxyPort(std::int32_t AValue) {
  SetHTTPSetting(&THTTPSettings::ProxyPort, AValue);
}
std::string TCustomRestConnection::ProxyUsername() const {
  return HTTPSetting(&THTTPSettings::ProxyUsername);
}
void TCustomRestConnection::SetProxyUsername(const std::string& AValue) {
  SetHTTPSetting(&THTTPSettings::ProxyUsername, AValue);
}
std::string TCustomRestConnection::ProxyPassword() const {
  return HTTPSetting(&THTTPSettings::ProxyPassword);
}
void TCustomRestConnection::SetProxyPassword(const std::string& AValue) {
  SetHTTPSetting(&THTTPSettings::ProxyPassword, AValue);
}
THTTPSecureProtocols TCustomRestConnection::SecureProtocols() const {
  return HTTPSetting(&THTTPSettings::SecureProtocols);
}
void TCustomRestConnection::SetSecureProtocols(THTTPSecureProtocols AValue) {
  SetHTTPSetting(&THTTPSettings::SecureProtocols, AValue);
}
std::int32_t TCustomRestConnection::ConnectTimeout() const {
  return HTTPSetting(&THTTPSettings::ConnectTimeout);
}
void TCustomRestConnection::SetConnectTimeout(std::int32_t AValue) {
  SetHTTPSetting(&THTTPSettings::ConnectTimeout, AValue);
}
std::int32_t TCustomRestConnection::ReadTimeout() const {
  return HTTPSetting(&THTTPSettings::ReadTimeout);
}
void TCustomRestConnection::SetReadTimeout(std::int32_t AValue) {
  SetHTTPSetting(&THTTPSettings::ReadTimeout, AValue);
}
THTTPAuthSchemes TCustomRestConnection::IntegratedAuthentication() const {
  return HTTPSetting(&THTTPSettings::IntegratedAuthentication);
}
void TCustomRestConnection::SetIntegratedAuthentication(THTTPAuthSchemes AValue) {
  SetHTTPSetting(&THTTPSettings::IntegratedAuthentication, AValue);
}
THTTPDelegation TCustomRestConnection::DelegateCredentials() const {
  return HTTPSetting(&THTTPSettings::DelegateCredentials);
}
void TCustomRestConnection::SetDelegateCredentials(THTTPDelegation AValue) {
  SetHTTPSetting(&THTTPSettings::DelegateCredentials, AValue);
}
TValidateCertificateEvent TCustomRestConnection::OnValidateCertificate() const {
  return HTTPSetting(&THTTPSettings::OnValidateCertificate);
}
void TCustomRestConnection::SetOnValidateCertificate(TValidateCertificateEvent AValue) {
  SetHTTPSetting(&THTTPSettings::OnValidateCertificate, std::move(AValue));
}
TValidatePeerCertificateEvent TCustomRestConnection::OnValidatePeerCertificate() const {
  return HTTPSetting(&THTTPSettings::OnValidatePeerCertificate);
}
void TCustomRestConnection::SetOnValidatePeerCertificate(TValidatePeerCertificateEvent AValue) {
  SetHTTPSetting(&THTTPSettings::OnValidatePeerCertificate, std::move(AValue));
}
TValidatePeerCertificateErrEvent TCustomRestConnection::OnValidatePeerCertificateErr() const {
  return HTTPSetting(&THTTPSettings::OnValidatePeerCertificateErr);
}
void TCustomRestConnection::SetOnValidatePeerCertificateErr(
    TValidatePeerCertificateErrEvent AValue) {
  SetHTTPSetting(&THTTPSettings::OnValidatePeerCertificateErr, std::move(AValue));
}
TAuthEvent TCustomRestConnection::OnAuthentication() const {
  return HTTPSetting(&THTTPSettings::OnAuthentication);
}
void TCustomRestConnection::SetOnAuthentication(TAuthEvent AValue) {
  SetHTTPSetting(&THTTPSettings::OnAuthentication, std::move(AValue));
}
TSelectClientCertificateEvent TCustomRestConnection::OnSelectClientCertificate() const {
  return HTTPSetting(&THTTPSettings::OnSelectClientCertificate);
}
void TCustomRestConnection::SetOnSelectClientCertificate(TSelectClientCertificateEvent AValue) {
  SetHTTPSetting(&THTTPSettings::OnSelectClientCertificate, std::move(AValue));
}

}  // namespace qvr::rest
