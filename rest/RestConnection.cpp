// The REST connection's settings and their write rules; see RestConnection.h.
#include "rest/RestConnection.h"

namespace qvr::rest {

namespace {

std::string WithSlash(const std::string& AValue) {
  if (!AValue.empty() && AValue.back() != '/') return AValue + "/";
  return AValue;
}

}  // namespace

TCustomRestConnection::TCustomRestConnection()
    : FLoginProperties(std::make_unique<TRestLoginProperties>()) {}

TCustomRestConnection::~TCustomRestConnection() = default;

void TCustomRestConnection::SetProtocol(const std::string& AValue) {
  // A different scheme will need a different HTTP object; the same one keeps it.
  if (AValue == FProtocol) return;
  FProtocol = AValue;
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

std::string TCustomRestConnection::Connection() const { return FConnectionKeepAlive; }
void TCustomRestConnection::SetConnection(const std::string& AValue) {
  FConnectionKeepAlive = AValue;
}

std::string TCustomRestConnection::ProxyHost() const { return FProxyHost; }
void TCustomRestConnection::SetProxyHost(const std::string& AValue) { FProxyHost = AValue; }
std::int32_t TCustomRestConnection::ProxyPort() const { return FProxyPort; }
void TCustomRestConnection::SetProxyPort(std::int32_t AValue) { FProxyPort = AValue; }
std::string TCustomRestConnection::ProxyUsername() const { return FProxyUsername; }
void TCustomRestConnection::SetProxyUsername(const std::string& AValue) { FProxyUsername = AValue; }
std::string TCustomRestConnection::ProxyPassword() const { return FProxyPassword; }
void TCustomRestConnection::SetProxyPassword(const std::string& AValue) { FProxyPassword = AValue; }

THTTPSecureProtocols TCustomRestConnection::SecureProtocols() const { return FSecureProtocols; }
void TCustomRestConnection::SetSecureProtocols(THTTPSecureProtocols AValue) {
  FSecureProtocols = AValue;
}
std::int32_t TCustomRestConnection::ConnectTimeout() const { return FConnectTimeout; }
void TCustomRestConnection::SetConnectTimeout(std::int32_t AValue) { FConnectTimeout = AValue; }
std::int32_t TCustomRestConnection::ReadTimeout() const { return FReadTimeout; }
void TCustomRestConnection::SetReadTimeout(std::int32_t AValue) { FReadTimeout = AValue; }

TValidateCertificateEvent TCustomRestConnection::OnValidateCertificate() const {
  return FOnValidateCertificate;
}
void TCustomRestConnection::SetOnValidateCertificate(TValidateCertificateEvent AValue) {
  FOnValidateCertificate = std::move(AValue);
}
TValidatePeerCertificateEvent TCustomRestConnection::OnValidatePeerCertificate() const {
  return FOnValidatePeerCertificate;
}
void TCustomRestConnection::SetOnValidatePeerCertificate(TValidatePeerCertificateEvent AValue) {
  FOnValidatePeerCertificate = std::move(AValue);
}
TValidatePeerCertificateErrEvent TCustomRestConnection::OnValidatePeerCertificateErr() const {
  return FOnValidatePeerCertificateERR;
}
void TCustomRestConnection::SetOnValidatePeerCertificateErr(
    TValidatePeerCertificateErrEvent AValue) {
  FOnValidatePeerCertificateERR = std::move(AValue);
}
TAuthEvent TCustomRestConnection::OnAuthentication() const { return FOnAuthentication; }
void TCustomRestConnection::SetOnAuthentication(TAuthEvent AValue) {
  FOnAuthentication = std::move(AValue);
}
TSelectClientCertificateEvent TCustomRestConnection::OnSelectClientCertificate() const {
  return FOnSelectClientCertificate;
}
void TCustomRestConnection::SetOnSelectClientCertificate(TSelectClientCertificateEvent AValue) {
  FOnSelectClientCertificate = std::move(AValue);
}

}  // namespace qvr::rest
