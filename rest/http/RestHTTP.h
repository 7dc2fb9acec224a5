// The HTTP object of a REST connection: one HTTP client (a libcurl easy handle
// behind a private implementation) together with what the connection's
// exchanges share: the header set, the cookie store, the credential store, the
// proxy information and the last response. Redirects, authentication and
// certificate acceptance run in this unit's own attempt loop so that their
// rules hold exactly (see docs/http-client.md).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Classes.h"
#include "platform/Streams.h"
#include "rest/RestTypes.h"
#include "rest/http/NetHTTPExceptions.h"

namespace qvr::rest {

// The header set of an HTTP object: the standard entries, an ordered list of
// custom entries and the basic credentials. It lives as long as its HTTP object.
class THTTPRequestHeaders {
 public:
  using THeaderList = std::vector<std::pair<std::string, std::string>>;

  std::string Accept() const { return FAccept; }
  void SetAccept(const std::string& AValue) { FAccept = AValue; }
  std::string AcceptCharSet() const { return FAcceptCharSet; }
  void SetAcceptCharSet(const std::string& AValue) { FAcceptCharSet = AValue; }
  std::string UserAgent() const { return FUserAgent; }
  void SetUserAgent(const std::string& AValue) { FUserAgent = AValue; }
  std::string ContentType() const { return FContentType; }
  void SetContentType(const std::string& AValue) { FContentType = AValue; }
  std::string AcceptEncoding() const { return FAcceptEncoding; }
  void SetAcceptEncoding(const std::string& AValue) { FAcceptEncoding = AValue; }

  // The value of the custom entry AName (compared without regard to case), or
  // an empty text when there is none.
  std::string Header(std::string_view AName) const;
  // Replaces the value of the entry AName in place; an empty value removes the
  // entry; a new name is appended at the end of the list.
  void SetHeader(std::string_view AName, const std::string& AValue);
  // The custom entries in list order.
  const THeaderList& CustomHeaders() const { return FCustomHeaders; }

  // Sets both basic credentials, but only when AUserName is not empty; an
  // empty user name leaves the earlier credentials in place.
  void SetBasicAuthentication(const std::string& AUserName, const std::string& APassword);
  std::string UserName() const { return FUserName; }
  std::string Password() const { return FPassword; }

 private:
  std::string FAccept;
  std::string FAcceptCharSet;
  std::string FUserAgent;
  std::string FContentType;
  std::string FAcceptEncoding;
  THeaderList FCustomHeaders;
  std::string FUserName;
  std::string FPassword;
};

// Where requests of an HTTP object go through: a proxy named by scheme, host and
// port, with optional Basic credentials.
class TProxyConnectionInfo {
 public:
  std::string Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  std::int32_t Port() const { return FPort; }
  void SetPort(std::int32_t AValue) { FPort = AValue; }
  std::string Scheme() const { return FScheme; }
  void SetScheme(const std::string& AValue) { FScheme = AValue; }
  std::string UserName() const { return FUserName; }
  void SetUserName(const std::string& AValue) { FUserName = AValue; }
  std::string Password() const { return FPassword; }
  void SetPassword(const std::string& AValue) { FPassword = AValue; }

  // The proxy's name: scheme and "://" (when the scheme is not empty), the
  // host, and ":" with the port (when it is not 0). Empty when Host is empty.
  std::string ProxyName() const;
  // True when ProxyName() is "http://direct:80" (any case), which means no proxy.
  bool IsDirect() const;

 private:
  std::string FHost;
  std::int32_t FPort = 0;
  std::string FScheme;
  std::string FUserName;
  std::string FPassword;
};

// One entry of the credential store.
struct TCredential {
  TAuthTargetType AuthTarget = TAuthTargetType::Server;
  // Empty matches every realm.
  std::string Realm;
  // The URL the credential was given for; empty matches every URL. A non-empty
  // one matches URLs of the same scheme, host and port.
  std::string URL;
  std::string UserName;
  std::string Password;
};

// The credentials an HTTP object has learnt, in the order they were added.
class TCredentialsStorage {
 public:
  // Appends the credential unless an identical one is already stored.
  void Add(const TCredential& ACredential);
  void Clear() { FCredentials.clear(); }
  const std::vector<TCredential>& Credentials() const { return FCredentials; }
  // The stored credentials for ATarget whose realm and URL match, in store order.
  std::vector<TCredential> Find(TAuthTargetType ATarget, std::string_view ARealm,
                                std::string_view AURL) const;

 private:
  std::vector<TCredential> FCredentials;
};

enum class THTTPProtocolVersion { UNKNOWN_HTTP, HTTP_1_0, HTTP_1_1, HTTP_2_0 };

// The last final answer an HTTP object received (status line and headers; the
// body went into the caller's stream).
class THTTPResponse {
 public:
  using THeaderList = std::vector<std::pair<std::string, std::string>>;

  THTTPResponse(std::int32_t AStatusCode, std::string AStatusText, THTTPProtocolVersion AVersion,
                THeaderList AHeaders, std::string AURL);

  std::int32_t StatusCode() const { return FStatusCode; }
  const std::string& StatusText() const { return FStatusText; }
  THTTPProtocolVersion Version() const { return FVersion; }
  // Headers in the order received; names as the server wrote them.
  const THeaderList& Headers() const { return FHeaders; }
  // The value of the last header named AName (compared without regard to
  // case), or an empty text.
  std::string HeaderValue(std::string_view AName) const;
  bool ContainsHeader(std::string_view AName) const;
  std::string ContentType() const { return HeaderValue("Content-Type"); }
  // The charset parameter of Content-Type with every double quote removed;
  // empty when there is none.
  std::string ContentCharSet() const;
  // The URL of the final attempt (after redirects).
  const std::string& URL() const { return FURL; }

 private:
  std::int32_t FStatusCode;
  std::string FStatusText;
  THTTPProtocolVersion FVersion;
  THeaderList FHeaders;
  std::string FURL;
};

class TRestHTTP;
using TRestHTTPClass = std::unique_ptr<TRestHTTP> (*)();

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

  void Execute(const std::string& AMethod, const std::string& AURL, TStream* ASource,
               TStream* AResponse);
  // Offers a refused server certificate to the certificate events in their
  // order; false when none is assigned or the one asked refuses it.
  bool ServerCertificateAccepted(const std::string& AMethod, const std::string& AURL,
                                 const TX509Certificate& ACertificate);

  std::unique_ptr<TImpl> FHTTPClient;
  std::shared_ptr<const THTTPResponse> FHTTPResponse;
  THTTPRequestHeaders FRequestHeaders;
  std::unique_ptr<TProxyConnectionInfo> FProxyConnectionInfo;
  TValidateCertificateEvent FOnValidateCertificate;
  TValidatePeerCertificateEvent FOnValidatePeerCertificate;
  TValidatePeerCertificateErrEvent FOnValidatePeerCertificateErr;
  TAuthEvent FOnAuthEvent;
  TSelectClientCertificateEvent FOnSelectClientCertificate;
  std::string FProtocol = "http";
  TCredentialsStorage FCredentials;
  THTTPSecureProtocols FSecureProtocols;
  std::int32_t FConnectTimeout = 60000;
  std::int32_t FReadTimeout = 60000;
  std::int32_t FSendTimeout = 60000;
  std::int32_t FMaxRedirects = 5;
  bool FAllowCookies = true;
  bool FPreemptiveAuthentication = false;
};

// The HTTP object for "https" connections.
class TRestHTTPS : public TRestHTTP {
 public:
  bool HasPeerCertificate() const override { return true; }
};

}  // namespace qvr::rest
