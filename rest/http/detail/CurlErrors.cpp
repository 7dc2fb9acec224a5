// Mapping of libcurl's result codes to the HTTP layer's exceptions; see
// CurlErrors.h.
#include "rest/http/detail/CurlErrors.h"

#include "platform/SysUtils.h"
#include "rest/http/NetHTTPExceptions.h"

namespace qvr::rest::detail {

std::string CurlErrorText(CURLcode ACode, const std::string& AText) {
  return AText.empty() ? std::string(curl_easy_strerror(ACode)) : AText;
}

void CheckOption(CURLcode ACode, TCurlOptionKind AKind) {
  if (ACode == CURLE_OK) return;
  const std::string text = curl_easy_strerror(ACode);
  switch (AKind) {
    case TCurlOptionKind::Header:
      throw ENetHTTPRequestException(
          Format("Error adding header: (%d) %s", static_cast<int>(ACode), text));
    case TCurlOptionKind::Timeout:
      throw ENetHTTPRequestException(
          Format("Error setting timeout for the request: (%d) %s", static_cast<int>(ACode), text));
    case TCurlOptionKind::Request:
      break;
  }
  throw ENetHTTPRequestException(
      Format("Error opening request: (%d) %s", static_cast<int>(ACode), text));
}

void RaiseTransferError(CURLcode ACode, const std::string& AText, bool AReceiving) {
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

void RaiseUrlError(CURLUcode ACode, const std::string& AHost) {
  if (ACode == CURLUE_BAD_HOSTNAME || ACode == CURLUE_NO_HOST) {
    throw ENetHTTPRequestException(Format("Error connecting to server: %s", AHost));
  }
  const CURLcode code =
      ACode == CURLUE_UNSUPPORTED_SCHEME ? CURLE_UNSUPPORTED_PROTOCOL : CURLE_URL_MALFORMAT;
  throw ENetHTTPRequestException(
      Format("Error opening request: (%d) %s", static_cast<int>(code), curl_url_strerror(ACode)));
}

}  // namespace qvr::rest::detail
