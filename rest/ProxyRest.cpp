// The REST proxy base classes and the method catalogue's JSON form; see
// ProxyRest.h.
#include "rest/ProxyRest.h"

#include "platform/StrUtils.h"
#include "rest/RestExceptions.h"

namespace qvr::rest {

namespace {

namespace catalogue = remote::catalogue;

[[noreturn]] void NotValid(const std::string& AWhat) {
  throw TRestException("The method catalogue is not valid: " + AWhat);
}

const TJSONArray& ArrayMember(const TJSONObject& AObject, std::string_view AName,
                              const std::string& AWhere) {
  const TJSONValue* value = AObject.GetValue(AName);
  if (value == nullptr || value->AsArray() == nullptr) {
    NotValid(AWhere + " has no array \"" + std::string(AName) + "\"");
  }
  return *value->AsArray();
}

std::string TextMember(const TJSONObject& AObject, std::string_view AName,
                       const std::string& AWhere) {
  const TJSONValue* value = AObject.GetValue(AName);
  if (value == nullptr || value->Kind() != TJSONValue::TKind::String) {
    NotValid(AWhere + " has no text \"" + std::string(AName) + "\"");
  }
  return value->AsString()->Value();
}

std::int32_t IntegerMember(const TJSONObject& AObject, std::string_view AName,
                           const std::string& AWhere) {
  const TJSONValue* value = AObject.GetValue(AName);
  std::int32_t number = 0;
  if (value == nullptr || value->Kind() != TJSONValue::TKind::Number ||
      !TryDecimalToInt(value->AsString()->Value(), number)) {
    NotValid(AWhere + " has no integer \"" + std::string(AName) + "\"");
  }
  return number;
}

const TJSONObject& ObjectElement(const TJSONValueRef& AElement, const std::string& AWhere) {
  const TJSONObject* object = AElement.Get()->AsObject();
  if (object == nullptr) NotValid(AWhere + " is not a JSON object");
  return *object;
}

std::unique_ptr<TJSONNumber> Number(std::int32_t AValue) {
  return std::make_unique<TJSONNumber>(AValue);
}

}  // namespace

TRestProxyMetaData ReadMethodCatalogue(const TJSONValue& AValue) {
  const TJSONArray* classes = AValue.AsArray();
  if (classes == nullptr) NotValid("it is not a JSON array");
  TRestProxyMetaData result;
  // Positions count from 1 in messages, as people count.
  std::size_t c = 0;
  for (const TJSONValueRef& classElement : classes->Elements()) {
    const std::string classWhere = "class " + std::to_string(++c);
    const TJSONObject& classObject = ObjectElement(classElement, classWhere);
    TRestProxyClass& proxyClass = result.Classes.emplace_back();
    proxyClass.Name = TextMember(classObject, catalogue::kName, classWhere);
    std::size_t m = 0;
    for (const TJSONValueRef& methodElement :
         ArrayMember(classObject, catalogue::kMethods, classWhere).Elements()) {
      const std::string methodWhere = "method " + std::to_string(++m) + " of " + proxyClass.Name;
      const TJSONObject& methodObject = ObjectElement(methodElement, methodWhere);
      TRestProxyMethod& method = proxyClass.Methods.emplace_back();
      method.Name = TextMember(methodObject, catalogue::kName, methodWhere);
      const std::string qualified = proxyClass.Name + "." + method.Name;
      std::size_t p = 0;
      for (const TJSONValueRef& parameterElement :
           ArrayMember(methodObject, catalogue::kParameters, qualified).Elements()) {
        const std::string where = "parameter " + std::to_string(++p) + " of " + qualified;
        const TJSONObject& parameter = ObjectElement(parameterElement, where);
        method.Parameters.push_back({TextMember(parameter, catalogue::kName, where),
                                     IntegerMember(parameter, catalogue::kDirection, where),
                                     IntegerMember(parameter, catalogue::kType, where),
                                     TextMember(parameter, catalogue::kTypeName, where)});
      }
    }
  }
  return result;
}

std::unique_ptr<TJSONArray> MethodCatalogueJSON(const TRestProxyMetaData& ACatalogue) {
  auto classes = std::make_unique<TJSONArray>();
  for (const TRestProxyClass& proxyClass : ACatalogue.Classes) {
    auto methods = std::make_unique<TJSONArray>();
    for (const TRestProxyMethod& method : proxyClass.Methods) {
      auto parameters = std::make_unique<TJSONArray>();
      for (const TRestParameterMetaData& row : method.Parameters) {
        auto parameter = std::make_unique<TJSONObject>();
        parameter->AddPair(std::string(catalogue::kName), row.Name);
        parameter->AddPair(std::string(catalogue::kDirection), Number(row.Direction));
        parameter->AddPair(std::string(catalogue::kType), Number(row.ValueType));
        parameter->AddPair(std::string(catalogue::kTypeName), row.TypeName);
        parameters->Add(std::move(parameter));
      }
      auto entry = std::make_unique<TJSONObject>();
      entry->AddPair(std::string(catalogue::kName), method.Name);
      entry->AddPair(std::string(catalogue::kParameters), std::move(parameters));
      methods->Add(std::move(entry));
    }
    auto entry = std::make_unique<TJSONObject>();
    entry->AddPair(std::string(catalogue::kName), proxyClass.Name);
    entry->AddPair(std::string(catalogue::kMethods), std::move(methods));
    classes->Add(std::move(entry));
  }
  return classes;
}

TAdminRestClient::~TAdminRestClient() {
  FGetPlatformNameCommand.reset();
  FGetServerMethodParametersCommand.reset();
  FClearSessionCommand.reset();
}

TRestCommand& TAdminRestClient::CommandFor(std::unique_ptr<TRestCommand>& AField,
                                           const char* ARequestType, const char* AText,
                                           std::span<const TRestParameterMetaData> ATable) {
  if (!AField) {
    auto command = FConnection->CreateCommand();
    command->SetRequestType(ARequestType);
    command->SetText(AText);
    command->Prepare(ATable);
    AField = std::move(command);
  }
  return *AField;
}

TRestCommand& TAdminRestClient::CommandFor(std::unique_ptr<TRestCommand>& AField,
                                           const TRemoteMethod& AMethod) {
  return CommandFor(AField, AMethod, AMethod.Parameters);
}

TRestCommand& TAdminRestClient::CommandFor(std::unique_ptr<TRestCommand>& AField,
                                           const TRemoteMethod& AMethod,
                                           std::span<const TWireParameter> AParameters) {
  if (AField) return *AField;
  const std::string verb(AMethod.Verb), text(AMethod.CommandText);
  const std::vector<TRestParameterMetaData> table = MetaDataOf(AParameters);
  return CommandFor(AField, verb.c_str(), text.c_str(), table);
}

std::string TAdminRestClient::GetPlatformName(const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FGetPlatformNameCommand, remote::GetPlatformName);
  command.Execute(ARequestFilter);
  return command.Parameters()->GetParameterByOrdinal(0).Value().GetWideString();
}

TRestProxyMetaData TAdminRestClient::GetServerMethodParameters(const std::string& ARequestFilter) {
  TRestCommand& command =
      CommandFor(FGetServerMethodParametersCommand, remote::GetServerMethodParameters);
  command.Execute(ARequestFilter);
  const TParameterValue& slot = command.Parameters()->GetParameterByOrdinal(0).Value();
  // The slot keeps an earlier call's catalogue when this answer stored
  // nothing: only a result of this answer is read.
  if (!command.ResultStored() || slot.JSONValue() == nullptr) {
    throw TRestException("The server's answer holds no method catalogue");
  }
  return ReadMethodCatalogue(*slot.JSONValue());
}

void TAdminRestClient::ClearSession(const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FClearSessionCommand, remote::ClearSession);
  command.Execute(ARequestFilter);
  // The server ended the session and its answer names none, which would
  // leave the ended id with the connection.
  FConnection->ClearSessionID();
}

}  // namespace qvr::rest
