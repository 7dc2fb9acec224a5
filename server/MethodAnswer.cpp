// Building method answers; see MethodAnswer.h.
#include "server/MethodAnswer.h"

#include "rest/json/JSONText.h"
#include "rest/wire/Envelope.h"

namespace qvr::server {

namespace {

using rest::kResultClose;
using rest::kResultOpen;

TMethodAnswer Wrap(std::shared_ptr<std::string> ABody) {
  TMethodAnswer answer;
  const std::string_view body = *ABody;
  answer.Elements.push_back(
      body.substr(kResultOpen.size(), body.size() - kResultOpen.size() - kResultClose.size()));
  answer.Body = std::move(ABody);
  return answer;
}

}  // namespace

TMethodAnswer MakeAnswer(const rest::TJSONValue& AValue) {
  auto body = std::make_shared<std::string>(kResultOpen);
  rest::WriteJSON(AValue, *body);
  body->append(kResultClose);
  return Wrap(std::move(body));
}

TMethodAnswer MakeAnswerFromText(std::string_view AText) {
  auto body = std::make_shared<std::string>();
  body->reserve(kResultOpen.size() + AText.size() + kResultClose.size());
  body->append(kResultOpen).append(AText).append(kResultClose);
  return Wrap(std::move(body));
}

}  // namespace qvr::server
