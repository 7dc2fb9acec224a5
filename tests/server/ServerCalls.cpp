// Requests of the remote methods and a client that sends them; see
// ServerCalls.h.
#include "server/ServerCalls.h"

#include <stdexcept>

#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"
#include "rest/wire/Envelope.h"
#include "rest/wire/RestPaths.h"

namespace qvr::test {

TMethodRequest Request(const rest::TRemoteMethod& AMethod,
                       const std::vector<std::string>& AArguments) {
  const auto in = AMethod.InParameters();
  if (AArguments.size() != in.size()) {
    throw std::invalid_argument(AMethod.QualifiedName() + " takes " + std::to_string(in.size()) +
                                " arguments");
  }
  TMethodRequest request{std::string(AMethod.Verb), rest::MethodPath(AMethod.CommandText) + "/",
                         ""};
  // In-parameters go in the URL until the first that must travel in the
  // body; it and every one after it go in the body, as the command places them.
  const bool allInURL = rest::SendsAllInURL(AMethod.Verb);
  std::vector<std::string> body;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (body.empty() && (allInURL || !rest::TravelsInBody(in[i].ValueType, in[i].TypeName))) {
      request.Path += rest::PercentEncode(AArguments[i], false) + "/";
    } else {
      body.push_back(AArguments[i]);
    }
  }
  if (body.size() == 1) {
    request.Body = body.front();
  } else if (body.size() > 1) {
    request.Body = rest::kParametersOpen;
    for (std::size_t i = 0; i < body.size(); ++i) request.Body += (i > 0 ? "," : "") + body[i];
    request.Body += rest::kParametersClose;
  }
  return request;
}

namespace calls {
namespace remote = rest::remote;
TMethodRequest EchoString(const std::string& AValue) {
  return Request(remote::EchoString, {AValue});
}
TMethodRequest ReverseString(const std::string& AValue) {
  return Request(remote::ReverseString, {AValue});
}
TMethodRequest Opciones() { return Request(remote::Opciones, {}); }
TMethodRequest ListaRelojes() { return Request(remote::ListaRelojes, {}); }
TMethodRequest ListaEmpresas() { return Request(remote::ListaEmpresas, {}); }
TMethodRequest ListaPersonalParcial() { return Request(remote::ListaPersonalParcial, {}); }
TMethodRequest ListaPersonalCompleta() { return Request(remote::ListaPersonalCompleta, {}); }
TMethodRequest ExisteEmpleado(int ACodigo) {
  return Request(remote::ExisteEmpleado, {std::to_string(ACodigo)});
}
TMethodRequest InfoEmpleado(int ACodigo) {
  return Request(remote::InfoEmpleado, {std::to_string(ACodigo)});
}
TMethodRequest ActualizarEmpleado(const std::string& ADatos) {
  return Request(remote::ActualizarEmpleado, {ADatos});
}
TMethodRequest SubirAsistencia(const std::string& AArchivo, const std::string& AListJSON) {
  return Request(remote::SubirAsistencia, {AArchivo, AListJSON});
}
TMethodRequest GetPlatformName() { return Request(remote::GetPlatformName, {}); }
}  // namespace calls

std::string MarshalList(const rest::TDataSetList& AList) {
  return rest::WriteJSON(*rest::TJSONConverters::GetJSONMarshaler()->Marshal(&AList));
}

std::unique_ptr<rest::TDataSetList> UnmarshalList(const rest::TJSONValue& AValue) {
  auto object = rest::TJSONConverters::GetJSONUnMarshaler()->Unmarshal(AValue);
  auto* list = dynamic_cast<rest::TDataSetList*>(object.get());
  if (list == nullptr) throw std::runtime_error("not a dataset list");
  object.release();
  return std::unique_ptr<rest::TDataSetList>(list);
}

std::unique_ptr<rest::TDataSetList> AttendanceList(int ADataSets, int ARows, int AFirstCodigo) {
  auto list = std::make_unique<rest::TDataSetList>();
  int codigo = AFirstCodigo;
  for (int d = 0; d < ADataSets; ++d) {
    auto table = std::make_unique<data::TMemTable>();
    table->FieldDefs().Add("Codigo", data::TFieldType::ftInteger, true);
    table->FieldDefs().Add("FechaHora", data::TFieldType::ftString);
    table->FieldDefs().Add("IDReloj", data::TFieldType::ftInteger);
    table->FieldDefs().Add("Tipo", data::TFieldType::ftInteger);
    table->CreateDataSet();
    for (int r = 0; r < ARows; ++r, ++codigo) {
      char stamp[32];
      std::snprintf(stamp, sizeof stamp, "2024-%02d-%02d %02d:%02d:%02d", 1 + r % 12, 1 + r % 28,
                    r % 24, r % 60, (r * 7) % 60);
      table->AppendRecord({codigo, std::string(stamp), 1 + r % 7, r % 2});
    }
    list->AddDataSet("Fichajes" + std::to_string(d + 1), std::move(table));
  }
  return list;
}

TServerClient::TServerClient(int APort, const std::string& AUserName) {
  FConnection.SetHost("127.0.0.1");
  FConnection.SetPort(APort);
  FConnection.SetLoginPrompt(false);
  FConnection.SetUserName(AUserName);
}

std::unique_ptr<rest::TJSONValue> TServerClient::Call(const TMethodRequest& ARequest,
                                                      bool ACacheMode, const std::string& AFilter) {
  std::string url = FConnection.RestBaseURL() + ARequest.Path;
  if (!AFilter.empty()) url += AFilter.front() == '?' ? AFilter : "?" + AFilter;
  auto response = FConnection.SessionExchange(
      ARequest.Verb, url, ACacheMode ? "application/rest" : "application/JSON", ARequest.Body,
      rest::TSessionRule::ClearOnProtocolError);
  return rest::ParseJSON(response->StringValue());
}

std::unique_ptr<rest::TJSONValue> TServerClient::Result(const TMethodRequest& ARequest) {
  auto answer = Call(ARequest);
  auto* object = answer ? answer->AsObject() : nullptr;
  auto* result = object ? object->GetValue("result") : nullptr;
  auto* array = result ? result->AsArray() : nullptr;
  if (array == nullptr || array->Count() == 0) return nullptr;
  return array->Items(0)->Clone();
}

std::string TServerClient::CallText(const TMethodRequest& ARequest) {
  auto response = FConnection.SessionExchange(
      ARequest.Verb, FConnection.RestBaseURL() + ARequest.Path, "application/JSON", ARequest.Body,
      rest::TSessionRule::ClearOnProtocolError);
  return response->StringValue();
}

std::unique_ptr<rest::TJSONValue> TServerClient::CacheRequest(const std::string& AVerb,
                                                              const std::string& APath) {
  auto response =
      FConnection.SessionExchange(AVerb, FConnection.CacheBaseURL() + APath, "application/JSON", "",
                                  rest::TSessionRule::KeepOnProtocolError);
  return rest::ParseJSON(response->StringValue());
}

std::string StringOf(const rest::TJSONValue* AValue) {
  if (AValue == nullptr || AValue->Kind() != rest::TJSONValue::TKind::String) return {};
  return AValue->AsString()->Value();
}

}  // namespace qvr::test
