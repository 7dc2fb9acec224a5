// The remote methods and the decoding of their in-parameters; see
// ServerMethods.h.
#include "server/ServerMethods.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"
#include "server/ServerErrors.h"

namespace qvr::server {

using rest::TJSONValue;

enum class TMethodId {
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
};

struct TMethodInfo {
  const char* Class;
  const char* Name;
  TMethodId Id;
  std::vector<TParamInfo> Params;
};

namespace {

constexpr const char* kServerClass = "TQVRServerMethods";

const std::vector<TMethodInfo>& Methods() {
  static const std::vector<TMethodInfo> methods = {
      {kServerClass, "EchoString", TMethodId::EchoString, {{"Value", TParamKind::Text}}},
      {kServerClass, "ReverseString", TMethodId::ReverseString, {{"Value", TParamKind::Text}}},
      {kServerClass, "Opciones", TMethodId::Opciones, {}},
      {kServerClass, "ListaRelojes", TMethodId::ListaRelojes, {}},
      {kServerClass, "ListaEmpresas", TMethodId::ListaEmpresas, {}},
      {kServerClass, "ListaPersonalParcial", TMethodId::ListaPersonalParcial, {}},
      {kServerClass, "ListaPersonalCompleta", TMethodId::ListaPersonalCompleta, {}},
      {kServerClass,
       "ExisteEmpleado",
       TMethodId::ExisteEmpleado,
       {{"ACodigo", TParamKind::Integer}}},
      {kServerClass, "InfoEmpleado", TMethodId::InfoEmpleado, {{"ACodigo", TParamKind::Integer}}},
      {kServerClass,
       "ActualizarEmpleado",
       TMethodId::ActualizarEmpleado,
       {{"ADatos", TParamKind::JSONObject}}},
      {kServerClass,
       "SubirAsistencia",
       TMethodId::SubirAsistencia,
       {{"AArchivo", TParamKind::Text}, {"ALista", TParamKind::DataSetList}}},
      {"Admin", "GetPlatformName", TMethodId::GetPlatformName, {}},
  };
  return methods;
}

// One in-parameter after decoding.
struct TArgument {
  std::string Text;
  std::int32_t Integer = 0;
  std::unique_ptr<TJSONValue> Json;
};

std::string Plural(std::size_t ACount) {
  return std::to_string(ACount) + (ACount == 1 ? " parameter" : " parameters");
}

TArgument FromSegment(const TMethodInfo& AMethod, const TParamInfo& AParam,
                      const std::string& ASegment) {
  TArgument argument;
  const std::string where = std::string(AMethod.Name) + ": " + AParam.Name;
  switch (AParam.Kind) {
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

TArgument FromJSON(const TMethodInfo& AMethod, const TParamInfo& AParam,
                   std::unique_ptr<TJSONValue> AValue) {
  TArgument argument;
  const std::string where = std::string(AMethod.Name) + ": " + AParam.Name;
  const auto kind = AValue->Kind();
  switch (AParam.Kind) {
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

std::vector<TArgument> DecodeArguments(const TMethodInfo& AMethod,
                                       const TCallArguments& AArguments) {
  const auto& params = AMethod.Params;
  const std::size_t inUrl = AArguments.Segments.size();
  if (inUrl > params.size()) {
    throw BadRequest(std::string(AMethod.Name) + " takes " + Plural(params.size()) +
                     ", the URL has " + std::to_string(inUrl));
  }
  const std::size_t inBody = params.size() - inUrl;
  const std::string_view body = Trim(AArguments.Body);
  std::vector<std::unique_ptr<TJSONValue>> bodyValues;
  if (inBody == 0) {
    if (!body.empty()) {
      throw BadRequest(std::string(AMethod.Name) + " takes no parameter in the request body");
    }
  } else {
    if (body.empty()) {
      throw BadRequest(std::string(AMethod.Name) + ": the parameter " + params[inUrl].Name +
                       " is missing");
    }
    auto document = rest::ParseJSON(body);
    if (!document) throw BadRequest("The request body is not valid JSON");
    if (inBody == 1) {
      bodyValues.push_back(std::move(document));
    } else {
      auto* object = document->AsObject();
      auto* list = object != nullptr ? object->GetValue("_parameters") : nullptr;
      auto* array = list != nullptr ? list->AsArray() : nullptr;
      if (array == nullptr || array->Count() != inBody) {
        throw BadRequest(std::string(AMethod.Name) + ": the request body must be " +
                         "{\"_parameters\":[...]} with " + Plural(inBody));
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

std::string ParametersJSON(const TMethodInfo& AMethod, const std::vector<TArgument>& AArguments) {
  rest::TJSONArray array;
  for (std::size_t i = 0; i < AArguments.size(); ++i) {
    const auto& argument = AArguments[i];
    switch (AMethod.Params[i].Kind) {
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

}  // namespace

TQVRServerMethods::TQVRServerMethods(TAttendanceStore& AStore, TListAnswerCache& ALists,
                                     std::size_t AMaxInflatedUpload)
    : FStore(AStore), FLists(ALists), FMaxInflatedUpload(AMaxInflatedUpload) {}

const TMethodInfo* TQVRServerMethods::Find(std::string_view AClass,
                                           std::string_view AMethod) const {
  if (AMethod.size() >= 2 && AMethod.front() == '"' && AMethod.back() == '"') {
    AMethod = AMethod.substr(1, AMethod.size() - 2);
  }
  for (const auto& method : Methods()) {
    if (SameText(AClass, method.Class) && SameText(AMethod, method.Name)) return &method;
  }
  return nullptr;
}

std::string TQVRServerMethods::QualifiedName(const TMethodInfo& AMethod) {
  return std::string(AMethod.Class) + "." + AMethod.Name;
}

TMethodAnswer TQVRServerMethods::Invoke(const TMethodInfo& AMethod,
                                        const TCallArguments& AArguments,
                                        const std::string& AUserName,
                                        std::string* AParametersJSON) {
  auto arguments = DecodeArguments(AMethod, AArguments);
  if (AParametersJSON != nullptr) *AParametersJSON = ParametersJSON(AMethod, arguments);
  switch (AMethod.Id) {
    case TMethodId::EchoString:
      return MakeAnswer(rest::TJSONString(arguments[0].Text));
    case TMethodId::ReverseString:
      return MakeAnswer(rest::TJSONString(Reversed(arguments[0].Text)));
    case TMethodId::Opciones:
      // The marshalled form of the client's options record, uGral.TOpciones.
      return MakeAnswerFromText(
          "{\"type\":\"uGral.TOpciones\",\"id\":1,\"fields\":{"
          "\"IDStatusDefault\":" +
          std::to_string(FStore.IDStatusDefault()) + "}}");
    case TMethodId::ListaRelojes:
      return FLists.Get(TListKind::Relojes);
    case TMethodId::ListaEmpresas:
      return FLists.Get(TListKind::Empresas);
    case TMethodId::ListaPersonalParcial:
      return FLists.Get(TListKind::PersonalParcial);
    case TMethodId::ListaPersonalCompleta:
      return FLists.Get(TListKind::PersonalCompleta);
    case TMethodId::ExisteEmpleado:
      return BooleanAnswer(FStore.EmployeeExists(arguments[0].Integer));
    case TMethodId::InfoEmpleado:
      return MakeAnswer(*FStore.EmployeeInfo(arguments[0].Integer));
    case TMethodId::ActualizarEmpleado:
      return BooleanAnswer(FStore.UpdateEmployee(*arguments[0].Json->AsObject()));
    case TMethodId::SubirAsistencia: {
      const TJSONValue& document = *arguments[1].Json;
      // An absent list (the client sends null) brings nothing to store.
      if (document.IsNull()) return BooleanAnswer(false);
      // The decoder holds the bound while it inflates, whatever the blobs
      // look like, so no blob grows past it in memory.
      auto unmarshal = rest::TJSONConverters::GetJSONUnMarshaler();
      unmarshal->SetMaxInflatedBytes(FMaxInflatedUpload);
      std::unique_ptr<TObject> object;
      try {
        object = unmarshal->Unmarshal(document);
      } catch (const rest::EZInflationBudgetError&) {
        throw EHttpError(413, "The uploaded datasets exceed " + std::to_string(FMaxInflatedUpload) +
                                  " bytes once inflated");
      } catch (const Exception& AError) {
        throw BadRequest("SubirAsistencia: ALista cannot be read: " + AError.Message());
      }
      const auto* list = dynamic_cast<const rest::TDataSetList*>(object.get());
      if (list == nullptr) throw BadRequest("SubirAsistencia: ALista is not a dataset list");
      FStore.AppendAttendance(arguments[0].Text, *list, AUserName);
      return BooleanAnswer(true);
    }
    case TMethodId::GetPlatformName:
      return MakeAnswer(rest::TJSONString("Linux"));
  }
  throw EHttpError(500, "Method without an implementation");
}

}  // namespace qvr::server
