// The REST connection: the client's single point of contact with the
// attendance server. It keeps the connection settings, the login properties
// and the server's session id between calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Classes.h"
#include "rest/RestTypes.h"

namespace qvr::rest {

class TCustomRestConnection : public TObject {
 public:
  // Settings at their defaults; login properties with empty user name and
  // password and LoginPrompt true; empty session id.
  TCustomRestConnection();
  ~TCustomRestConnection() override;
  TCustomRestConnection(const TCustomRestConnection&) = delete;
  TCustomRestConnection& operator=(const TCustomRestConnection&) = delete;

  // URL scheme of every request; an empty value counts as "http".
  std::string Protocol() const { return FProtocol; }
  void SetProtocol(const std::string& AValue);
  // Protocol, or "http" when Protocol is empty.
  std::string DefaultProtocol() const;

  std::string Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  std::int32_t Port() const { return FPort; }
  void SetPort(std::int32_t AValue) { FPort = AValue; }
  std::string UrlPath() const { return FUrlPath; }
  void SetUrlPath(const std::string& AValue) { FUrlPath = AValue; }

  // The three path segments: a non-empty value without a final "/" gets one.
  std::string Context() const { return FContext; }
  void SetContext(const std::string& AValue);
  std::string RESTContext() const { return FRESTContext; }
  void SetRESTContext(const std::string& AValue);
  std::string CacheContext() const { return FCacheContext; }
  void SetCacheContext(const std::string& AValue);

  // Read from the login properties. Writing a user name that differs from the
  // one last written empties the session id; an equal one changes nothing.
  std::string UserName() const;
  void SetUserName(const std::string& AValue);
  std::string Password() const;
  void SetPassword(const std::string& AValue);
  bool LoginPrompt() const;
  void SetLoginPrompt(bool AValue);

  bool PreserveSessionID() const { return FPreserveSessionID; }
  void SetPreserveSessionID(bool AValue) { FPreserveSessionID = AValue; }

  // Value of the HTTP "Connection" header; empty sends none.
  std::string Connection() const;
  void SetConnection(const std::string& AValue);

  std::string ProxyHost() const;
  void SetProxyHost(const std::string& AValue);
  std::int32_t ProxyPort() const;
  void SetProxyPort(std::int32_t AValue);
  std::string ProxyUsername() const;
  void SetProxyUsername(const std::string& AValue);
  std::string ProxyPassword() const;
  void SetProxyPassword(const std::string& AValue);

  THTTPSecureProtocols SecureProtocols() const;
  void SetSecureProtocols(THTTPSecureProtocols AValue);
  std::int32_t ConnectTimeout() const;
  void SetConnectTimeout(std::int32_t AValue);
  std::int32_t ReadTimeout() const;
  void SetReadTimeout(std::int32_t AValue);

  // The server's session id; empty means none.
  std::string SessionID() const { return FSessionID; }
  void SetSessionID(const std::string& AValue) { FSessionID = AValue; }
  std::string UniqueID() const { return FUniqueID; }
  void SetUniqueID(const std::string& AValue) { FUniqueID = AValue; }
  TRestLoginProperties& LoginProperties() { return *FLoginProperties; }
  const TRestLoginProperties& LoginProperties() const { return *FLoginProperties; }

  // Events; none is assigned by the system.
  const TRestLoginEvent& OnLogin() const { return FOnLogin; }
  void SetOnLogin(TRestLoginEvent AValue) { FOnLogin = std::move(AValue); }
  const TNotifyEvent& OnBeforeExecute() const { return FBeforeExecute; }
  void SetOnBeforeExecute(TNotifyEvent AValue) { FBeforeExecute = std::move(AValue); }
  const TNotifyEvent& OnAfterExecute() const { return FAfterExecute; }
  void SetOnAfterExecute(TNotifyEvent AValue) { FAfterExecute = std::move(AValue); }
  TValidateCertificateEvent OnValidateCertificate() const;
  void SetOnValidateCertificate(TValidateCertificateEvent AValue);
  TValidatePeerCertificateEvent OnValidatePeerCertificate() const;
  void SetOnValidatePeerCertificate(TValidatePeerCertificateEvent AValue);
  TValidatePeerCertificateErrEvent OnValidatePeerCertificateErr() const;
  void SetOnValidatePeerCertificateErr(TValidatePeerCertificateErrEvent AValue);
  TAuthEvent OnAuthentication() const;
  void SetOnAuthentication(TAuthEvent AValue);
  TSelectClientCertificateEvent OnSelectClientCertificate() const;
  void SetOnSelectClientCertificate(TSelectClientCertificateEvent AValue);

 protected:
  // Empties the session id (the session-expired step of the command layer).
  virtual void ClearSessionID() { FSessionID.clear(); }

 private:
  std::string FProtocol = "http";
  std::string FHost;
  std::int32_t FPort = 0;
  std::string FUrlPath;
  // Designer copies; the UserName setter compares against its copy.
  std::string FUserName;
  std::string FPassword;
  std::string FUniqueID;
  std::string FContext = "rpc/";
  std::string FRESTContext = "rest/";
  std::string FCacheContext = "cache/";
  std::unique_ptr<TRestLoginProperties> FLoginProperties;
  std::string FSessionID;
  std::string FProxyHost;
  std::int32_t FProxyPort = 8888;
  std::string FProxyUsername;
  std::string FProxyPassword;
  std::string FConnectionKeepAlive = "Keep-Alive";
  THTTPSecureProtocols FSecureProtocols;
  std::int32_t FConnectTimeout = 60000;
  std::int32_t FReadTimeout = 60000;
  bool FLoginPrompt = true;
  TRestLoginEvent FOnLogin;
  TValidatePeerCertificateEvent FOnValidatePeerCertificate;
  TValidatePeerCertificateErrEvent FOnValidatePeerCertificateERR;
  TValidateCertificateEvent FOnValidateCertificate;
  TAuthEvent FOnAuthentication;
  TSelectClientCertificateEvent FOnSelectClientCertificate;
  TNotifyEvent FBeforeExecute;
  TNotifyEvent FAfterExecute;
  bool FPreserveSessionID = true;
};

// Adds nothing but the publication of the settings.
class TRestConnection : public TCustomRestConnection {};

}  // namespace qvr::rest
