// One REST exchange; see RestRequest.h.
#include "rest/RestRequest.h"

#include <algorithm>

#include "platform/Charset.h"
#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/json/JSONText.h"
#include "rest/wire/Envelope.h"

namespace qvr::rest {

namespace {

// The first "error" and the first "SessionExpired" member of a JSON text
// whose root is an object, with their values as text: a string its
// characters, a number its text, true and false their names; null, an object
// or an array give an empty text. Any other text finds nothing.
struct TErrorMembers {
  bool HasError = false;
  bool HasSessionExpired = false;
  std::string ErrorText;
  std::string SessionExpiredText;
};

std::string MemberText(const TJSONValue& AValue) {
  switch (AValue.Kind()) {
    case TJSONValue::TKind::String:
    case TJSONValue::TKind::Number:
      return AValue.AsString()->Value();
    case TJSONValue::TKind::True:
      return "true";
    case TJSONValue::TKind::False:
      return "false";
    default:
      return {};
  }
}

TErrorMembers ReadErrorMembers(std::string_view AText) {
  TErrorMembers members;
  // The parser bounds the nesting depth and gives nothing for text that is
  // not exactly one JSON value.
  const std::unique_ptr<TJSONValue> json = ParseJSON(AText);
  const TJSONObject* object = json ? json->AsObject() : nullptr;
  if (object == nullptr) return members;
  if (const TJSONValue* error = object->GetValue(kErrorMember)) {
    members.HasError = true;
    members.ErrorText = MemberText(*error);
  }
  if (const TJSONValue* expired = object->GetValue(kSessionExpiredMember)) {
    members.HasSessionExpired = true;
    members.SessionExpiredText = MemberText(*expired);
  }
  return members;
}

// The whole body, whatever the stream's position, which is kept.
std::string WholeBody(TStream& AStream) {
  const std::int64_t position = AStream.Position();
  AStream.SetPosition(0);
  std::string bytes = ReadToEnd(AStream);
  AStream.SetPosition(position);
  return bytes;
}

std::string DecodeBody(TStream& AStream, const std::string& ACharSet) {
  const std::string_view charset = ACharSet.empty() ? "ISO-8859-1" : std::string_view(ACharSet);
  // A body in memory is decoded where it lies.
  if (const auto* memory = dynamic_cast<const TMemoryStream*>(&AStream)) {
    return DecodeCharset(memory->Bytes(), charset);
  }
  return DecodeCharset(WholeBody(AStream), charset);
}

enum class TVerb { Get, Put, Post, Delete };

}  // namespace

TRestRequestResponse::TRestRequestResponse(std::unique_ptr<TStream> AStream,
                                           std::string AResponseCharSet, std::string ASessionID,
                                           bool ASessionExpired)
    : FStreamValue(AStream ? std::move(AStream) : std::make_unique<TMemoryStream>()),
      FSessionID(std::move(ASessionID)),
      FSessionExpired(ASessionExpired),
      FResponseCharSet(std::move(AResponseCharSet)) {
  FStreamValue->SetPosition(0);
}

const std::string& TRestRequestResponse::StringValue() {
  if (!FHaveString) {
    if (!FStreamValue) throw TRestException("The response body was handed over");
    auto* memory = dynamic_cast<TMemoryStream*>(FStreamValue.get());
    if (memory != nullptr && !FStreamLent && DecodesUnchanged(memory->Bytes(), FResponseCharSet)) {
      // The text is the body's bytes as they are (an answer of megabytes,
      // usually): they move into it, and the stream is made again from them
      // only when it is asked for.
      FStreamPosition = memory->Position();
      FStringValue = memory->TakeBytes();
      FStreamValue.reset();
      FStreamInText = true;
    } else {
      FStringValue = DecodeBody(*FStreamValue, FResponseCharSet);
    }
    FHaveString = true;
  }
  return FStringValue;
}

void TRestRequestResponse::RestoreStream() {
  if (!FStreamInText) return;
  FStreamValue = std::make_unique<TMemoryStream>(FStringValue);
  FStreamValue->SetPosition(FStreamPosition);
  FStreamInText = false;
}

TStream& TRestRequestResponse::GetStream() {
  RestoreStream();
  if (!FStreamValue) throw TRestException("The response body was handed over");
  // The caller may keep this reference: the bytes stay in the stream from now on.
  FStreamLent = true;
  return *FStreamValue;
}

std::unique_ptr<TStream> TRestRequestResponse::TakeStream() {
  RestoreStream();
  return std::move(FStreamValue);
}

void TRestRequest::open(const std::string& ARequestType, const std::string& AUrl,
                        const std::string& AUserName, const std::string& APassword) {
  FHeaders.clear();
  FRequestType = UpperCase(ARequestType);
  FUrl = AUrl;
  FUserName = AUserName;
  FPassword = APassword;
}

void TRestRequest::setRequestHeader(const std::string& AName, const std::string& AValue) {
  auto it = std::find_if(FHeaders.begin(), FHeaders.end(),
                         [&](const auto& AEntry) { return SameText(AEntry.first, AName); });
  if (it != FHeaders.end()) {
    it->second = AValue;
  } else {
    FHeaders.emplace_back(AName, AValue);
  }
}

std::unique_ptr<TRestRequestResponse> TRestRequest::send(const std::string& AParamToSend) {
  if (!FResponseStream) FResponseStream = std::make_unique<TMemoryStream>();

  TVerb verb;
  if (FRequestType.empty() || FRequestType == "GET") {
    verb = TVerb::Get;
  } else if (FRequestType == "PUT") {
    verb = TVerb::Put;
  } else if (FRequestType == "POST") {
    verb = TVerb::Post;
  } else if (FRequestType == "DELETE") {
    verb = TVerb::Delete;
  } else {
    throw TRestException(Format("Unexpected request type: %s.", FRequestType));
  }

  std::unique_ptr<TMemoryStream> body;
  if (verb == TVerb::Put || verb == TVerb::Post)
    body = std::make_unique<TMemoryStream>(IsValidUtf8(AParamToSend) ? AParamToSend
                                                                     : SanitizeUtf8(AParamToSend));

  THTTPRequestHeaders& headers = FHTTP->RequestHeaders();
  headers.SetAccept(FAccept);
  if (!FUserName.empty()) headers.SetBasicAuthentication(FUserName, FPassword);
  FResponseStream->SetSize(0);
  FResponseStream->SetPosition(0);
  for (const auto& [name, value] : FHeaders) headers.SetHeader(name, value);
  // Always written, so that an empty value removes the Pragma of an earlier exchange.
  headers.SetHeader("Pragma", FRequestPragma);

  std::string message;
  std::string responseText;
  FResponseCharSet.clear();
  FResponseSessionID.clear();
  FResponseSessionExpired = false;
  try {
    switch (verb) {
      case TVerb::Get:
        FHTTP->Get(FUrl, *FResponseStream);
        break;
      case TVerb::Put:
        FHTTP->Put(FUrl, *body, *FResponseStream);
        break;
      case TVerb::Post:
        FHTTP->Post(FUrl, *body, *FResponseStream);
        break;
      case TVerb::Delete:
        FHTTP->Delete(FUrl, *FResponseStream);
        break;
    }
    const THTTPResponse& response = FHTTP->Response();
    FStatus = response.StatusCode();
    FResponseCharSet = response.ContentCharSet();
    // A session id is the original server's credential: an answer from
    // another origin, reached by a redirect, cannot set one.
    if (response.SameOriginAs(FUrl))
      FResponseSessionID = SessionIDFromPragma(response.HeaderValue("Pragma"));
  } catch (const EHTTPProtocolException& E) {
    FStatus = E.ErrorCode();
    responseText = E.ErrorMessage();
    message = E.Message();
  }

  if (FStatus == 403) {
    // The charset of a failed answer is not taken, so this decoding is
    // ISO-8859-1 and cannot fail; member names are ASCII either way.
    FResponseSessionExpired =
        ReadErrorMembers(DecodeBody(*FResponseStream, FResponseCharSet)).HasSessionExpired;
  }

  if (FStatus >= 200 && FStatus <= 202) {
    return std::make_unique<TRestRequestResponse>(std::move(FResponseStream), FResponseCharSet,
                                                  FResponseSessionID, FResponseSessionExpired);
  }
  if (FStatus >= 203 && FStatus <= 299) {
    message.clear();
    responseText.clear();
  } else {
    const TErrorMembers members = ReadErrorMembers(responseText);
    const std::string& text = members.HasError ? members.ErrorText : members.SessionExpiredText;
    if (!text.empty()) message += ":\r\n" + text;
  }
  throw TRestProtocolException(FStatus, message, responseText);
}

}  // namespace qvr::rest
