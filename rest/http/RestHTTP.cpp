// The HTTP object over libcurl; see RestHTTP.h and docs/http-client.md.
//
// One easy handle inside one multi handle serves every request of the object,
// so curl's connection cache keeps connections alive between exchanges. The
// multi handle lets this unit run the transfer loop itself, which is what makes
// the read time-out an idle limit with millisecond precision. Redirects,
// authentication and certificate acceptance are decided here, one curl
// transfer per attempt; curl's cookie engine keeps the cookies.
#include "rest/http/RestHTTP.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>

#include "platform/Charset.h"
#include "platform/ComputerInfo.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/datasets/Base64Encoding.h"
#include "rest/http/detail/CurlErrors.h"
#include "rest/http/detail/CurlHandles.h"
#include "rest/http/detail/HttpTls.h"
#include "rest/http/detail/LazyLibs.h"

namespace qvr::rest {

using detail::CheckOption;
using detail::TCurlOptionKind;

namespace {

constexpr const char* kUserAgent = "Kolvane URI Client/1.0";
constexpr long kBlockSize = 64 * 1024;
constexpr std::int64_t kExpectThreshold = 1024 * 1024;
// How long one wait of the transfer loop may last when no limit is closer;
// bounds the delay with which an idle limit is noticed.
constexpr int kMaxPollMs = 1000;

std::string LowerCase(std::string_view AText) {
  std::string result(AText);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

std::string_view Trim(std::string_view AText) {
  while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t')) AText.remove_prefix(1);
  while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t' || AText.back() == '\r' ||
                            AText.back() == '\n')) {
    AText.remove_suffix(1);
  }
  return AText;
}

std::string BasicAuthorization(const std::string& AUserName, const std::string& APassword) {
  return "Basic " + TBase64Encoding::Base64().EncodeLine(AUserName + ":" + APassword);
}

// A part of a URL as curl's parser understands it; empty when absent.
std::string UrlPart(CURLU* AUrl, CURLUPart APart, unsigned AFlags = 0) {
  char* part = nullptr;
  if (curl_url_get(AUrl, APart, &part, AFlags) != CURLUE_OK || part == nullptr) return {};
  std::string result(part);
  curl_free(part);
  return result;
}

detail::TCurlUrl ParseUrl(const std::string& AURL) {
  detail::TCurlUrl url(curl_url());
  if (!url) return url;
  if (curl_url_set(url.Get(), CURLUPART_URL, AURL.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    url.Reset();
  }
  return url;
}

// Scheme, host and port (the scheme's default when absent), in lower case.
std::string OriginOf(CURLU* AUrl) {
  return LowerCase(UrlPart(AUrl, CURLUPART_SCHEME) + "://" + UrlPart(AUrl, CURLUPART_HOST) + ":" +
                   UrlPart(AUrl, CURLUPART_PORT, CURLU_DEFAULT_PORT));
}

// The origin of AURL; empty when AURL cannot be parsed.
std::string OriginOf(const std::string& AURL) {
  detail::TCurlUrl url = ParseUrl(AURL);
  return url ? OriginOf(url.Get()) : std::string();
}

// Location resolved against the request URL; the request's fragment is kept
// when Location has none. Empty when the result is no valid URL.
std::string ResolveLocation(const std::string& ABase, const std::string& ALocation) {
  detail::TCurlUrl url = ParseUrl(ABase);
  if (!url) return {};
  const std::string fragment = UrlPart(url.Get(), CURLUPART_FRAGMENT);
  if (curl_url_set(url.Get(), CURLUPART_URL, ALocation.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return {};
  }
  if (UrlPart(url.Get(), CURLUPART_FRAGMENT).empty() && !fragment.empty()) {
    curl_url_set(url.Get(), CURLUPART_FRAGMENT, fragment.c_str(), 0);
  }
  return UrlPart(url.Get(), CURLUPART_URL);
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

// ---------------------------------------------------------------------------
// Header set, proxy information, credential store, response

std::string THTTPRequestHeaders::Header(std::string_view AName) const {
  for (const auto& [name, value] : FCustomHeaders) {
    if (SameText(name, AName)) return value;
  }
  return {};
}

void THTTPRequestHeaders::SetHeader(std::string_view AName, const std::string& AValue) {
  auto it = std::find_if(FCustomHeaders.begin(), FCustomHeaders.end(),
                         [&](const auto& AEntry) { return SameText(AEntry.first, AName); });
  if (AValue.empty()) {
    if (it != FCustomHeaders.end()) FCustomHeaders.erase(it);
  } else if (it != FCustomHeaders.end()) {
    it->second = AValue;
  } else {
    FCustomHeaders.emplace_back(std::string(AName), AValue);
  }
}

void THTTPRequestHeaders::SetBasicAuthentication(const std::string& AUserName,
                                                 const std::string& APassword) {
  if (AUserName.empty()) return;
  FUserName = AUserName;
  FPassword = APassword;
}

std::string TProxyConnectionInfo::ProxyName() const {
  if (FHost.empty()) return {};
  std::string name;
  if (!FScheme.empty()) name = FScheme + "://";
  name += FHost;
  if (FPort != 0) {
    name += ':';
    name += std::to_string(FPort);
  }
  return name;
}

bool TProxyConnectionInfo::IsDirect() const { return SameText(ProxyName(), "http://direct:80"); }

void TCredentialsStorage::Add(const TCredential& ACredential) {
  const bool known =
      std::any_of(FCredentials.begin(), FCredentials.end(), [&](const TCredential& AItem) {
        return AItem.AuthTarget == ACredential.AuthTarget && AItem.Realm == ACredential.Realm &&
               AItem.URL == ACredential.URL && AItem.UserName == ACredential.UserName &&
               AItem.Password == ACredential.Password;
      });
  if (!known) FCredentials.push_back(ACredential);
}

std::vector<TCredential> TCredentialsStorage::Find(TAuthTargetType ATarget, std::string_view ARealm,
                                                   std::string_view AURL) const {
  std::vector<TCredential> result;
  const std::string origin = OriginOf(std::string(AURL));
  for (const TCredential& item : FCredentials) {
    if (item.AuthTarget != ATarget) continue;
    if (!item.Realm.empty() && !ARealm.empty() && item.Realm != ARealm) continue;
    if (!item.URL.empty() && (origin.empty() || OriginOf(item.URL) != origin)) continue;
    result.push_back(item);
  }
  return result;
}

THTTPResponse::THTTPResponse(std::int32_t AStatusCode, std::string AStatusText,
                             THTTPProtocolVersion AVersion, THeaderList AHeaders, std::string AURL)
    : FStatusCode(AStatusCode),
      FStatusText(std::move(AStatusText)),
      FVersion(AVersion),
      FHeaders(std::move(AHeaders)),
      FURL(std::move(AURL)) {}

std::string THTTPResponse::HeaderValue(std::string_view AName) const {
  for (auto it = FHeaders.rbegin(); it != FHeaders.rend(); ++it) {
    if (SameText(it->first, AName)) return it->second;
  }
  return {};
}

bool THTTPResponse::ContainsHeader(std::string_view AName) const {
  return std::any_of(FHeaders.begin(), FHeaders.end(),
                     [&](const auto& AEntry) { return SameText(AEntry.first, AName); });
}

std::string THTTPResponse::ContentCharSet() const {
  const std::string type = ContentType();
  std::size_t pos = type.find(';');
  while (pos != std::string::npos) {
    const std::size_t next = type.find(';', pos + 1);
    const std::string_view param = Trim(
        std::string_view(type).substr(pos + 1, next == std::string::npos ? next : next - pos - 1));
    const auto eq = param.find('=');
    if (eq != std::string_view::npos && SameText(Trim(param.substr(0, eq)), "charset")) {
      std::string value(Trim(param.substr(eq + 1)));
      value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
      return value;
    }
    pos = next;
  }
  return {};
}

// ---------------------------------------------------------------------------
// One curl transfer

namespace {

enum class TProxyMode { Environment, None, Named };

// Everything one attempt sends.
struct TAttemptSetup {
  std::string Method;
  std::string URL;
  TStream* Body = nullptr;
  std::vector<std::string> HeaderLines;
  TProxyMode Proxy = TProxyMode::Environment;
  std::string ProxyName;
  bool ProxyCredentials = false;
  std::string ProxyUserName;
  std::string ProxyPassword;
  bool VerifyPeer = true;
  THTTPSecureProtocols Protocols;
  std::int32_t ConnectTimeout = 60000;
  std::int32_t ReadTimeout = 60000;
  std::int32_t SendTimeout = 60000;
};

// What one attempt brought back.
struct TAttemptResult {
  CURLcode Code = CURLE_OK;
  std::string ErrorText;
  bool Receiving = false;
  long ConnectCode = 0;
  std::int32_t Status = 0;
  std::string StatusText;
  THTTPProtocolVersion Version = THTTPProtocolVersion::UNKNOWN_HTTP;
  THTTPResponse::THeaderList Headers;
  // The body of an answer of 300 or more (it may not be the final one).
  std::string ErrorBody;
  bool HaveServerCertificate = false;
  TX509Certificate ServerCertificate;
  bool ClientCertificateAsked = false;
  std::size_t ClientCandidates = 0;
  bool ClientCertificateSent = false;
};

int SslExDataIndex() {
  static std::once_flag once;
  static int index = -1;
  std::call_once(once,
                 [] { index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
  return index;
}

}  // namespace

class TRestHTTP::TImpl {
 public:
  explicit TImpl(TRestHTTP& AOwner) : FOwner(AOwner) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    FEasy.Reset(curl_easy_init());
    FMulti.Reset(curl_multi_init());
    if (!FEasy || !FMulti) throw ENetHTTPClientException("Error obtaining session handle");
    // Options that never change for the life of the object.
    SetOption(CURLOPT_ERRORBUFFER, FErrorBuffer);
    SetOption(CURLOPT_NOSIGNAL, 1L);
    SetOption(CURLOPT_FOLLOWLOCATION, 0L);
    SetOption(CURLOPT_PROTOCOLS_STR, "http,https");
    // An empty cookie file switches curl's cookie engine on without reading a file.
    SetOption(CURLOPT_COOKIEFILE, "");
    SetOption(CURLOPT_UPLOAD_BUFFERSIZE, kBlockSize);
    SetOption(CURLOPT_HEADERFUNCTION, &TImpl::OnHeader);
    SetOption(CURLOPT_HEADERDATA, this);
    SetOption(CURLOPT_WRITEFUNCTION, &TImpl::OnWrite);
    SetOption(CURLOPT_WRITEDATA, this);
    SetOption(CURLOPT_READFUNCTION, &TImpl::OnRead);
    SetOption(CURLOPT_READDATA, this);
    SetOption(CURLOPT_SEEKFUNCTION, &TImpl::OnSeek);
    SetOption(CURLOPT_SEEKDATA, this);
    SetOption(CURLOPT_PREREQFUNCTION, &TImpl::OnPrereq);
    SetOption(CURLOPT_PREREQDATA, this);
    SetOption(CURLOPT_SSL_CTX_FUNCTION, &TImpl::OnSslContext);
    SetOption(CURLOPT_SSL_CTX_DATA, this);
    SetOption(CURLOPT_USERAGENT, kUserAgent, TCurlOptionKind::Header);
  }
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  // Runs one attempt. Failures of the transfer come back in the result; only
  // refused options and exceptions of the caller's stream or events raise.
  TAttemptResult Perform(const TAttemptSetup& ASetup, TStream* ASink);

  void AddCookieLine(const std::string& ALine) {
    curl_easy_setopt(FEasy.Get(), CURLOPT_COOKIELIST, ALine.c_str());
  }

  std::vector<std::string> CookieList() const {
    std::vector<std::string> result;
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(FEasy.Get(), CURLINFO_COOKIELIST, &list) == CURLE_OK) {
      for (curl_slist* item = list; item != nullptr; item = item->next)
        result.push_back(item->data);
      curl_slist_free_all(list);
    }
    return result;
  }

 private:
  // Sets one option of the easy handle; a refusal raises the failure for AKind.
  template <typename T>
  void SetOption(CURLoption AOption, T AValue, TCurlOptionKind AKind = TCurlOptionKind::Request) {
    CheckOption(curl_easy_setopt(FEasy.Get(), AOption, AValue), AKind);
  }

  void Configure(const TAttemptSetup& ASetup);
  void ConfigureMethod(const TAttemptSetup& ASetup);
  void ConfigureTls(const TAttemptSetup& ASetup);
  void RunLoop(const TAttemptSetup& ASetup);

  static size_t OnHeader(char* ABuffer, size_t ASize, size_t ACount, void* AUser);
  static size_t OnWrite(char* ABuffer, size_t ASize, size_t ACount, void* AUser);
  static size_t OnRead(char* ABuffer, size_t ASize, size_t ACount, void* AUser);
  static int OnSeek(void* AUser, curl_off_t AOffset, int AOrigin);
  static int OnPrereq(void* AUser, char*, char*, int, int);
  static CURLcode OnSslContext(CURL*, void* ASslContext, void* AUser);
  static int OnVerify(int APreverifyOk, X509_STORE_CTX* AStore);
  static int OnClientCertificate(SSL* ASsl, X509** ACert, EVP_PKEY** AKey);

  void Touch() { FLastActivity = std::chrono::steady_clock::now(); }

  TRestHTTP& FOwner;
  detail::TCurlEasy FEasy;
  detail::TCurlMulti FMulti;
  detail::TCurlSlist FHeaders;
  // The lines FHeaders was built from.
  std::vector<std::string> FHeaderLines;
  char FErrorBuffer[CURL_ERROR_SIZE] = {};

  // State of the running attempt, reached from curl's callbacks.
  TAttemptResult* FResult = nullptr;
  TStream* FBody = nullptr;
  TStream* FSink = nullptr;
  std::exception_ptr FFailure;
  std::string FMethod;
  std::string FURL;
  bool FConnected = false;
  bool FRequestSent = false;
  std::chrono::steady_clock::time_point FLastActivity;
};

size_t TRestHTTP::TImpl::OnHeader(char* ABuffer, size_t ASize, size_t ACount, void* AUser) {
  auto* self = static_cast<TImpl*>(AUser);
  const size_t size = ASize * ACount;
  self->Touch();
  self->FRequestSent = true;
  TAttemptResult& result = *self->FResult;
  std::string_view line(ABuffer, size);
  if (line.starts_with("HTTP/")) {
    // A new status line: an interim answer (100, a proxy's CONNECT answer) or
    // the answer itself; only the last one counts.
    result.Headers.clear();
    result.ErrorBody.clear();
    line = Trim(line);
    const auto sp = line.find(' ');
    const std::string_view version = line.substr(0, sp);
    if (version == "HTTP/1.0") {
      result.Version = THTTPProtocolVersion::HTTP_1_0;
    } else if (version == "HTTP/1.1") {
      result.Version = THTTPProtocolVersion::HTTP_1_1;
    } else if (version == "HTTP/2" || version == "HTTP/2.0") {
      result.Version = THTTPProtocolVersion::HTTP_2_0;
    } else {
      result.Version = THTTPProtocolVersion::UNKNOWN_HTTP;
    }
    result.Status = 0;
    result.StatusText.clear();
    if (sp != std::string_view::npos) {
      std::string_view rest = line.substr(sp + 1);
      const auto sp2 = rest.find(' ');
      const std::string_view code = rest.substr(0, sp2);
      std::int32_t status = 0;
      for (char c : code) {
        if (c < '0' || c > '9' || status > 99999) break;
        status = status * 10 + (c - '0');
      }
      result.Status = status;
      if (sp2 != std::string_view::npos)
        result.StatusText = std::string(Trim(rest.substr(sp2 + 1)));
    }
    return size;
  }
  if (!line.empty() && (line.front() == ' ' || line.front() == '\t') && !result.Headers.empty()) {
    // An obsolete folded continuation line.
    result.Headers.back().second += ' ';
    result.Headers.back().second += Trim(line);
    return size;
  }
  const auto colon = line.find(':');
  if (colon != std::string_view::npos) {
    result.Headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                std::string(Trim(line.substr(colon + 1))));
  }
  return size;
}

size_t TRestHTTP::TImpl::OnWrite(char* ABuffer, size_t ASize, size_t ACount, void* AUser) {
  auto* self = static_cast<TImpl*>(AUser);
  const size_t size = ASize * ACount;
  self->Touch();
  try {
    if (self->FResult->Status >= 300) {
      self->FResult->ErrorBody.append(ABuffer, size);
    } else if (self->FSink != nullptr) {
      return self->FSink->Write(ABuffer, size);
    }
    return size;
  } catch (...) {
    self->FFailure = std::current_exception();
    return 0;
  }
}

size_t TRestHTTP::TImpl::OnRead(char* ABuffer, size_t ASize, size_t ACount, void* AUser) {
  auto* self = static_cast<TImpl*>(AUser);
  self->Touch();
  if (self->FBody == nullptr) return 0;
  try {
    const size_t n = self->FBody->Read(ABuffer, ASize * ACount);
    if (n == 0) self->FRequestSent = true;
    return n;
  } catch (...) {
    self->FFailure = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

int TRestHTTP::TImpl::OnSeek(void* AUser, curl_off_t AOffset, int AOrigin) {
  // curl rewinds the body when it sends the request again on a fresh
  // connection (a kept-alive one that the server had closed).
  auto* self = static_cast<TImpl*>(AUser);
  if (self->FBody == nullptr) return CURL_SEEKFUNC_CANTSEEK;
  try {
    const TSeekOrigin origin = AOrigin == SEEK_CUR   ? TSeekOrigin::soCurrent
                               : AOrigin == SEEK_END ? TSeekOrigin::soEnd
                                                     : TSeekOrigin::soBeginning;
    self->FBody->Seek(AOffset, origin);
    self->FRequestSent = false;
    return CURL_SEEKFUNC_OK;
  } catch (...) {
    return CURL_SEEKFUNC_FAIL;
  }
}

int TRestHTTP::TImpl::OnPrereq(void* AUser, char*, char*, int, int) {
  auto* self = static_cast<TImpl*>(AUser);
  self->FConnected = true;
  if (self->FBody == nullptr) self->FRequestSent = true;
  self->Touch();
  return CURL_PREREQFUNC_OK;
}

CURLcode TRestHTTP::TImpl::OnSslContext(CURL*, void* ASslContext, void* AUser) {
  auto* ctx = static_cast<SSL_CTX*>(ASslContext);
  SSL_CTX_set_ex_data(ctx, SslExDataIndex(), AUser);
  // Keep curl's verification mode; the callback only watches, so that a
  // refused certificate can be shown to the certificate events.
  SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx), &TImpl::OnVerify);
  SSL_CTX_set_client_cert_cb(ctx, &TImpl::OnClientCertificate);
  return CURLE_OK;
}

int TRestHTTP::TImpl::OnVerify(int APreverifyOk, X509_STORE_CTX* AStore) {
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(AStore, SSL_get_ex_data_X509_STORE_CTX_idx()));
  if (ssl == nullptr) return APreverifyOk;
  auto* self = static_cast<TImpl*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), SslExDataIndex()));
  if (self == nullptr || self->FResult == nullptr) return APreverifyOk;
  if (!self->FResult->HaveServerCertificate) {
    if (X509* leaf = X509_STORE_CTX_get0_cert(AStore)) {
      self->FResult->ServerCertificate = detail::DescribeCertificate(leaf);
      self->FResult->HaveServerCertificate = true;
    }
  }
  return APreverifyOk;
}

int TRestHTTP::TImpl::OnClientCertificate(SSL* ASsl, X509** ACert, EVP_PKEY** AKey) {
  auto* self = static_cast<TImpl*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ASsl), SslExDataIndex()));
  if (self == nullptr || self->FResult == nullptr) return 0;
  TAttemptResult& result = *self->FResult;
  result.ClientCertificateAsked = true;
  try {
    const auto candidates = detail::LoadClientCertificates(TRestHTTP::ClientCertificateFolder(),
                                                           SSL_get_client_CA_list(ASsl));
    result.ClientCandidates = candidates.size();
    const auto& event = self->FOwner.FOnSelectClientCertificate;
    if (candidates.empty() || !event) return 0;
    int index = -1;
    event(&self->FOwner, THTTPRequestInfo{self->FMethod, self->FURL}, candidates, index);
    if (index < 0 || static_cast<std::size_t>(index) >= candidates.size()) return 0;
    if (!detail::LoadClientCertificate(candidates[static_cast<std::size_t>(index)], ACert, AKey)) {
      return 0;
    }
    result.ClientCertificateSent = true;
    return 1;
  } catch (...) {
    self->FFailure = std::current_exception();
    return 0;
  }
}

void TRestHTTP::TImpl::ConfigureMethod(const TAttemptSetup& ASetup) {
  // HTTPGET resets upload, no-body and post modes left by the previous attempt.
  SetOption(CURLOPT_HTTPGET, 1L);
  SetOption(CURLOPT_CUSTOMREQUEST, nullptr);
  const std::string& m = ASetup.Method;
  const curl_off_t size = ASetup.Body != nullptr ? ASetup.Body->Size() : 0;
  if (m == "GET") return;
  if (m == "HEAD") {
    SetOption(CURLOPT_NOBODY, 1L);
    return;
  }
  if (ASetup.Body == nullptr) {
    SetOption(CURLOPT_CUSTOMREQUEST, m.c_str());
    return;
  }
  if (m == "PUT") {
    SetOption(CURLOPT_UPLOAD, 1L);
    SetOption(CURLOPT_INFILESIZE_LARGE, size);
    return;
  }
  SetOption(CURLOPT_POST, 1L);
  SetOption(CURLOPT_POSTFIELDS, nullptr);
  SetOption(CURLOPT_POSTFIELDSIZE_LARGE, size);
  if (m != "POST") {
    SetOption(CURLOPT_CUSTOMREQUEST, m.c_str());
  }
}

void TRestHTTP::TImpl::ConfigureTls(const TAttemptSetup& ASetup) {
  CURL* h = FEasy.Get();
  SetOption(CURLOPT_SSL_VERIFYPEER, ASetup.VerifyPeer ? 1L : 0L);
  SetOption(CURLOPT_SSL_VERIFYHOST, ASetup.VerifyPeer ? 2L : 0L);
  const THTTPSecureProtocols& p = ASetup.Protocols;
  long minimum = CURL_SSLVERSION_DEFAULT;
  long maximum = CURL_SSLVERSION_MAX_DEFAULT;
  // The lowest and highest chosen TLS version bound the range; SSL 2 and 3
  // exist in no TLS library this builds on.
  const std::pair<THTTPSecureProtocol, std::pair<long, long>> versions[] = {
      {THTTPSecureProtocol::TLS1, {CURL_SSLVERSION_TLSv1_0, CURL_SSLVERSION_MAX_TLSv1_0}},
      {THTTPSecureProtocol::TLS11, {CURL_SSLVERSION_TLSv1_1, CURL_SSLVERSION_MAX_TLSv1_1}},
      {THTTPSecureProtocol::TLS12, {CURL_SSLVERSION_TLSv1_2, CURL_SSLVERSION_MAX_TLSv1_2}},
      {THTTPSecureProtocol::TLS13, {CURL_SSLVERSION_TLSv1_3, CURL_SSLVERSION_MAX_TLSv1_3}}};
  bool any = false;
  for (const auto& [protocol, range] : versions) {
    if (!p.Contains(protocol)) continue;
    if (!any) minimum = range.first;
    maximum = range.second;
    any = true;
  }
  if (!any && !p.Empty()) {
    minimum = CURL_SSLVERSION_SSLv3;
    maximum = CURL_SSLVERSION_MAX_DEFAULT;
  }
  CURLcode code = curl_easy_setopt(h, CURLOPT_SSLVERSION, minimum | maximum);
  if (code != CURLE_OK && p.Contains(THTTPSecureProtocol::TLS13)) {
    // A TLS library without TLS 1.3: the same set without it.
    THTTPSecureProtocols fallback = p;
    fallback.Exclude(THTTPSecureProtocol::TLS13);
    TAttemptSetup lowered = ASetup;
    lowered.Protocols = fallback;
    ConfigureTls(lowered);
    return;
  }
  CheckOption(code, TCurlOptionKind::Request);
}

void TRestHTTP::TImpl::Configure(const TAttemptSetup& ASetup) {
  SetOption(CURLOPT_URL, ASetup.URL.c_str());
  ConfigureMethod(ASetup);

  // Exchanges of a connection mostly repeat their headers; the list curl
  // holds is rebuilt only when they change.
  if (ASetup.HeaderLines != FHeaderLines || FHeaders.Get() == nullptr) {
    detail::TCurlSlist headers;
    for (const std::string& line : ASetup.HeaderLines) {
      if (!headers.Append(line)) CheckOption(CURLE_OUT_OF_MEMORY, TCurlOptionKind::Header);
    }
    FHeaderLines.clear();
    SetOption(CURLOPT_HTTPHEADER, headers.Get(), TCurlOptionKind::Header);
    FHeaders = std::move(headers);
    FHeaderLines = ASetup.HeaderLines;
  }

  switch (ASetup.Proxy) {
    case TProxyMode::Environment:
      // Unset: curl reads http_proxy, https_proxy, all_proxy and no_proxy.
      SetOption(CURLOPT_PROXY, nullptr);
      SetOption(CURLOPT_NOPROXY, nullptr);
      break;
    case TProxyMode::None:
      SetOption(CURLOPT_PROXY, "");
      break;
    case TProxyMode::Named:
      SetOption(CURLOPT_PROXY, ASetup.ProxyName.c_str());
      // A named proxy is used for every host, whatever no_proxy says.
      SetOption(CURLOPT_NOPROXY, "");
      break;
  }
  if (ASetup.ProxyCredentials) {
    SetOption(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    SetOption(CURLOPT_PROXYUSERNAME, ASetup.ProxyUserName.c_str(), TCurlOptionKind::Header);
    SetOption(CURLOPT_PROXYPASSWORD, ASetup.ProxyPassword.c_str(), TCurlOptionKind::Header);
  } else {
    SetOption(CURLOPT_PROXYUSERNAME, nullptr, TCurlOptionKind::Header);
    SetOption(CURLOPT_PROXYPASSWORD, nullptr, TCurlOptionKind::Header);
  }

  ConfigureTls(ASetup);
  SetOption(CURLOPT_CONNECTTIMEOUT_MS,
            static_cast<long>(std::max<std::int32_t>(ASetup.ConnectTimeout, 0)),
            TCurlOptionKind::Timeout);
}

void TRestHTTP::TImpl::RunLoop(const TAttemptSetup& ASetup) {
  using Clock = std::chrono::steady_clock;
  CURLM* multi = FMulti.Get();
  CURLMcode added = curl_multi_add_handle(multi, FEasy.Get());
  if (added != CURLM_OK) {
    FResult->Code = CURLE_FAILED_INIT;
    FResult->ErrorText = curl_multi_strerror(added);
    return;
  }
  bool timedOut = false;
  for (;;) {
    int running = 0;
    const CURLMcode mc = curl_multi_perform(multi, &running);
    if (mc != CURLM_OK) {
      FResult->Code = CURLE_FAILED_INIT;
      FResult->ErrorText = curl_multi_strerror(mc);
      break;
    }
    if (running == 0) {
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE) FResult->Code = msg->data.result;
      }
      break;
    }
    int waitMs = kMaxPollMs;
    if (FConnected) {
      // Sending may stall for the send limit, the answer for the read limit;
      // both count from the last byte that moved.
      const std::int32_t limit = FRequestSent ? ASetup.ReadTimeout : ASetup.SendTimeout;
      if (limit > 0) {
        const auto idle =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - FLastActivity)
                .count();
        if (idle >= limit) {
          timedOut = true;
          break;
        }
        waitMs = static_cast<int>(std::min<long long>(waitMs, limit - idle));
      }
    }
    curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
  }
  if (timedOut) {
    FResult->Code = CURLE_OPERATION_TIMEDOUT;
    FResult->ErrorText = curl_easy_strerror(CURLE_OPERATION_TIMEDOUT);
  }
  FResult->Receiving = FRequestSent;
  // Removing a handle that has not finished closes its connection; a finished
  // one goes back to the multi handle's cache for the next request.
  curl_multi_remove_handle(multi, FEasy.Get());
}

TAttemptResult TRestHTTP::TImpl::Perform(const TAttemptSetup& ASetup, TStream* ASink) {
  // A request started from an event that runs inside a transfer (client
  // certificate selection) would reuse the busy handle.
  if (FResult != nullptr) CheckOption(CURLE_RECURSIVE_API_CALL, TCurlOptionKind::Request);
  TAttemptResult result;
  Configure(ASetup);
  FResult = &result;
  FBody = ASetup.Body;
  FSink = ASink;
  FFailure = nullptr;
  FMethod = ASetup.Method;
  FURL = ASetup.URL;
  FConnected = false;
  FRequestSent = false;
  FErrorBuffer[0] = '\0';
  Touch();
  RunLoop(ASetup);
  FResult = nullptr;
  FBody = nullptr;
  FSink = nullptr;
  if (FFailure) std::rethrow_exception(std::exchange(FFailure, nullptr));
  if (result.Code != CURLE_OK && result.ErrorText.empty()) result.ErrorText = FErrorBuffer;
  curl_easy_getinfo(FEasy.Get(), CURLINFO_HTTP_CONNECTCODE, &result.ConnectCode);
  return result;
}

// ---------------------------------------------------------------------------
// The HTTP object

namespace {

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

std::string HostText(const std::string& AURL) {
  std::string_view rest = AURL;
  const auto scheme = rest.find("://");
  if (scheme != std::string_view::npos) rest.remove_prefix(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const auto at = rest.rfind('@');
  if (at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (!rest.starts_with('[')) rest = rest.substr(0, rest.find(':'));
  return std::string(rest);
}

// Raises the failure for a URL that curl refused to request: what is wrong
// with it decides between "Error connecting to server" and "Error opening
// request". Does nothing when the URL is an absolute http or https URL.
// (Called only after curl refused: parsing every URL up front would cost each
// request as much as a tenth of a loopback round trip.)
void CheckRequestUrl(const std::string& AURL) {
  detail::TCurlUrl url(curl_url());
  if (!url) throw ENetHTTPClientException("Error obtaining session handle");
  const CURLUcode code =
      curl_url_set(url.Get(), CURLUPART_URL, AURL.c_str(), CURLU_NON_SUPPORT_SCHEME);
  if (code != CURLUE_OK) detail::RaiseUrlError(code, HostText(AURL));
  const std::string scheme = LowerCase(UrlPart(url.Get(), CURLUPART_SCHEME));
  if (scheme != "http" && scheme != "https") detail::RaiseUrlError(CURLUE_UNSUPPORTED_SCHEME, "");
}

bool HasLineBreak(std::string_view AText) {
  return AText.find_first_of("\r\n") != std::string_view::npos;
}

// The path a cookie without Path attribute belongs to: the request path up to
// its last "/".
std::string DefaultCookiePath(const std::string& APath) {
  const auto slash = APath.rfind('/');
  if (APath.empty() || APath.front() != '/' || slash == 0 || slash == std::string::npos) return "/";
  return APath.substr(0, slash);
}

}  // namespace

TRestHTTP::TRestHTTP() : FHTTPClient(std::make_unique<TImpl>(*this)) {}
TRestHTTP::~TRestHTTP() = default;

void TRestHTTP::Get(const std::string& AURL, TStream& AResponseContent) {
  Execute("GET", AURL, nullptr, &AResponseContent);
}
void TRestHTTP::Put(const std::string& AURL, TStream& ASource, TStream& AResponseContent) {
  Execute("PUT", AURL, &ASource, &AResponseContent);
}
void TRestHTTP::Post(const std::string& AURL, TStream& ASource, TStream& AResponseContent) {
  Execute("POST", AURL, &ASource, &AResponseContent);
}
void TRestHTTP::Delete(const std::string& AURL, TStream& AResponseStream) {
  Execute("DELETE", AURL, nullptr, &AResponseStream);
}
void TRestHTTP::Patch(const std::string& AURL, TStream& ASource, TStream& AResponseContent) {
  Execute("PATCH", AURL, &ASource, &AResponseContent);
}
void TRestHTTP::Head(const std::string& AURL) { Execute("HEAD", AURL, nullptr, nullptr); }
void TRestHTTP::Merge(const std::string& AURL, TStream& ARequestStream) {
  Execute("MERGE", AURL, &ARequestStream, nullptr);
}

namespace {

// The headers of one attempt, in order: the header set's custom entries, then
// its standard ones, then the attempt's credentials.
std::vector<std::string> HeaderLines(const THTTPRequestHeaders& AHeaders, const TStream* ABody,
                                     bool ABodyDropped, bool ASameOrigin,
                                     const std::optional<TPair>& AServerPair) {
  std::vector<std::string> lines;
  auto add = [&](std::string_view AName, std::string_view AValue) {
    if (HasLineBreak(AName) || HasLineBreak(AValue)) {
      // A line break would let a value forge further headers.
      CheckOption(CURLE_BAD_FUNCTION_ARGUMENT, TCurlOptionKind::Header);
    }
    std::string line(AName);
    line += ": ";
    line += AValue;
    lines.push_back(std::move(line));
  };
  bool contentType = false;
  for (const auto& [name, value] : AHeaders.CustomHeaders()) {
    if (ABodyDropped && SameText(name, "Content-Type")) continue;
    if (!ASameOrigin && (SameText(name, "Authorization"))) continue;
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
  // Only a body over 1 MB is announced with "Expect: 100-continue": a server
  // that answers 401 or 407 at once then spares an upload that would have to
  // be sent again, while small bodies never wait for a server that ignores
  // the announcement (curl would announce every PUT body).
  if (ABody != nullptr && ABody->Size() <= kExpectThreshold) lines.emplace_back("Expect:");
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
  TPair proxyRequestPair;
  if (FProxyConnectionInfo && !FProxyConnectionInfo->Host().empty()) {
    if (FProxyConnectionInfo->IsDirect()) {
      setup.Proxy = TProxyMode::None;
    } else {
      setup.Proxy = TProxyMode::Named;
      setup.ProxyName = FProxyConnectionInfo->ProxyName();
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
    setup.ProxyCredentials = proxyPair.has_value() && setup.Proxy != TProxyMode::None;
    setup.ProxyUserName = proxyPair ? proxyPair->UserName : std::string();
    setup.ProxyPassword = proxyPair ? proxyPair->Password : std::string();
    setup.HeaderLines = HeaderLines(FRequestHeaders, body, bodyDropped, sameOrigin, serverPair);
    if (body != nullptr) body->SetPosition(0);

    TAttemptResult r = FHTTPClient->Perform(setup, AResponse);

    if (r.Code == CURLE_PEER_FAILED_VERIFICATION && verifyPeer) {
      if (!r.HaveServerCertificate) {
        throw ENetHTTPCertificateException("Error getting Server Certificate");
      }
      if (!ServerCertificateAccepted(method, url, r.ServerCertificate)) {
        throw ENetHTTPCertificateException("Server Certificate not accepted");
      }
      verifyPeer = false;
      continue;
    }
    if (r.Code != CURLE_OK) {
      // A proxy that refused to open a tunnel answered like a server would.
      const bool tunnelAnswer = r.ConnectCode >= 300 && r.Status == r.ConnectCode;
      if (!tunnelAnswer) {
        if (r.ClientCertificateAsked && r.Status == 0 && r.Code != CURLE_OPERATION_TIMEDOUT) {
          if (r.ClientCertificateSent) {
            throw ENetHTTPCertificateException("Client rejected the certificate");
          }
          if (r.ClientCandidates == 0) throw ENetHTTPCertificateException("Empty certificate list");
          throw ENetHTTPCertificateException("Unspecified certificate from client");
        }
        if (r.Code == CURLE_URL_MALFORMAT || r.Code == CURLE_UNSUPPORTED_PROTOCOL) {
          CheckRequestUrl(url);
        }
        detail::RaiseTransferError(r.Code, r.ErrorText, r.Receiving);
      }
    }

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

TProxyConnectionInfo& TRestHTTP::ProxyConnectionInfo() {
  if (!FProxyConnectionInfo) FProxyConnectionInfo = std::make_unique<TProxyConnectionInfo>();
  return *FProxyConnectionInfo;
}

const THTTPResponse& TRestHTTP::Response() const {
  if (!FHTTPResponse) throw Exception("HTTP Response Object not found or available yet");
  return *FHTTPResponse;
}

std::string TRestHTTP::UserAgent() const { return kUserAgent; }

void TRestHTTP::Disconnect() { FRequestHeaders.SetHeader("Connection", "close"); }

void TRestHTTP::SetAuthentication(const std::string& AUserName, const std::string& APassword) {
  FCredentials.Add({TAuthTargetType::Server, "", "", AUserName, APassword});
}

void TRestHTTP::AddServerCookie(const std::string& ACookie, const std::string& AURL) {
  if (!FAllowCookies || HasLineBreak(ACookie)) return;
  detail::TCurlUrl url = ParseUrl(AURL);
  if (!url) return;
  const std::string host = UrlPart(url.Get(), CURLUPART_HOST);
  if (host.empty()) return;

  std::string_view rest = ACookie;
  const std::string_view pair = Trim(rest.substr(0, rest.find(';')));
  const auto eq = pair.find('=');
  if (eq == std::string_view::npos || Trim(pair.substr(0, eq)).empty()) return;
  const std::string name(Trim(pair.substr(0, eq)));
  const std::string value(Trim(pair.substr(eq + 1)));
  std::string domain = host;
  bool tailmatch = false;
  std::string path = DefaultCookiePath(UrlPart(url.Get(), CURLUPART_PATH));
  bool secure = false;
  long long expires = 0;
  std::size_t pos = rest.find(';');
  while (pos != std::string_view::npos) {
    const std::size_t next = rest.find(';', pos + 1);
    const std::string_view attr =
        Trim(rest.substr(pos + 1, next == std::string_view::npos ? next : next - pos - 1));
    pos = next;
    const auto aeq = attr.find('=');
    const std::string key = LowerCase(Trim(attr.substr(0, aeq)));
    const std::string val(aeq == std::string_view::npos ? "" : Trim(attr.substr(aeq + 1)));
    if (key == "domain" && !val.empty()) {
      domain = val.front() == '.' ? val.substr(1) : val;
      tailmatch = true;
    } else if (key == "path" && !val.empty() && val.front() == '/') {
      path = val;
    } else if (key == "secure") {
      secure = true;
    } else if (key == "max-age") {
      char* end = nullptr;
      const long long seconds = std::strtoll(val.c_str(), &end, 10);
      if (end != val.c_str())
        expires = seconds <= 0 ? 1 : static_cast<long long>(std::time(nullptr)) + seconds;
    } else if (key == "expires" && expires == 0) {
      const time_t when = curl_getdate(val.c_str(), nullptr);
      if (when > 0) expires = when;
    }
  }
  const auto field = [](std::string_view AText) {
    return AText.find('\t') == std::string_view::npos;
  };
  if (!field(name) || !field(value) || !field(domain) || !field(path)) return;
  FHTTPClient->AddCookieLine(domain + "\t" + (tailmatch ? "TRUE" : "FALSE") + "\t" + path + "\t" +
                             (secure ? "TRUE" : "FALSE") + "\t" + std::to_string(expires) + "\t" +
                             name + "\t" + value);
}

std::vector<std::string> TRestHTTP::CookieList() const { return FHTTPClient->CookieList(); }

std::vector<std::string> TRestHTTP::RegisteredProtocolList() { return {"http", "https"}; }

TRestHTTPClass TRestHTTP::ProtocolClass(const std::string& AName) {
  if (SameText(AName, "https")) {
    return []() -> std::unique_ptr<TRestHTTP> { return std::make_unique<TRestHTTPS>(); };
  }
  return []() { return std::make_unique<TRestHTTP>(); };
}

std::string TRestHTTP::ClientCertificateFolder() {
  const std::string base = TComputerInfo().SpecialFolder(TComputerInfo::sfAppData);
  if (base.empty()) return {};
  return base + "/QVR/certificados";
}

}  // namespace qvr::rest
