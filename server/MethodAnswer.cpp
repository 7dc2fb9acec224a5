// Building method answers; see MethodAnswer.h.
#include "server/MethodAnswer.h"

#include "rest/json/JSONText.h"

namespace qvr::server {

namespace {

constexpr std::string_view kOpen = "{\"result\":[";
constexpr std::string_view kClose = "]}";

TMethodAnswer Wrap(std::shared_ptr<std::string> ABody) {
  TMethodAnswer answer;
  const std::string_view body = *ABody;
  answer.Elements.push_back(body.substr(kOpen.size(), body.size() - kOpen.size() - kClose.size()));
  answer.Body = std::move(ABody);
  return answer;
}

}  // namespace

TMethodAnswer MakeAnswer(const rest::TJSONValue& AValue) {
  auto body = std::make_shared<std::string>(kOpen);
  rest::WriteJSON(AValue, *body);
  body->append(kClose);
  return Wrap(std::move(body));
}

TMethodAnswer MakeAnswerFromText(std::string_view AText) {
  auto body = std::make_shared<std::string>();
  body->reserve(kOpen.size() + AText.size() + kClose.size());
  body->append(kOpen).append(AText).append(kClose);
  return Wrap(std::move(body));
}

}  // namespace qvr::server
