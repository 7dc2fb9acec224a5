// The answers the server gives; see Answers.h.
#include "server/Answers.h"

#include "platform/Utf.h"
#include "rest/json/JSONText.h"
#include "rest/json/JSONValues.h"

namespace qvr::server {

THttpAnswer JSONAnswer(std::shared_ptr<const std::string> ABody, int AStatus) {
  THttpAnswer answer;
  answer.Status = AStatus;
  answer.Fields = {{"Content-Type", kJSONContentType},
                   {"Cache-Control", "no-store"},
                   {"X-Content-Type-Options", "nosniff"}};
  answer.Body = std::move(ABody);
  return answer;
}

THttpAnswer ErrorAnswer(int AStatus, const std::string& AMessage, std::string_view AMember) {
  rest::TJSONObject object;
  object.AddPair(std::string(AMember), SanitizeUtf8(AMessage));
  return JSONAnswer(std::make_shared<const std::string>(rest::WriteJSON(object)), AStatus);
}

const char* ReasonPhrase(int AStatus) {
  switch (AStatus) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 421:
      return "Misdirected Request";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    case 507:
      return "Insufficient Storage";
    default:
      return "Unknown";
  }
}

}  // namespace qvr::server
