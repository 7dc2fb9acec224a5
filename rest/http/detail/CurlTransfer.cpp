// The transfer over curl behind TRestHTTP; see CurlTransfer.h.
#include "rest/http/detail/CurlTransfer.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "rest/http/NetHTTPExceptions.h"
#include "rest/http/detail/HttpTls.h"

namespace qvr::rest {

using detail::CheckOption;
using detail::kUserAgent;
using detail::TAttemptResult;
using detail::TAttemptSetup;
using detail::TCurlOptionKind;
using detail::TProxyMode;

namespace {

constexpr long kBlockSize = 64 * 1024;
// How long one wait of the transfer loop may last when no limit is closer;
// bounds the delay with which an idle limit is noticed.
constexpr int kMaxPollMs = 1000;

// curl's bit for one scheme.
unsigned long CurlAuthBit(THTTPAuthScheme AScheme) {
  switch (AScheme) {
    case THTTPAuthScheme::Negotiate:
      return CURLAUTH_NEGOTIATE;
    case THTTPAuthScheme::NTLM:
      return CURLAUTH_NTLM;
    case THTTPAuthScheme::Digest:
      return CURLAUTH_DIGEST;
    case THTTPAuthScheme::Basic:
      return CURLAUTH_BASIC;
    case THTTPAuthScheme::Passport:
    case THTTPAuthScheme::None:
      break;
  }
  return CURLAUTH_NONE;
}

// Whether a request of AMethod may be sent twice without harm: the methods
// that only read. A remote call by POST, PUT or PATCH may store data, and
// DELETE ends something; none of them can be repeated blindly.
bool Repeatable(std::string_view AMethod) {
  return AMethod == "GET" || AMethod == "HEAD" || AMethod == "OPTIONS";
}

int SslExDataIndex() {
  static std::once_flag once;
  static int index = -1;
  std::call_once(once,
                 [] { index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
  return index;
}

}  // namespace

TRestHTTP::TImpl::TImpl(TRestHTTP& AOwner) : FOwner(AOwner) {
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
  // Digest is part of every curl build that has TLS; Negotiate and NTLM
  // depend on how curl was built.
  FSchemes.Include(THTTPAuthScheme::Digest);
  if (const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW)) {
    if ((info->features & CURL_VERSION_SPNEGO) != 0) FSchemes.Include(THTTPAuthScheme::Negotiate);
    if ((info->features & CURL_VERSION_NTLM) != 0) FSchemes.Include(THTTPAuthScheme::NTLM);
  }
}

size_t TRestHTTP::TImpl::OnHeader(char* ABuffer, size_t ASize, size_t ACount, void* AUser) {
  auto* self = static_cast<TImpl*>(AUser);
  const size_t size = ASize * ACount;
  self->Touch();
  self->FRequestSent = true;
  self->FUnanswered = false;
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
  self->FBodyStarted = true;
  TAttemptResult& result = *self->FResult;
  // Beyond the bound the transfer stops (curl ends it with a write error);
  // what arrived up to the bound stays.
  const auto exceeds = [&](std::int64_t AHeld) {
    if (self->FHeldLimit <= 0 || AHeld + static_cast<std::int64_t>(size) <= self->FHeldLimit) {
      return false;
    }
    result.BodyTooLarge = true;
    return true;
  };
  try {
    if (result.Status >= 300) {
      if (exceeds(static_cast<std::int64_t>(result.ErrorBody.size()))) return 0;
      result.ErrorBody.append(ABuffer, size);
    } else if (self->FSink != nullptr) {
      if (self->FSinkHeld && exceeds(self->FSinkBytes)) return 0;
      const size_t written = self->FSink->Write(ABuffer, size);
      self->FSinkBytes += static_cast<std::int64_t>(written);
      if (const auto& progress = self->FOwner.FOnProgress) {
        curl_off_t total = -1;
        curl_easy_getinfo(self->FEasy.Get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
        progress(TTransferDirection::Receiving, self->FSinkBytes, total);
      }
      return written;
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
    // curl asks no further once it has the length it announced.
    if (n == 0 || self->FBody->Position() >= self->FBody->Size()) self->FUnanswered = true;
    if (n > 0 && self->FOwner.FOnProgress) {
      self->FOwner.FOnProgress(TTransferDirection::Sending, self->FBody->Position(),
                               self->FBody->Size());
    }
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
  // curl sends a request again by itself when the kept-alive connection it
  // went out on closes before any answer (taking the close for a server that
  // had dropped an idle connection). But the server may have read it and
  // carried it out: an upload would be stored twice and acknowledged once.
  if (self->FUnanswered && !Repeatable(self->FMethod)) {
    self->FRepetitionRefused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  self->FConnected = true;
  if (self->FBody == nullptr) self->FRequestSent = true;
  // Without a body to read, the request is out once its head is.
  if (self->FBody == nullptr || self->FBody->Size() == 0) self->FUnanswered = true;
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
      self->FResult->ServerPublicKeyPin = detail::PublicKeyPin(leaf);
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
  // curl checks the pin whether or not it verifies, before anything is sent.
  SetOption(CURLOPT_PINNEDPUBLICKEY,
            ASetup.PinnedPublicKey.empty() ? nullptr : ASetup.PinnedPublicKey.c_str());
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
  ConfigureAuthentication(ASetup);
  ConfigureTls(ASetup);
  SetOption(CURLOPT_CONNECTTIMEOUT_MS,
            static_cast<long>(std::max<std::int32_t>(ASetup.ConnectTimeout, 0)),
            TCurlOptionKind::Timeout);
}

void TRestHTTP::TImpl::ConfigureAuthentication(const TAttemptSetup& ASetup) {
  // One scheme per attempt, chosen by the attempt loop: given several, curl
  // would pick by its own ranking and not fall back when Negotiate fails.
  const detail::TAuthAnswer& proxy = ASetup.ProxyAuth;
  if (proxy.Scheme != THTTPAuthScheme::None) {
    SetOption(CURLOPT_PROXYAUTH, static_cast<long>(CurlAuthBit(proxy.Scheme)));
    // Negotiate takes no pair, but curl answers nothing without a user name.
    SetOption(CURLOPT_PROXYUSERNAME, proxy.UserName.c_str(), TCurlOptionKind::Header);
    SetOption(CURLOPT_PROXYPASSWORD, proxy.Password.c_str(), TCurlOptionKind::Header);
  } else {
    SetOption(CURLOPT_PROXYUSERNAME, nullptr, TCurlOptionKind::Header);
    SetOption(CURLOPT_PROXYPASSWORD, nullptr, TCurlOptionKind::Header);
  }

  // The server's options change only around an answer to a challenge, so
  // an exchange with Basic alone (a header line) or none sets nothing here.
  const detail::TAuthAnswer& server = ASetup.ServerAuth;
  if (server != FServerAuth) {
    if (server.Scheme == THTTPAuthScheme::None) {
      // Without a user name curl sends no credentials of its own: nothing
      // of an earlier answer reaches another attempt (another origin above
      // all), which a scheme left set alone would not ensure.
      SetOption(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
      SetOption(CURLOPT_USERNAME, nullptr, TCurlOptionKind::Header);
      SetOption(CURLOPT_PASSWORD, nullptr, TCurlOptionKind::Header);
    } else {
      // A single bit: Negotiate then sends its token with the request
      // itself, which is why the loop chooses it only after a challenge.
      SetOption(CURLOPT_HTTPAUTH, static_cast<long>(CurlAuthBit(server.Scheme)));
      SetOption(CURLOPT_USERNAME, server.UserName.c_str(), TCurlOptionKind::Header);
      SetOption(CURLOPT_PASSWORD, server.Password.c_str(), TCurlOptionKind::Header);
    }
    FServerAuth = server;
  }
  if (ASetup.Delegate != FDelegate) {
    // The policy flag delegates only to a principal the realm marks
    // ok-as-delegate; curl's plain flag would delegate to any.
    SetOption(CURLOPT_GSSAPI_DELEGATION, ASetup.Delegate ? long{CURLGSSAPI_DELEGATION_POLICY_FLAG}
                                                         : long{CURLGSSAPI_DELEGATION_NONE});
    FDelegate = ASetup.Delegate;
  }
  // A gateway that could not reach the server behind it (502, 503, 504)
  // may close the connection it answered on without saying so, and only
  // when the next request arrives; that request would then fail unanswered
  // and, if it may change data, not be sent again. The next request after
  // such an answer goes on a new connection.
  const bool fresh = ASetup.FreshConnection || std::exchange(FAfterGatewayFailure, false);
  if (fresh != FFreshConnection) {
    SetOption(CURLOPT_FRESH_CONNECT, fresh ? 1L : 0L);
    FFreshConnection = fresh;
  }
}

void TRestHTTP::TImpl::RunLoop(const TAttemptSetup& ASetup) {
  using Clock = std::chrono::steady_clock;
  CURLM* multi = FMulti.Get();
  CURLMcode added = curl_multi_add_handle(multi, FEasy.Get());
  if (added != CURLM_OK) {
    FResult->ResultCode = CURLE_FAILED_INIT;
    FResult->ErrorText = curl_multi_strerror(added);
    return;
  }
  bool timedOut = false;
  for (;;) {
    int running = 0;
    const CURLMcode mc = curl_multi_perform(multi, &running);
    if (mc != CURLM_OK) {
      FResult->ResultCode = CURLE_FAILED_INIT;
      FResult->ErrorText = curl_multi_strerror(mc);
      break;
    }
    if (running == 0) {
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE) FResult->ResultCode = msg->data.result;
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
    FResult->ResultCode = CURLE_OPERATION_TIMEDOUT;
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
  FSinkHeld = dynamic_cast<TMemoryStream*>(ASink) != nullptr;
  FHeldLimit = ASetup.MaxHeldBodySize;
  FSinkBytes = 0;
  FBodyStarted = false;
  FFailure = nullptr;
  FMethod = ASetup.Method;
  FURL = ASetup.URL;
  FConnected = false;
  FRequestSent = false;
  FUnanswered = false;
  FRepetitionRefused = false;
  FErrorBuffer[0] = '\0';
  Touch();
  RunLoop(ASetup);
  FResult = nullptr;
  FBody = nullptr;
  FSink = nullptr;
  if (FFailure) std::rethrow_exception(std::exchange(FFailure, nullptr));
  if (result.ResultCode == CURLE_OUT_OF_MEMORY && FRequestSent && !FBodyStarted) {
    // curl refuses a status or header line longer than CURL_MAX_HTTP_HEADER
    // as "out of memory": what failed is the answer, not this process (a
    // header section too large in all curl reports as a receive error).
    result.ResultCode = CURLE_RECV_ERROR;
    result.ErrorText =
        Format("Too large response header line: more than %d bytes", CURL_MAX_HTTP_HEADER);
  }
  if (FRepetitionRefused) {
    result.ResultCode = CURLE_GOT_NOTHING;
    result.ErrorText =
        "The connection closed before the server answered; the request was not sent again, as "
        "the server may have carried it out";
  }
  if (result.ResultCode != CURLE_OK && result.ErrorText.empty()) result.ErrorText = FErrorBuffer;
  curl_easy_getinfo(FEasy.Get(), CURLINFO_HTTP_CONNECTCODE, &result.ConnectCode);
  FAfterGatewayFailure = result.Status == 502 || result.Status == 503 || result.Status == 504;
  result.Outcome = detail::TransferOutcome(ASetup, result);
  return result;
}

}  // namespace qvr::rest
