// The transfer over curl behind TRestHTTP (its private TImpl): one curl
// transfer per attempt. One easy handle inside one multi handle serves every
// request of the object, so curl's connection cache keeps connections alive
// between exchanges. The multi handle lets this unit run the transfer loop
// itself, which is what makes the read time-out an idle limit with
// millisecond precision. What the attempts are (redirects, authentication,
// certificate acceptance) is decided by the attempt loop
// (detail/AttemptLoop.h), which drives this transfer through
// detail::ITransfer; curl's cookie engine keeps the cookies. Used only by the
// HTTP object's .cpp files.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "platform/Streams.h"
#include "rest/http/HTTPResponse.h"
#include "rest/http/HTTPTypes.h"
#include "rest/http/RestHTTP.h"
#include "rest/http/detail/CurlErrors.h"
#include "rest/http/detail/CurlHandles.h"
#include "rest/http/detail/LazyLibs.h"
#include "rest/http/detail/Transfer.h"

namespace qvr::rest {

namespace detail {

// The client's own User-Agent text (TRestHTTP::UserAgent).
inline constexpr const char* kUserAgent = "Kolvane URI Client/1.0";

}  // namespace detail

// The curl handles of one HTTP object and the state of its running attempt.
class TRestHTTP::TImpl final : public detail::ITransfer {
 public:
  explicit TImpl(TRestHTTP& AOwner);
  TImpl(const TImpl&) = delete;
  TImpl& operator=(const TImpl&) = delete;

  // Runs one attempt and tells how it ended (detail::TTransferOutcome).
  // Failures of the transfer come back in the result; only refused options
  // and exceptions of the caller's stream or events raise.
  detail::TAttemptResult Perform(const detail::TAttemptSetup& ASetup, TStream* ASink) override;
  THTTPAuthSchemes Schemes() const override { return FSchemes; }

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
  void SetOption(CURLoption AOption, T AValue,
                 detail::TCurlOptionKind AKind = detail::TCurlOptionKind::Request) {
    detail::CheckOption(curl_easy_setopt(FEasy.Get(), AOption, AValue), AKind);
  }

  void Configure(const detail::TAttemptSetup& ASetup);
  void ConfigureMethod(const detail::TAttemptSetup& ASetup);
  void ConfigureTls(const detail::TAttemptSetup& ASetup);
  void ConfigureAuthentication(const detail::TAttemptSetup& ASetup);
  void RunLoop(const detail::TAttemptSetup& ASetup);

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
  // What curl can answer besides Basic (its build's features).
  THTTPAuthSchemes FSchemes;
  // The server's scheme and pair as the easy handle holds them, so that an
  // exchange that answers no challenge sets nothing.
  detail::TAuthAnswer FServerAuth;
  bool FDelegate = false;
  bool FFreshConnection = false;
  // The last answer was a gateway's failure (see Configure).
  bool FAfterGatewayFailure = false;

  // State of the running attempt, reached from curl's callbacks.
  detail::TAttemptResult* FResult = nullptr;
  TStream* FBody = nullptr;
  TStream* FSink = nullptr;
  // The sink keeps the body in memory, so it is bounded (FHeldLimit > 0).
  bool FSinkHeld = false;
  std::int64_t FHeldLimit = 0;
  // Bytes of the answer's body written to FSink in this attempt.
  std::int64_t FSinkBytes = 0;
  // Set by the first byte of a body.
  bool FBodyStarted = false;
  std::exception_ptr FFailure;
  std::string FMethod;
  std::string FURL;
  bool FConnected = false;
  bool FRequestSent = false;
  // A whole request went out and no byte of an answer has come back since;
  // curl would send it again on a new connection if its connection closed
  // now (see OnPrereq).
  bool FUnanswered = false;
  // OnPrereq stopped such a repetition.
  bool FRepetitionRefused = false;
  std::chrono::steady_clock::time_point FLastActivity;
};

}  // namespace qvr::rest
