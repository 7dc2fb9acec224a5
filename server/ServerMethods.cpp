// The remote methods and the decoding of their in-parameters; see
// ServerMethods.h.
#include "server/ServerMethods.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"
#include "rest/wire/Envelope.h"
#include "server/ServerErrors.h"

namespace qvr::server {

using rest::TJSONValue;

namespace {

using rest::TRemoteMethod;
using rest::TWireParameter;

// How the server reads an in-parameter of the interface.
enum class TParamKind { Text, Integer, JSONObject, DataSetList };

// The kind of a parameter row; a row of a type the server cannot read
// (which a test keeps out of the interface) raises.
TParamKind KindOf(const TWireParameter& AParameter) {
  switch (AParameter.ValueType) {
    case rest::TValueTypes::WideString:
      return TParamKind::Text;
    case rest::TValueTypes::INT32:
      return TParamKind::Integer;
    case rest::TValueTypes::JSON:
      if (AParameter.TypeName == "TJSONObject") return TParamKind::JSONObject;
      if (AParameter.TypeName == "TDataSetList") return TParamKind::DataSetList;
      break;
    default:
      break;
  }
  throw EHttpError(
      500, "The server cannot read a parameter of type " + std::string(AParameter.TypeName));
}

// The most JSON values a request body may hold.
constexpr std::size_t kMaxBodyValues = 100000;

// One in-parameter after decoding.
struct TArgument {
  std::string Text;
  std::int32_t Integer = 0;
  std::unique_ptr<TJSONValue> Json;
};

std::string Plural(std::size_t ACount) {
  return std::to_string(ACount) + (ACount == 1 ? " parameter" : " parameters");
}

TArgument FromSegment(const TRemoteMethod& AMethod, const TWireParameter& AParam,
                      const std::string& ASegment) {
  TArgument argument;
  const std::string where = std::string(AMethod.MethodName) + ": " + std::string(AParam.Name);
  switch (KindOf(AParam)) {
    case TParamKind::Text:
      argument.Text = SanitizeUtf8(ASegment);
      break;
    case TParamKind::Integer:
      if (!TryDecimalToInt(ASegment, argument.Integer))
        throw BadRequest(where + " must be an integer");
      break;
    case TParamKind::JSONObject:
    case TParamKind::DataSetList:
      throw BadRequest(where + " travels in the request body, not in the URL");
  }
  return argument;
}

TArgument FromJSON(const TRemoteMethod& AMethod, const TWireParameter& AParam,
                   std::unique_ptr<TJSONValue> AValue) {
  TArgument argument;
  const std::string where = std::string(AMethod.MethodName) + ": " + std::string(AParam.Name);
  const auto kind = AValue->Kind();
  switch (KindOf(AParam)) {
    case TParamKind::Text:
      if (kind != TJSONValue::TKind::String && kind != TJSONValue::TKind::Number) {
        throw BadRequest(where + " must be a string");
      }
      argument.Text = AValue->AsString()->Value();
      break;
    case TParamKind::Integer:
      if ((kind != TJSONValue::TKind::String && kind != TJSONValue::TKind::Number) ||
          !TryDecimalToInt(AValue->AsString()->Value(), argument.Integer)) {
        throw BadRequest(where + " must be an integer");
      }
      break;
    case TParamKind::JSONObject:
      if (kind != TJSONValue::TKind::Object) throw BadRequest(where + " must be a JSON object");
      argument.Json = std::move(AValue);
      break;
    case TParamKind::DataSetList:
      if (kind != TJSONValue::TKind::Object && kind != TJSONValue::TKind::Null) {
        throw BadRequest(where + " must be a dataset list or null");
      }
      argument.Json = std::move(AValue);
      break;
  }
  return argument;
}

std::vector<TArgument> DecodeArguments(const TRemoteMethod& AMethod,
                                       const TCallArguments& AArguments) {
  const auto params = AMethod.InParameters();
  const std::string name(AMethod.MethodName);
  const std::size_t inUrl = AArguments.Segments.size();
  if (inUrl > params.size()) {
    throw BadRequest(name + " takes " + Plural(params.size()) + ", the URL has " +
                     std::to_string(inUrl));
  }
  const std::size_t inBody = params.size() - inUrl;
  const std::string_view body = Trim(AArguments.Body);
  std::vector<std::unique_ptr<TJSONValue>> bodyValues;
  if (inBody == 0) {
    if (!body.empty()) {
      throw BadRequest(name + " takes no parameter in the request body");
    }
  } else {
    if (body.empty()) {
      throw BadRequest(name + ": the parameter " + std::string(params[inUrl].Name) + " is missing");
    }
    // The methods' parameters are an employee's members or a dataset list,
    // a few values each; a body of many more is not theirs, and parsing it
    // would cost many times its size.
    auto document = rest::ParseJSON(body, kMaxBodyValues);
    if (!document) {
      throw BadRequest("The request body is not valid JSON, or holds more than " +
                       std::to_string(kMaxBodyValues) + " values");
    }
    if (inBody == 1) {
      bodyValues.push_back(std::move(document));
    } else {
      auto* object = document->AsObject();
      auto* list = object != nullptr ? object->GetValue(rest::kParametersMember) : nullptr;
      auto* array = list != nullptr ? list->AsArray() : nullptr;
      if (array == nullptr || array->Count() != inBody) {
        throw BadRequest(name + ": the request body must be " + "{\"_parameters\":[...]} with " +
                         Plural(inBody));
      }
      while (array->Count() > 0) bodyValues.push_back(array->Remove(0));
    }
  }
  std::vector<TArgument> arguments;
  for (std::size_t i = 0; i < params.size(); ++i) {
    arguments.push_back(i < inUrl ? FromSegment(AMethod, params[i], AArguments.Segments[i])
                                  : FromJSON(AMethod, params[i], std::move(bodyValues[i - inUrl])));
  }
  return arguments;
}

std::string ParametersJSON(const TRemoteMethod& AMethod, const std::vector<TArgument>& AArguments) {
  const auto params = AMethod.InParameters();
  rest::TJSONArray array;
  for (std::size_t i = 0; i < AArguments.size(); ++i) {
    const auto& argument = AArguments[i];
    switch (KindOf(params[i])) {
      case TParamKind::Text:
        array.Add(std::make_unique<rest::TJSONString>(argument.Text));
        break;
      case TParamKind::Integer:
        array.Add(std::make_unique<rest::TJSONNumber>(argument.Integer));
        break;
      default:
        array.AddBorrowed(*argument.Json);
        break;
    }
  }
  return rest::WriteJSON(array);
}

// The characters of AText in reverse order (whole characters, so that the
// result is valid UTF-8 again).
std::string Reversed(const std::string& AText) {
  std::vector<char32_t> characters;
  for (std::size_t pos = 0; pos < AText.size();) characters.push_back(DecodeUtf8(AText, pos));
  std::string out;
  out.reserve(AText.size());
  for (auto it = characters.rbegin(); it != characters.rend(); ++it) AppendUtf8(out, *it);
  return out;
}

TMethodAnswer BooleanAnswer(bool AValue) { return MakeAnswerFromText(AValue ? "true" : "false"); }

// zlib's deflate cannot compress better than about 1032 to 1, so the blobs
// of a body of ABytes (base64 text, 4 characters for 3 bytes) inflate to at
// most this.
std::size_t MostInflated(std::size_t ABytes) { return ABytes / 4 * 3 * 1032 + (1 << 20); }

// The handlers, one per method of the interface.
enum class THandler {
  EchoString,
  ReverseString,
  Opciones,
  ListaRelojes,
  ListaEmpresas,
  ListaPersonalParcial,
  ListaPersonalCompleta,
  ExisteEmpleado,
  InfoEmpleado,
  ActualizarEmpleado,
  SubirAsistencia,
  GetPlatformName,
  GetServerMethodParameters,
  ClearSession,
};

struct THandlerRow {
  const TRemoteMethod* Method;
  THandler Handler;
  // Answered from memory at once (no database, nothing large): the front
  // may run it on its I/O thread.
  bool Quick = false;
};

constexpr THandlerRow kHandlers[] = {
    {&rest::remote::EchoString, THandler::EchoString, true},
    {&rest::remote::ReverseString, THandler::ReverseString, true},
    {&rest::remote::Opciones, THandler::Opciones},
    {&rest::remote::ListaRelojes, THandler::ListaRelojes},
    {&rest::remote::ListaEmpresas, THandler::ListaEmpresas},
    {&rest::remote::ListaPersonalParcial, THandler::ListaPersonalParcial},
    {&rest::remote::ListaPersonalCompleta, THandler::ListaPersonalCompleta},
    {&rest::remote::ExisteEmpleado, THandler::ExisteEmpleado},
    {&rest::remote::InfoEmpleado, THandler::InfoEmpleado},
    {&rest::remote::ActualizarEmpleado, THandler::ActualizarEmpleado},
    {&rest::remote::SubirAsistencia, THandler::SubirAsistencia},
    {&rest::remote::GetPlatformName, THandler::GetPlatformName, true},
    {&rest::remote::GetServerMethodParameters, THandler::GetServerMethodParameters},
    {&rest::remote::ClearSession, THandler::ClearSession},
};

const THandlerRow* HandlerOf(const TRemoteMethod& AMethod) {
  for (const THandlerRow& row : kHandlers) {
    if (row.Method == &AMethod) return &row;
  }
  return nullptr;
}

std::unique_ptr<rest::TJSONObject> ParameterJSON(const TWireParameter& AParameter) {
  namespace catalogue = rest::remote::catalogue;
  auto parameter = std::make_unique<rest::TJSONObject>();
  parameter->AddPair(std::string(catalogue::kName), std::string(AParameter.Name));
  parameter->AddPair(std::string(catalogue::kDirection),
                     std::make_unique<rest::TJSONNumber>(AParameter.Direction));
  parameter->AddPair(std::string(catalogue::kType),
                     std::make_unique<rest::TJSONNumber>(AParameter.ValueType));
  parameter->AddPair(std::string(catalogue::kTypeName), std::string(AParameter.TypeName));
  return parameter;
}

std::string BuildMethodCatalogue() {
  namespace catalogue = rest::remote::catalogue;
  rest::TJSONArray classes;
  // The methods of a class stand together, in the description's order, and
  // the classes in the order of their first method.
  std::vector<std::string_view> done;
  for (const TRemoteMethod* first : rest::RemoteMethods()) {
    if (std::find(done.begin(), done.end(), first->ClassName) != done.end()) continue;
    done.push_back(first->ClassName);
    auto methods = std::make_unique<rest::TJSONArray>();
    for (const TRemoteMethod* method : rest::RemoteMethods()) {
      if (method->ClassName != first->ClassName || !TQVRServerMethods::Answers(*method)) continue;
      auto parameters = std::make_unique<rest::TJSONArray>();
      for (const TWireParameter& parameter : method->Parameters) {
        parameters->Add(ParameterJSON(parameter));
      }
      auto entry = std::make_unique<rest::TJSONObject>();
      entry->AddPair(std::string(catalogue::kName), std::string(method->MethodName));
      entry->AddPair(std::string(catalogue::kParameters), std::move(parameters));
      methods->Add(std::move(entry));
    }
    auto entry = std::make_unique<rest::TJSONObject>();
    entry->AddPair(std::string(catalogue::kName), std::string(first->ClassName));
    entry->AddPair(std::string(catalogue::kMethods), std::move(methods));
    classes.Add(std::move(entry));
  }
  return rest::WriteJSON(classes);
}

}  // namespace

const std::string& MethodCatalogueJSON() {
  // The description is constant: the text is made once.
  static const std::string text = BuildMethodCatalogue();
  return text;
}

TQVRServerMethods::TQVRServerMethods(TAttendanceStore& AStore, TListAnswerCache& ALists,
                                     std::size_t AMaxInflatedUpload, TMemoryBudget& AMemory)
    : FStore(AStore), FLists(ALists), FMaxInflatedUpload(AMaxInflatedUpload), FMemory(AMemory) {}

TMemoryBudget::TReservation TQVRServerMethods::ReserveInflation(std::size_t ABodyBytes) {
  const std::size_t bytes = std::min(FMaxInflatedUpload, MostInflated(ABodyBytes));
  TMemoryBudget::TReservation reservation = FMemory.Open();
  // A worker thread may wait a little for other uploads to finish.
  for (int attempt = 0; !reservation.Grow(bytes); ++attempt) {
    if (attempt == 100) throw EHttpError(503, "The server is busy; try again shortly");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return reservation;
}

const TRemoteMethod* TQVRServerMethods::Find(std::string_view AClass,
                                             std::string_view AMethod) const {
  const TRemoteMethod* method = rest::FindRemoteMethod(AClass, AMethod);
  return method != nullptr && Answers(*method) ? method : nullptr;
}

bool TQVRServerMethods::Answers(const TRemoteMethod& AMethod) {
  return HandlerOf(AMethod) != nullptr;
}

bool TQVRServerMethods::Quick(const TRemoteMethod& AMethod) {
  const THandlerRow* row = HandlerOf(AMethod);
  return row != nullptr && row->Quick;
}

TMethodAnswer TQVRServerMethods::Invoke(const TRemoteMethod& AMethod,
                                        const TCallArguments& AArguments, TCaller& ACaller,
                                        std::string* AParametersJSON) {
  const THandlerRow* row = HandlerOf(AMethod);
  if (row == nullptr) throw EHttpError(501, "Method without an implementation");
  auto arguments = DecodeArguments(AMethod, AArguments);
  if (AParametersJSON != nullptr) *AParametersJSON = ParametersJSON(AMethod, arguments);
  switch (row->Handler) {
    case THandler::EchoString:
      return MakeAnswer(rest::TJSONString(arguments[0].Text));
    case THandler::ReverseString:
      return MakeAnswer(rest::TJSONString(Reversed(arguments[0].Text)));
    case THandler::Opciones:
      // The marshalled form of the client's options record.
      return MakeAnswerFromText(rest::OpcionesForm(FStore.IDStatusDefault()));
    case THandler::ListaRelojes:
      return FLists.Get(TListKind::Relojes);
    case THandler::ListaEmpresas:
      return FLists.Get(TListKind::Empresas);
    case THandler::ListaPersonalParcial:
      return FLists.Get(TListKind::PersonalParcial);
    case THandler::ListaPersonalCompleta:
      return FLists.Get(TListKind::PersonalCompleta);
    case THandler::ExisteEmpleado:
      return BooleanAnswer(FStore.EmployeeExists(arguments[0].Integer));
    case THandler::InfoEmpleado:
      return MakeAnswer(*FStore.EmployeeInfo(arguments[0].Integer));
    case THandler::ActualizarEmpleado:
      return BooleanAnswer(FStore.UpdateEmployee(*arguments[0].Json->AsObject()));
    case THandler::SubirAsistencia: {
      const TJSONValue& document = *arguments[1].Json;
      // An absent list (the client sends null) brings nothing to store.
      if (document.IsNull()) return BooleanAnswer(false);
      // The decoder holds the bound while it inflates, whatever the blobs
      // look like, so no blob grows past it in memory; and what it may
      // inflate to counts against the server's memory in flight.
      TMemoryBudget::TReservation inflating = ReserveInflation(AArguments.Body.size());
      auto unmarshal = rest::TJSONConverters::GetJSONUnMarshaler();
      unmarshal->SetMaxInflatedBytes(inflating.Bytes());
      std::unique_ptr<TObject> object;
      try {
        object = unmarshal->Unmarshal(document);
      } catch (const rest::EZInflationBudgetError&) {
        // The reservation never falls short of what the blobs can inflate to
        // (see ReserveInflation): only the limit itself is exceeded here.
        throw EHttpError(413, "The uploaded datasets exceed " + std::to_string(FMaxInflatedUpload) +
                                  " bytes once inflated");
      } catch (const Exception& AError) {
        throw BadRequest("SubirAsistencia: ALista cannot be read: " + AError.Message());
      }
      const auto* list = dynamic_cast<const rest::TDataSetList*>(object.get());
      if (list == nullptr) throw BadRequest("SubirAsistencia: ALista is not a dataset list");
      FStore.AppendAttendance(arguments[0].Text, *list, ACaller.UserName);
      return BooleanAnswer(true);
    }
    case THandler::GetPlatformName:
      return MakeAnswer(rest::TJSONString("Linux"));
    case THandler::GetServerMethodParameters:
      return MakeAnswerFromText(MethodCatalogueJSON());
    case THandler::ClearSession: {
      ACaller.EndSession = true;
      // No result: {"result":[]}, with no element for the cache area.
      TMethodAnswer answer;
      answer.Body = std::make_shared<std::string>(rest::ResultEnvelope({}));
      return answer;
    }
  }
  throw EHttpError(500, "Method without an implementation");
}

}  // namespace qvr::server
