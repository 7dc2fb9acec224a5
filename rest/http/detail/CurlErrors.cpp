// Mapping of libcurl's result codes to the HTTP layer's outcomes and
// exceptions; see CurlErrors.h.
#include "rest/http/detail/CurlErrors.h"

#include <string_view>

#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "rest/http/NetHTTPExceptions.h"
#include "rest/http/detail/CurlHandles.h"
#include "rest/http/detail/CurlUrl.h"

namespace qvr::rest::detail {

namespace {

// The text that fills "(%d) %s": the detailed text when there is one.
std::string CurlErrorText(CURLcode ACode, const std::string& AText) {
  return AText.empty() ? std::string(curl_easy_strerror(ACode)) : AText;
}

ENetHTTPRequestException OptionRefused(CURLcode ACode, TCurlOptionKind AKind) {
  const std::string text = curl_easy_strerror(ACode);
  switch (AKind) {
    case TCurlOptionKind::Header:
      return ENetHTTPRequestException(
          Format("Error adding header: (%d) %s", static_cast<int>(ACode), text));
    case TCurlOptionKind::Timeout:
      return ENetHTTPRequestException(
          Format("Error setting timeout for the request: (%d) %s", static_cast<int>(ACode), text));
    case TCurlOptionKind::Request:
      break;
  }
  return ENetHTTPRequestException(
      Format("Error opening request: (%d) %s", static_cast<int>(ACode), text));
}

// Raises the failure of a transfer that ended with ACode; AText is curl's
// detailed text (may be empty: curl's general text for the code is used).
// AReceiving tells a time-out while waiting for the answer from one while
// connecting or sending.
[[noreturn]] void RaiseTransferError(CURLcode ACode, const std::string& AText, bool AReceiving) {
  const std::string text = CurlErrorText(ACode, AText);
  switch (ACode) {
    // The request could not be formed at all.
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_NOT_BUILT_IN:
    case CURLE_UNKNOWN_OPTION:
      throw ENetHTTPRequestException(
          Format("Error opening request: (%d) %s", static_cast<int>(ACode), text));
    // The answer started but its body could not be taken in.
    case CURLE_WRITE_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_FILESIZE_EXCEEDED:
      throw ENetHTTPResponseException(
          Format("Error reading data: (%d) %s", static_cast<int>(ACode), text));
    // The request left but no (usable) answer came back.
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      throw ENetHTTPClientException(
          Format("Error receiving data: (%d) %s", static_cast<int>(ACode), text));
    case CURLE_OPERATION_TIMEDOUT:
      if (AReceiving) {
        throw ENetHTTPClientException(
            Format("Error receiving data: (%d) %s", static_cast<int>(ACode), text));
      }
      break;
    default:
      break;
  }
  // Refused, unresolved, timed out while connecting or sending, no secure
  // channel: the request could not be delivered.
  throw ENetHTTPClientException(
      Format("Error sending data: (%d) %s", static_cast<int>(ACode), text));
}

// Raises the failure for a URL that curl's parser refused: "Error connecting
// to server: %s" (with AHost) for a missing or invalid host, else "Error
// opening request: (%d) %s" (both ENetHTTPRequestException).
[[noreturn]] void RaiseUrlError(CURLUcode ACode, const std::string& AHost) {
  if (ACode == CURLUE_BAD_HOSTNAME || ACode == CURLUE_NO_HOST) {
    throw ENetHTTPRequestException(Format("Error connecting to server: %s", AHost));
  }
  const CURLcode code =
      ACode == CURLUE_UNSUPPORTED_SCHEME ? CURLE_UNSUPPORTED_PROTOCOL : CURLE_URL_MALFORMAT;
  throw ENetHTTPRequestException(
      Format("Error opening request: (%d) %s", static_cast<int>(code), curl_url_strerror(ACode)));
}

// The host as written in AURL, for a message about a host curl refused.
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
  TCurlUrl url(curl_url());
  if (!url) throw ENetHTTPClientException("Error obtaining session handle");
  const CURLUcode code =
      curl_url_set(url.Get(), CURLUPART_URL, AURL.c_str(), CURLU_NON_SUPPORT_SCHEME);
  if (code != CURLUE_OK) RaiseUrlError(code, HostText(AURL));
  const std::string scheme = LowerCase(UrlPart(url.Get(), CURLUPART_SCHEME));
  if (scheme != "http" && scheme != "https") RaiseUrlError(CURLUE_UNSUPPORTED_SCHEME, "");
}

}  // namespace

void CheckOption(CURLcode ACode, TCurlOptionKind AKind) {
  if (ACode != CURLE_OK) throw OptionRefused(ACode, AKind);
}

void RaiseHeaderRefused() {
  // The code curl itself gives a header it cannot take.
  throw OptionRefused(CURLE_BAD_FUNCTION_ARGUMENT, TCurlOptionKind::Header);
}

TTransferOutcome TransferOutcome(const TAttemptSetup& ASetup, const TAttemptResult& AResult) {
  const auto code = static_cast<CURLcode>(AResult.ResultCode);
  // The bound stopped the transfer, which curl reports as a write error.
  if (AResult.BodyTooLarge) return TTransferOutcome::HeldBodyTooLarge;
  if (code == CURLE_PEER_FAILED_VERIFICATION && ASetup.VerifyPeer) {
    return TTransferOutcome::ServerCertificateRefused;
  }
  if (code == CURLE_SSL_PINNEDPUBKEYNOTMATCH && !ASetup.PinnedPublicKey.empty()) {
    return TTransferOutcome::PinnedKeyMismatch;
  }
  if (code == CURLE_OK) return TTransferOutcome::Answered;
  // A proxy that refused to open a tunnel answered like a server would.
  if (AResult.ConnectCode >= 300 && AResult.Status == AResult.ConnectCode) {
    return TTransferOutcome::Answered;
  }
  // A server that wanted another client certificate ends the handshake; a
  // time-out is no answer about the certificate.
  if (AResult.ClientCertificateAsked && AResult.Status == 0 && code != CURLE_OPERATION_TIMEDOUT) {
    if (AResult.ClientCertificateSent) return TTransferOutcome::ClientCertificateRejected;
    return AResult.ClientCandidates == 0 ? TTransferOutcome::ClientCertificateListEmpty
                                         : TTransferOutcome::ClientCertificateUnspecified;
  }
  if (code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL) {
    return TTransferOutcome::UrlRefused;
  }
  return TTransferOutcome::Failed;
}

void RaiseTransferFailure(const TAttemptResult& AResult, const TAttemptSetup& ASetup) {
  switch (AResult.Outcome) {
    case TTransferOutcome::HeldBodyTooLarge:
      throw ENetHTTPClientException(
          Format("Response body exceeds %d bytes", ASetup.MaxHeldBodySize));
    case TTransferOutcome::PinnedKeyMismatch:
      // The retry met another certificate than the one accepted; it was
      // refused before anything was sent over it.
      throw ENetHTTPCertificateException("Server Certificate not accepted");
    case TTransferOutcome::ClientCertificateRejected:
      throw ENetHTTPCertificateException("Client rejected the certificate");
    case TTransferOutcome::ClientCertificateListEmpty:
      throw ENetHTTPCertificateException("Empty certificate list");
    case TTransferOutcome::ClientCertificateUnspecified:
      throw ENetHTTPCertificateException("Unspecified certificate from client");
    case TTransferOutcome::UrlRefused:
      CheckRequestUrl(ASetup.URL);
      break;
    case TTransferOutcome::Answered:
    case TTransferOutcome::ServerCertificateRefused:
    case TTransferOutcome::Failed:
      break;
  }
  RaiseTransferError(static_cast<CURLcode>(AResult.ResultCode), AResult.ErrorText,
                     AResult.Receiving);
}

}  // namespace qvr::rest::detail
