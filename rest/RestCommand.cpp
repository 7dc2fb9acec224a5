// The REST command: preparation, the request an execution sends, and the
// storing of the server's answer; see RestCommand.h.
#include "rest/RestCommand.h"

#include <algorithm>

#include "platform/SysUtils.h"
#include "rest/ProxyRest.h"
#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"
#include "rest/wire/Envelope.h"
#include "rest/wire/RestPaths.h"

namespace qvr::rest {

namespace {

[[noreturn]] void NoJSONForm(const TParameter& AParameter) {
  throw TValueError(Format("Cannot convert value type %s into a JSON value",
                           TValueTypes::QualifiedName(AParameter.DataType())));
}

bool HasValueForm(TParameterValue::TKind AKind) {
  return AKind != TParameterValue::TKind::Stream && AKind != TParameterValue::TKind::None;
}

// The text of an in-parameter as a path segment, before encoding.
std::string SegmentText(TParameter& AParameter) {
  TParameterValue& value = AParameter.Value();
  if (!HasValueForm(value.Kind())) NoJSONForm(AParameter);
  if (value.IsNull()) return "null";
  switch (value.Kind()) {
    case TParameterValue::TKind::Text:
      return value.GetWideString();
    case TParameterValue::TKind::Int32:
      return std::to_string(value.GetInt32());
    case TParameterValue::TKind::Boolean:
      return value.GetBoolean() ? "True" : "False";
    default:
      break;
  }
  const TJSONValue& json = *value.JSONValue();
  switch (json.Kind()) {
    case TJSONValue::TKind::String:
    case TJSONValue::TKind::Number:
      return json.AsString()->Value();
    case TJSONValue::TKind::True:
      return "true";
    case TJSONValue::TKind::False:
      return "false";
    case TJSONValue::TKind::Null:
      return "null";
    default:
      return WriteJSON(json);
  }
}

// Appends the JSON of a body parameter: the held JSON value itself (written
// in place, not copied), or the text, number or Boolean of the slot.
void AppendParameterJSON(TParameter& AParameter, std::string& ABody) {
  TParameterValue& value = AParameter.Value();
  if (!HasValueForm(value.Kind())) NoJSONForm(AParameter);
  if (value.IsNull()) {
    ABody += "null";
    return;
  }
  switch (value.Kind()) {
    case TParameterValue::TKind::Text:
      WriteJSONString(value.GetWideString(), ABody);
      return;
    case TParameterValue::TKind::Int32:
      ABody += std::to_string(value.GetInt32());
      return;
    case TParameterValue::TKind::Boolean:
      ABody += value.GetBoolean() ? "true" : "false";
      return;
    default:
      WriteJSON(*value.JSONValue(), ABody);
      return;
  }
}

}  // namespace

TRestCommand::TRestCommand(TCustomRestConnection& AConnection) : FConnection(&AConnection) {}

TRestCommand::~TRestCommand() {
  // The parameters (and the values their slots own) first, then the context
  // they shared, then the objects registered for release.
  FParameters.reset();
  FParamContext.reset();
  FFreeOnExecuteList.clear();
}

void TRestCommand::Prepare(std::span<const TRestParameterMetaData> AMetaData) {
  // Emptied before the old list goes, so that nothing reaches a parameter
  // that is being released.
  std::unique_ptr<TParameterList> old = std::move(FParameters);
  old.reset();
  if (!FParamContext) FParamContext = std::make_unique<TParamContext>();
  auto list = std::make_unique<TParameterList>();
  bool bodyIn = false;
  std::int32_t ordinal = 0;
  for (const TRestParameterMetaData& row : AMetaData) {
    auto parameter = std::make_unique<TParameter>(*this, row, ordinal++);
    if (TParameterDirections::IsIn(row.Direction) && parameter->IsBodyOnly()) bodyIn = true;
    list->Add(std::move(parameter));
  }
  FParameters = std::move(list);
  if (FRequestType.empty()) FRequestType = bodyIn ? "POST" : "GET";
}

const TRestProxyMethod* TRestProxyMetaData::FindMethod(std::string_view AClass,
                                                       std::string_view AMethod) const {
  for (const TRestProxyClass& proxyClass : Classes) {
    if (!SameText(proxyClass.Name, AClass)) continue;
    for (const TRestProxyMethod& method : proxyClass.Methods) {
      if (SameText(method.Name, AMethod)) return &method;
    }
  }
  return nullptr;
}

namespace {

// The class and method names that Text gives for a look-up in a catalogue.
struct TCatalogueName {
  std::string Class;
  std::string Method;
};

TCatalogueName CatalogueName(const std::string& AText, const std::string& ARequestType) {
  std::string text = AText;
  const bool quoted = text.find('"') != std::string::npos;
  std::erase(text, '"');
  const auto dot = text.find('.');
  if (dot == std::string::npos) {
    throw TRestException(Format("Invalid server method name: %s", AText));
  }
  TCatalogueName name{text.substr(0, dot), text.substr(dot + 1)};
  // A quoted name is taken as it stands; an unquoted one names, for these
  // verbs, the method of the verb's prefix.
  if (!quoted) {
    if (ARequestType == "PUT") {
      name.Method.insert(0, "Accept");
    } else if (ARequestType == "POST") {
      name.Method.insert(0, "Update");
    } else if (ARequestType == "DELETE") {
      name.Method.insert(0, "Cancel");
    }
  }
  return name;
}

// Sets the connection's session id back to what it was when the scope
// began, however the scope ends.
class TSessionIDKept {
 public:
  explicit TSessionIDKept(TCustomRestConnection& AConnection)
      : FConnection(AConnection), FSessionID(AConnection.SessionID()) {}
  ~TSessionIDKept() { FConnection.SetSessionID(FSessionID); }
  TSessionIDKept(const TSessionIDKept&) = delete;
  TSessionIDKept& operator=(const TSessionIDKept&) = delete;

 private:
  TCustomRestConnection& FConnection;
  const std::string FSessionID;
};

}  // namespace

const TRestProxyMethod* TRestCommand::CatalogueMethod(
    const TRestProxyMetaData& AProxyMetaData) const {
  const TCatalogueName name = CatalogueName(FText, FRequestType);
  return AProxyMetaData.FindMethod(name.Class, name.Method);
}

void TRestCommand::Prepare(const TRestProxyMetaData& AProxyMetaData) {
  const TRestProxyMethod* method = CatalogueMethod(AProxyMetaData);
  if (method != nullptr) {
    Prepare(method->Parameters);
  } else {
    Prepare(std::span<const TRestParameterMetaData>{});
  }
}

void TRestCommand::Prepare() {
  // A name that cannot be looked up is refused before the catalogue is
  // asked for.
  (void)CatalogueName(FText, FRequestType);
  TRestProxyMetaData catalogue;
  {
    const TSessionIDKept kept(*FConnection);
    TAdminRestClient admin(*FConnection);
    catalogue = admin.GetServerMethodParameters();
  }
  Prepare(catalogue);
}

TRestCommandRequest TRestCommand::BuildRequest(const std::string& ARequestFilter) const {
  TRestCommandRequest request;
  std::string& url = request.URL;
  url = FConnection->RestBaseURL();
  url += MethodPath(FText);
  url += '/';

  // In-parameters travel in the URL until the first one that must go in the
  // body (never, for GET and DELETE); it and every in-parameter after it go
  // in the body, in order.
  std::vector<TParameter*> body;
  const bool allInURL = SendsAllInURL(FRequestType);
  for (std::int32_t i = 0; FParameters && i < FParameters->Count(); ++i) {
    TParameter& parameter = FParameters->GetParameterByOrdinal(i);
    if (!TParameterDirections::IsIn(parameter.ParameterDirection())) continue;
    if (body.empty() && (allInURL || !parameter.IsBodyOnly())) {
      url += PercentEncode(SegmentText(parameter), false);
      url += '/';
    } else {
      body.push_back(&parameter);
    }
  }

  if (!ARequestFilter.empty()) {
    if (url.back() != '/') url += '/';
    if (ARequestFilter.front() != '?') url += '?';
    url += ARequestFilter;
  }

  if (body.size() == 1) {
    AppendParameterJSON(*body.front(), request.Body);
  } else if (body.size() > 1) {
    request.Body = kParametersOpen;
    for (std::size_t i = 0; i < body.size(); ++i) {
      if (i > 0) request.Body += ',';
      AppendParameterJSON(*body[i], request.Body);
    }
    request.Body += kParametersClose;
  }
  request.HasBody = !body.empty();
  return request;
}

void TRestCommand::Execute(const std::string& ARequestFilter) {
  FFreeOnExecuteList.clear();
  // Whatever ends this execution (a refused login included), what an
  // earlier one stored is not this one's result.
  FResultStored = false;
  FConnection->ExecuteInFrame([&]() { ExecuteCommand(ARequestFilter, {}); });
}

void TRestCommand::ExecuteCache(const std::string& ARequestFilter) {
  FResultStored = false;
  FConnection->ExecuteInFrame(
      [&]() { ExecuteCommand(ARequestFilter, std::string(kCacheModeAccept)); });
}

void TRestCommand::ExecuteCommand(const std::string& ARequestFilter, const std::string& AAccept) {
  const TRestCommandRequest request = BuildRequest(ARequestFilter);
  const std::unique_ptr<TRestRequestResponse> response = FConnection->SessionExchange(
      FRequestType, request.URL, AAccept.empty() ? std::string(kResultAccept) : AAccept,
      request.Body, TSessionRule::ClearOnProtocolError);
  // The body decoded once with its charset is the text parsed: it is not
  // turned back into single-byte text, which would corrupt every character
  // of a UTF-8 answer outside ISO-8859-1. Text that is not one JSON value
  // gives no JSON, which is no error.
  StoreResults(ParseJSON(response->StringValue()), *response);
}

void TRestCommand::StoreResults(std::unique_ptr<TJSONValue> AAnswer,
                                TRestRequestResponse& AResponse) {
  TJSONObject* object = AAnswer ? AAnswer->AsObject() : nullptr;
  TJSONValue* result = object ? object->GetValue(kResultMember) : nullptr;
  FResultStored = result != nullptr && result->AsArray() != nullptr;
  if (!FParameters) return;
  if (result == nullptr) {
    // No JSON object with a "result": a stream result parameter takes the
    // raw body; nothing else is stored.
    for (std::int32_t i = 0; i < FParameters->Count(); ++i) {
      TParameter& parameter = FParameters->GetParameterByOrdinal(i);
      if (TParameterDirections::IsOut(parameter.ParameterDirection()) &&
          parameter.DataType() == TValueTypes::STREAM) {
        parameter.Value().SetStream(AResponse.TakeStream());
        break;
      }
    }
    return;
  }
  TJSONArray* array = result->AsArray();
  if (array == nullptr) return;

  std::vector<TJSONValueRef> elements = array->TakeElements();
  const std::size_t count = elements.size();
  std::int32_t outCount = 0;
  for (std::int32_t i = 0; i < FParameters->Count(); ++i)
    if (TParameterDirections::IsOut(FParameters->GetParameterByOrdinal(i).ParameterDirection()))
      ++outCount;

  // Elements move into their slots; only the one element that several
  // parameters share is copied for all but the last of them.
  std::size_t next = 0;
  std::int32_t outSeen = 0;
  for (std::int32_t i = 0; i < FParameters->Count(); ++i) {
    TParameter& parameter = FParameters->GetParameterByOrdinal(i);
    if (!TParameterDirections::IsOut(parameter.ParameterDirection())) continue;
    ++outSeen;
    std::size_t index = 0;
    bool lastUse = true;
    if (count == 1) {
      lastUse = outSeen == outCount;
    } else {
      if (next >= count) throw EArgumentOutOfRangeException();
      index = next++;
    }
    TJSONValueRef& element = elements[index];
    std::unique_ptr<TJSONValue> value =
        lastUse && element.IsOwned() ? element.Release() : element.Get()->Clone();
    parameter.Value().StoreResult(std::move(value));
  }
}

std::unique_ptr<TJSONMarshal> TRestCommand::GetJSONMarshaler() {
  return TJSONConverters::GetJSONMarshaler();
}

std::unique_ptr<TJSONUnMarshal> TRestCommand::GetJSONUnMarshaler() {
  return TJSONConverters::GetJSONUnMarshaler();
}

TObject* TRestCommand::FreeOnExecute(std::unique_ptr<TObject> AValue) {
  TObject* raw = AValue.get();
  if (raw == nullptr) return nullptr;
  const bool known = std::any_of(FFreeOnExecuteList.begin(), FFreeOnExecuteList.end(),
                                 [&](const auto& AEntry) { return AEntry.get() == raw; });
  if (known) {
    // Its one entry already releases it.
    (void)AValue.release();
  } else {
    FFreeOnExecuteList.push_back(std::move(AValue));
  }
  return raw;
}

}  // namespace qvr::rest
