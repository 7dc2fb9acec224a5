// The REST connection: the client's single point of contact with the
// attendance server. It keeps the connection settings, the login properties,
// the server's session id between calls and, created on first use, the HTTP
// object that all its exchanges share. It builds the REST and cache base URLs,
// performs the session-carrying exchange that the command and cache layers
// use, and runs the before, login and after steps around a command.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/Classes.h"
#include "rest/RestRequest.h"
#include "rest/RestTypes.h"
#include "rest/http/HTTPSettings.h"
#include "rest/http/RestHTTP.h"
#include "rest/wire/RestPaths.h"

namespace qvr::rest {

class TCustomRestConnection;
class TRestCommand;

enum class TTestConnectionOption : std::uint8_t { toNoLoginPrompt };

// A set of TTestConnectionOption.
class TTestConnectionOptions {
 public:
  TTestConnectionOptions() = default;
  TTestConnectionOptions(std::initializer_list<TTestConnectionOption> AItems) {
    for (auto item : AItems) FBits |= Bit(item);
  }
  bool Contains(TTestConnectionOption AItem) const { return (FBits & Bit(AItem)) != 0; }

 private:
  static unsigned Bit(TTestConnectionOption AItem) { return 1u << static_cast<unsigned>(AItem); }
  unsigned FBits = 0;
};

// A login dialog the application may install for every connection of the
// process. It gets the connection, its login properties (which it may change)
// and a procedure that tests the connection without a login prompt; it
// returns false to cancel. The system installs none.
using TLoginDialogHook =
    std::function<bool(TCustomRestConnection& AConnection, TRestLoginProperties& ALoginProperties,
                       const std::function<void()>& ATestConnection)>;
// Installs AHook (an empty one removes it). Meant for start-up; guarded by a lock.
void SetLoginDialogHook(TLoginDialogHook AHook);
TLoginDialogHook LoginDialogHook();

// What a failed answer (TRestProtocolException) does to the connection's
// session id in the session-carrying exchange: a remote call forgets it, a
// request about a cached item keeps it.
enum class TSessionRule { ClearOnProtocolError, KeepOnProtocolError };

class TCustomRestConnection : public TObject {
 public:
  // Settings at their defaults; login properties with empty user name and
  // password and LoginPrompt true; empty session id.
  TCustomRestConnection();
  ~TCustomRestConnection() override;
  TCustomRestConnection(const TCustomRestConnection&) = delete;
  TCustomRestConnection& operator=(const TCustomRestConnection&) = delete;

  // Copies, through the setters and in this order, Protocol, Host, Port,
  // UrlPath, UserName, Password, Context, RESTContext, CacheContext, the
  // session id, PreserveSessionID, LoginPrompt, OnLogin, OnBeforeExecute,
  // OnAfterExecute and last the HTTP settings as one value (HTTPSettings:
  // Connection, the proxy settings, SecureProtocols, both timeouts, the
  // integrated authentication and delegation, and the five certificate and
  // authentication events) from another connection.
  // Raises EConvertError "Cannot assign a <source class> to a <this class>"
  // for any other kind of source.
  void Assign(const TObject& ASource);
  // The class name as the system names classes ("TRestConnection").
  std::string ClassName() const;

  // URL scheme of every request; an empty value counts as "http". Writing a
  // different value (exact comparison) discards the HTTP object.
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

  // The HTTP settings (THTTPSettings), which the HTTP object is created from.
  // While it exists, reads come from it and writes go to it as well as to the
  // connection's copy; without it, both use the copy. Each of them is also a
  // property of its own below, which reads and writes that one setting alone.
  // Writing the whole value assigns every event again: a handler running
  // inside a request writes single settings instead.
  THTTPSettings HTTPSettings() const;
  void SetHTTPSettings(const THTTPSettings& AValue);

  // Value of the HTTP "Connection" header; empty sends none. While the HTTP
  // object exists this is its header-set entry, so a connection test makes
  // it read "close".
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
  // The schemes besides Basic that a 401 or 407 is answered with (Negotiate,
  // NTLM and Digest by default); empty turns integrated authentication off.
  THTTPAuthSchemes IntegratedAuthentication() const;
  void SetIntegratedAuthentication(THTTPAuthSchemes AValue);
  // To whom Negotiate may delegate the user's Kerberos credentials, and then
  // only to a principal trusted for delegation; None by default.
  THTTPDelegation DelegateCredentials() const;
  void SetDelegateCredentials(THTTPDelegation AValue);

  // The server's session id; empty means none.
  std::string SessionID() const { return FSessionID; }
  void SetSessionID(const std::string& AValue) { FSessionID = AValue; }
  // An identity string for form descriptions; never sent.
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

  // The HTTP object, created on first use from the current settings. Raises
  // what the HTTP object's creation raises; the connection is then unchanged.
  TRestHTTP& HTTP();
  // True while the connection holds an HTTP object.
  bool HasHTTP() const { return FHTTP != nullptr; }
  // Discards the HTTP object with its cookie store, credential store and
  // header set; the next exchange creates a new one. Settings and session id stay.
  void Reset();
  // Empties the HTTP object's credential store; nothing without an HTTP object.
  void ClearSessionCredentials();
  // "Realm: <realm> URL: <URL> Username: <user>" per stored credential, in
  // store order; empty without an HTTP object.
  std::vector<std::string> GetSessionCredentials() const;

  // A new command bound to this connection; the caller owns it.
  std::unique_ptr<TRestCommand> CreateCommand();

  // The bases that remote calls and cached-item requests extend, composed
  // from the settings of the moment: scheme, "://", the percent-encoded host
  // ("localhost" when empty), ":" and Port when Port > 0, "/" and UrlPath
  // when UrlPath is not empty, "/", Context, then RESTContext or CacheContext.
  std::string RestBaseURL() const;
  std::string CacheBaseURL() const;

  // The session-carrying exchange: AVerb to AURL with Accept AAccept,
  // Content-Type "text/plain;charset=UTF-8", If-Modified-Since "Mon, 1 Oct
  // 1990 05:00:00 GMT", Pragma "sessionid=<id>" while a session id is held,
  // the login properties' credentials, and ABody (PUT and POST only).
  // A non-empty session id in the answer becomes the connection's. Returns
  // the response (200 to 202). Raises what TRestRequest::send raises; on
  // TRestProtocolException the session id is emptied (ClearSessionID) when
  // ARule says so; other failures leave it.
  std::unique_ptr<TRestRequestResponse> SessionExchange(const std::string& AVerb,
                                                        const std::string& AURL,
                                                        const std::string& AAccept,
                                                        const std::string& ABody,
                                                        TSessionRule ARule);

  // The command execution frame around AExchange: BeforeExecute (a failure
  // there ends the call at once); then, when LoginProperties().LoginPrompt()
  // is true, Login, whose false answer raises EAbort before anything is sent;
  // then AExchange; and AfterExecute in every case once BeforeExecute passed.
  void ExecuteInFrame(const std::function<void()>& AExchange);

  // The login step: OnLogin when assigned, else the process's login dialog
  // hook when installed; returns false when either cancels.
  virtual bool Login();
  // Empties the session id unless PreserveSessionID, then calls OnBeforeExecute.
  virtual void BeforeExecute();
  // Calls OnAfterExecute.
  virtual void AfterExecute();
  // Empties the session id (the session-expired step).
  virtual void ClearSessionID() { FSessionID.clear(); }

  // Calls the server's administrative method "Admin.GetPlatformName" (GET, a
  // text result) through an administration client's command, and so through
  // the command execution frame; with toNoLoginPrompt
  // the login step is skipped for this call. Raises TRestException "Unexpected
  // server method result" when the name is empty, or what the exchange
  // raised. Afterwards, in every case, the HTTP object sends "Connection:
  // close" until the Connection setting is written again.
  virtual void TestConnection(TTestConnectionOptions AOptions);

 private:
  class TExchangeScope;
  std::string BaseURL(const std::string& AAreaContext) const;
  // One member of the HTTP settings, by the rule of HTTPSettings.
  template <typename T>
  T HTTPSetting(T THTTPSettings::*AMember) const;
  template <typename T>
  void SetHTTPSetting(T THTTPSettings::*AMember, std::type_identity_t<T> AValue);

  std::string FProtocol = "http";
  std::string FHost;
  std::int32_t FPort = 0;
  std::string FUrlPath;
  // Designer copies; the UserName setter compares against its copy.
  std::string FUserName;
  std::string FPassword;
  std::string FUniqueID;
  std::string FContext{kDefaultContext};
  std::string FRESTContext{kDefaultRESTContext};
  std::string FCacheContext{kDefaultCacheContext};
  std::unique_ptr<TRestLoginProperties> FLoginProperties;
  std::unique_ptr<TRestHTTP> FHTTP;
  // HTTP objects discarded by an event handler while they were inside a
  // request; they go when the outermost exchange ends.
  std::vector<std::unique_ptr<TRestHTTP>> FRetiredHTTP;
  int FExchangeDepth = 0;
  std::string FSessionID;
  // The copy each new HTTP object is created from.
  THTTPSettings FHTTPSettings;
  bool FLoginPrompt = true;
  TRestLoginEvent FOnLogin;
  TNotifyEvent FBeforeExecute;
  TNotifyEvent FAfterExecute;
  bool FPreserveSessionID = true;
};

// Adds nothing but the publication of the settings.
class TRestConnection : public TCustomRestConnection {};

}  // namespace qvr::rest
