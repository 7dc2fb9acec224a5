// The HTTP object of a REST connection: one HTTP client (a libcurl easy handle
// behind a private implementation) together with what the connection's
// exchanges share: the header set, the cookie store, the credential store, the
// proxy information and the last response. Redirects, authentication and
// certificate acceptance run in the object's own attempt loop so that their
// rules hold exactly (see docs/http-client.md).
//
// Its parts have files of their own: HTTPRequestHeaders, ProxyConnectionInfo,
// CredentialsStorage and HTTPResponse; RestHTTP.cpp holds the object itself,
// AttemptLoop.cpp the attempt loop (TAttemptLoop, detail/AttemptLoop.h),
// HTTPCookies.cpp the cookies, and detail/CurlTransfer the transfer over curl.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Classes.h"
#include "platform/Streams.h"
#include "rest/http/CredentialsStorage.h"
#include "rest/http/HTTPRequestHeaders.h"
#include "rest/http/HTTPResponse.h"
#include "rest/http/HTTPSettings.h"
#include "rest/http/HTTPTypes.h"
#include "rest/http/NetHTTPExceptions.h"
#include "rest/http/ProxyConnectionInfo.h"

namespace qvr::rest {

class TRestHTTP;
using TRestHTTPClass = std::unique_ptr<TRestHTTP> (*)();

// Which body a progress call is about: the request's, as it is sent, or the
// answer's, as it arrives.
enum class TTransferDirection { Sending, Receiving };
// ADone bytes of the body have moved so far, of ATotal (the request body's
// size, or the Content-Length the answer announced; -1 when it announced
// none).
using TTransferProgressEvent =
    std::function<void(TTransferDirection ADirection, std::int64_t ADone, std::int64_t ATotal)>;

// The HTTP object. One request at a time, on the calling thread; not copyable.
class TRestHTTP : public TObject {
 public:
  // The client's defaults: User-Agent "Kolvane URI Client/1.0", connect, send
  // and read time-outs of 60000 ms, redirects followed (at most 5 per
  // exchange), cookies kept, preemptive authentication off, empty header set,
  // cookie store and credential store, Protocol "http". Raises
  // ENetHTTPClientException "Error obtaining session handle" when libcurl
  // cannot create its handles.
  TRestHTTP();
  ~TRestHTTP() override;
  TRestHTTP(const TRestHTTP&) = delete;
  TRestHTTP& operator=(const TRestHTTP&) = delete;

  // One request each. The final answer's body is written into the given stream
  // at its position; the answer becomes the last response. A final status of
  // 300 or more raises EHTTPProtocolException after the body was written.
  // Network, certificate and redirect failures raise the ENetHTTP... classes
  // (docs/http-client.md lists them); cookies and credentials learnt before a
  // failure stay. Request bodies are read from the start of ASource.
  void Get(const std::string& AURL, TStream& AResponseContent);
  void Put(const std::string& AURL, TStream& ASource, TStream& AResponseContent);
  void Post(const std::string& AURL, TStream& ASource, TStream& AResponseContent);
  void Delete(const std::string& AURL, TStream& AResponseStream);
  void Patch(const std::string& AURL, TStream& ASource, TStream& AResponseContent);
  // HEAD: no body is read. MERGE: the answer's body is discarded.
  void Head(const std::string& AURL);
  void Merge(const std::string& AURL, TStream& ARequestStream);

  // The URL scheme of every request the connection builds.
  std::string Protocol() const { return FProtocol; }
  void SetProtocol(const std::string& AValue) { FProtocol = AValue; }

  THTTPRequestHeaders& RequestHeaders() { return FRequestHeaders; }
  const THTTPRequestHeaders& RequestHeaders() const { return FRequestHeaders; }
  // Created on first use.
  TProxyConnectionInfo& ProxyConnectionInfo();

  // The last final answer. Raises Exception "HTTP Response Object not found or
  // available yet" before any answer arrived.
  const THTTPResponse& Response() const;
  bool HasResponse() const { return FHTTPResponse != nullptr; }

  // Empty: the platform's default TLS versions.
  THTTPSecureProtocols SecureProtocols() const { return FSecureProtocols; }
  void SetSecureProtocols(THTTPSecureProtocols AValue) { FSecureProtocols = AValue; }
  // Milliseconds; each of name look-up and connection.
  std::int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(std::int32_t AValue) { FConnectTimeout = AValue; }
  // Milliseconds; the longest wait for answer data (an idle limit, not a limit
  // on the whole transfer).
  std::int32_t ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(std::int32_t AValue) { FReadTimeout = AValue; }
  // Milliseconds; the longest time sending may stall.
  std::int32_t SendTimeout() const { return FSendTimeout; }

  // The schemes besides Basic that a 401 or 407 is answered with
  // (HTTPSettings.h); empty: Basic only.
  THTTPAuthSchemes IntegratedAuthentication() const { return FIntegratedAuthentication; }
  void SetIntegratedAuthentication(THTTPAuthSchemes AValue) { FIntegratedAuthentication = AValue; }
  // To whom Negotiate may delegate the user's credentials (HTTPSettings.h).
  THTTPDelegation DelegateCredentials() const { return FDelegateCredentials; }
  void SetDelegateCredentials(THTTPDelegation AValue) { FDelegateCredentials = AValue; }

  // The most bytes of a response body the object lets a server put into
  // memory: an answer's body written into a TMemoryStream (as every exchange
  // of a REST connection receives it), and the body of every answer of 300 or
  // more, which the object itself holds. One byte more ends the exchange with
  // ENetHTTPClientException "Response body exceeds %d bytes". A body written
  // into any other kind of stream (a file, a caller's stream that passes the
  // bytes on) is not bounded. 256 MiB by default; 0 or less sets no bound.
  std::int64_t MaxHeldBodySize() const { return FMaxHeldBodySize; }
  void SetMaxHeldBodySize(std::int64_t AValue) { FMaxHeldBodySize = AValue; }

  std::string UserAgent() const;
  std::int32_t MaxRedirects() const { return FMaxRedirects; }
  bool AllowCookies() const { return FAllowCookies; }
  // Switched on by the first request whose header set holds a user name; stays
  // on for the life of the object.
  bool PreemptiveAuthentication() const { return FPreemptiveAuthentication; }

  // Events, copied in by the connection. The Sender/Owner argument is this object.
  const TValidateCertificateEvent& OnValidateCertificate() const { return FOnValidateCertificate; }
  void SetOnValidateCertificate(TValidateCertificateEvent AValue) {
    FOnValidateCertificate = std::move(AValue);
  }
  const TValidatePeerCertificateEvent& OnValidatePeerCertificate() const {
    return FOnValidatePeerCertificate;
  }
  void SetOnValidatePeerCertificate(TValidatePeerCertificateEvent AValue) {
    FOnValidatePeerCertificate = std::move(AValue);
  }
  const TValidatePeerCertificateErrEvent& OnValidatePeerCertificateErr() const {
    return FOnValidatePeerCertificateErr;
  }
  void SetOnValidatePeerCertificateErr(TValidatePeerCertificateErrEvent AValue) {
    FOnValidatePeerCertificateErr = std::move(AValue);
  }
  const TAuthEvent& OnAuthentication() const { return FOnAuthEvent; }
  void SetOnAuthentication(TAuthEvent AValue) { FOnAuthEvent = std::move(AValue); }
  const TSelectClientCertificateEvent& OnSelectClientCertificate() const {
    return FOnSelectClientCertificate;
  }
  void SetOnSelectClientCertificate(TSelectClientCertificateEvent AValue) {
    FOnSelectClientCertificate = std::move(AValue);
  }

  // The settings a REST connection keeps for this object (HTTPSettings.h), as
  // the object has them now: the header-set entry "Connection", the proxy
  // information's host, port and credentials, SecureProtocols, the two
  // time-outs, the integrated authentication and delegation, and the five
  // events above.
  THTTPSettings HTTPSettings() const;
  // Writes every member of AValue into this object; the proxy scheme and all
  // else stay as they are.
  void ApplyHTTPSettings(const THTTPSettings& AValue);
  // One member of THTTPSettings alone, read or written. Writing one touches
  // no other setting, so that an event handler running inside a request may
  // change a setting without its own event being reassigned under it.
  // Available for the types the members of THTTPSettings have.
  template <typename T>
  T HTTPSetting(T THTTPSettings::*AMember) const;
  template <typename T>
  void ApplyHTTPSetting(T THTTPSettings::*AMember, const T& AValue);

  // Called from the transfer each time a piece of a request body is sent or
  // a piece of the body of an answer below 300 arrives, for programs that
  // show the progress of long transfers; not an event of the connection.
  // Every attempt (a redirect, an answer to a challenge) starts again from
  // 0. An exception it raises ends the request with that exception.
  const TTransferProgressEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TTransferProgressEvent AValue) { FOnProgress = std::move(AValue); }

  // Sets the header-set entry "Connection" to "close".
  void Disconnect();
  // The credential store.
  void ClearClientCredentials() { FCredentials.Clear(); }
  const std::vector<TCredential>& GetClientCredentials() const {
    return FCredentials.Credentials();
  }
  // Adds a server credential for every realm and URL to the store.
  void SetAuthentication(const std::string& AUserName, const std::string& APassword);
  // Stores the cookies of a Set-Cookie value (attributes Domain, Path, Expires,
  // Max-Age, Secure understood) as if AURL had answered with it. Does nothing
  // while cookies are off or when AURL has no host.
  void AddServerCookie(const std::string& ACookie, const std::string& AURL);
  // The cookie store, one line per cookie in curl's cookie-file format, for
  // inspection.
  std::vector<std::string> CookieList() const;

  // "http" and "https".
  static std::vector<std::string> RegisteredProtocolList();
  // The class for a scheme: TRestHTTPS for "https" (any case), else TRestHTTP.
  static TRestHTTPClass ProtocolClass(const std::string& AName);
  virtual bool HasPeerCertificate() const { return false; }

  // The folder whose PEM certificate/key pairs are offered as client
  // certificates: <per-user data folder>/QVR/certificados (docs/http-client.md).
  static std::string ClientCertificateFolder();

 private:
  class TImpl;
  friend class TImpl;
  class TAttemptLoop;
  // Where each member of THTTPSettings lives in the object (RestHTTP.cpp).
  struct TSettingPlaces;

  void Execute(const std::string& AMethod, const std::string& AURL, TStream* ASource,
               TStream* AResponse);

  std::unique_ptr<TImpl> FHTTPClient;
  std::shared_ptr<const THTTPResponse> FHTTPResponse;
  THTTPRequestHeaders FRequestHeaders;
  std::unique_ptr<TProxyConnectionInfo> FProxyConnectionInfo;
  TValidateCertificateEvent FOnValidateCertificate;
  TValidatePeerCertificateEvent FOnValidatePeerCertificate;
  TValidatePeerCertificateErrEvent FOnValidatePeerCertificateErr;
  TAuthEvent FOnAuthEvent;
  TSelectClientCertificateEvent FOnSelectClientCertificate;
  TTransferProgressEvent FOnProgress;
  std::string FProtocol = "http";
  TCredentialsStorage FCredentials;
  THTTPSecureProtocols FSecureProtocols;
  std::int32_t FConnectTimeout = 60000;
  std::int32_t FReadTimeout = 60000;
  std::int32_t FSendTimeout = 60000;
  std::int32_t FMaxRedirects = 5;
  std::int64_t FMaxHeldBodySize = std::int64_t{256} * 1024 * 1024;
  THTTPAuthSchemes FIntegratedAuthentication = kIntegratedAuthSchemes;
  THTTPDelegation FDelegateCredentials = THTTPDelegation::None;
  bool FAllowCookies = true;
  bool FPreemptiveAuthentication = false;
};

// The HTTP object for "https" connections.
class TRestHTTPS : public TRestHTTP {
 public:
  bool HasPeerCertificate() const override { return true; }
};

}  // namespace qvr::rest
