// Requests to the cache area and the JSON consumers of their answers; see
// RestCacheCommand.h.
#include "rest/RestCacheCommand.h"

#include "platform/Charset.h"
#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"
#include "rest/wire/Envelope.h"

namespace qvr::rest {

namespace {

// The "result" member's value taken out of ADocument, or null.
std::unique_ptr<TJSONValue> TakeResult(std::unique_ptr<TJSONValue> ADocument) {
  TJSONObject* object = ADocument ? ADocument->AsObject() : nullptr;
  TJSONPair* result = object ? object->Get(kResultMember) : nullptr;
  return result ? result->TakeJsonValue() : nullptr;
}

// The value of the "result" member of a cache answer's body, taken out of the
// document so that it outlives it; null when there is no body, no JSON, or
// no object with a "result". The body is decoded with its charset
// (ISO-8859-1 when the answer names none) and parsed as command answers are.
std::unique_ptr<TJSONValue> ResultOf(std::unique_ptr<TStream>& AStream, const std::string& ACharSet,
                                     bool& AFreeStream) {
  AFreeStream = true;
  if (!AStream) return nullptr;
  const std::string charset = ACharSet.empty() ? std::string("ISO-8859-1") : ACharSet;
  std::string text;
  // The answer is collected in memory: decode its bytes where they are, or
  // parse them there when decoding would change nothing.
  if (const auto* memory = dynamic_cast<const TMemoryStream*>(AStream.get())) {
    if (DecodesUnchanged(memory->Bytes(), charset)) return TakeResult(ParseJSON(memory->Bytes()));
    text = DecodeCharset(memory->Bytes(), charset);
  } else {
    AStream->SetPosition(0);
    text = DecodeCharset(ReadToEnd(*AStream), charset);
  }
  return TakeResult(ParseJSON(text));
}

}  // namespace

std::string TRestCacheCommand::CommandPath() const {
  const auto slash = FParameterPath.rfind('/');
  if (slash == std::string::npos || slash == 0) return {};
  return FParameterPath.substr(0, slash);
}

void TRestCacheCommand::CacheRequest(const std::string& AVerb, const std::string& APath,
                                     const TRestResponseStreamProc* AResponseStreamProc,
                                     const std::string& ARequestFilter) {
  std::string url = FConnection->CacheBaseURL() + APath;
  if (!ARequestFilter.empty()) {
    if (url.back() != '/') url += '/';
    if (ARequestFilter.front() != '?') url += '?';
    url += ARequestFilter;
  }
  const std::unique_ptr<TRestRequestResponse> response = FConnection->SessionExchange(
      AVerb, url, "application/JSON", {}, TSessionRule::KeepOnProtocolError);
  if (AResponseStreamProc == nullptr) return;
  std::unique_ptr<TStream> body = response->TakeStream();
  bool freeStream = false;
  (*AResponseStreamProc)(body, response->ResponseCharSet(), freeStream);
  // What the consumer left goes here, with the response.
}

void TRestCacheCommand::GetParameter(const TRestResponseStreamProc& AResponseStreamProc,
                                     const std::string& ARequestFilter) {
  if (FParameterPath.empty()) throw TRestException("Missing parameter path");
  CacheRequest("GET", FParameterPath, &AResponseStreamProc, ARequestFilter);
}

std::unique_ptr<TJSONValue> TRestCacheCommand::GetParameter(const std::string& ARequestFilter) {
  std::unique_ptr<TJSONValue> value;
  GetParameter([&](std::unique_ptr<TStream>& AStream, const std::string& ACharSet,
                   bool& AFreeStream) { value = ResultOf(AStream, ACharSet, AFreeStream); },
               ARequestFilter);
  return value;
}

void TRestCacheCommand::GetCommand(const TRestResponseStreamProc& AResponseStreamProc) {
  const std::string path = CommandPath();
  if (path.empty()) throw TRestException("Missing command path");
  CacheRequest("GET", path, &AResponseStreamProc, {});
}

std::unique_ptr<TJSONObject> TRestCacheCommand::GetCommand(bool /*AOwnsObject*/) {
  std::unique_ptr<TJSONObject> command;
  GetCommand(
      [&](std::unique_ptr<TStream>& AStream, const std::string& ACharSet, bool& AFreeStream) {
        std::unique_ptr<TJSONValue> value = ResultOf(AStream, ACharSet, AFreeStream);
        // Only an object is a cached command; any other value goes at once.
        if (value && value->AsObject()) command.reset(static_cast<TJSONObject*>(value.release()));
      });
  return command;
}

void TRestCacheCommand::DeleteCommand() {
  const std::string path = CommandPath();
  if (path.empty()) throw TRestException("Missing command path");
  CacheRequest("DELETE", path, nullptr, {});
}

}  // namespace qvr::rest
