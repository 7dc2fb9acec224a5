// The requests of the server's remote methods exactly as the client core
// forms them, from the description of the remote interface
// (rest/wire/RemoteMethods.h: method path, path segments encoded with
// PercentEncode, body alone or {"_parameters":[...]}, quoted names of the
// POST methods), one place for all tests of the server, and a small client
// that sends them through a TRestConnection's session-carrying exchange to a
// running server.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rest/RestConnection.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONValues.h"
#include "rest/wire/RemoteMethods.h"

namespace qvr::test {

// One remote call: the verb, the path after the REST base and the body.
struct TMethodRequest {
  std::string Verb;
  std::string Path;
  std::string Body;
};

// The request of AMethod with its in-parameters AArguments in order: the text
// of a URL segment (encoded here), or the JSON text of a body parameter.
// Raises std::invalid_argument for a wrong number of arguments.
TMethodRequest Request(const rest::TRemoteMethod& AMethod,
                       const std::vector<std::string>& AArguments);

namespace calls {
TMethodRequest EchoString(const std::string& AValue);
TMethodRequest ReverseString(const std::string& AValue);
TMethodRequest Opciones();
TMethodRequest ListaRelojes();
TMethodRequest ListaEmpresas();
TMethodRequest ListaPersonalParcial();
TMethodRequest ListaPersonalCompleta();
TMethodRequest ExisteEmpleado(int ACodigo);
TMethodRequest InfoEmpleado(int ACodigo);
// ADatos is the JSON text of the employee object.
TMethodRequest ActualizarEmpleado(const std::string& ADatos);
// AListJSON is the marshalled dataset list, or "null" for an absent one.
TMethodRequest SubirAsistencia(const std::string& AArchivo, const std::string& AListJSON);
TMethodRequest GetPlatformName();
}  // namespace calls

// The marshalled text of AList (the body SubirAsistencia sends).
std::string MarshalList(const rest::TDataSetList& AList);
// The dataset list a "result" element holds.
std::unique_ptr<rest::TDataSetList> UnmarshalList(const rest::TJSONValue& AValue);

// A dataset list of attendance rows: ADataSets datasets named "Fichajes1",
// ..., each of ARows rows with Codigo (from AFirstCodigo on, one per row
// across all datasets), FechaHora, IDReloj and Tipo.
std::unique_ptr<rest::TDataSetList> AttendanceList(int ADataSets, int ARows, int AFirstCodigo);

class TServerClient {
 public:
  // A connection to 127.0.0.1:APort with the user name AUserName (empty:
  // no credentials), the way the client data module sets it up.
  explicit TServerClient(int APort, const std::string& AUserName = "kiosco");

  rest::TRestConnection& Connection() { return FConnection; }

  // Sends ARequest (in cache mode with Accept "application/rest") with the
  // request filter AFilter, and returns the parsed answer body (null when it
  // is not JSON). Refusals raise TRestProtocolException; the session id is
  // then forgotten, as the client does for remote calls.
  std::unique_ptr<rest::TJSONValue> Call(const TMethodRequest& ARequest, bool ACacheMode = false,
                                         const std::string& AFilter = {});
  // Element 0 of the answer's "result" (null when the answer has none).
  std::unique_ptr<rest::TJSONValue> Result(const TMethodRequest& ARequest);
  // The answer body as text.
  std::string CallText(const TMethodRequest& ARequest);

  // Requests about cached items: GET or DELETE of the cache base followed
  // by APath; the parsed answer. The session id stays on refusals.
  std::unique_ptr<rest::TJSONValue> CacheRequest(const std::string& AVerb,
                                                 const std::string& APath);

 private:
  rest::TRestConnection FConnection;
};

// The text of a JSON string value, or "" when AValue is not a string.
std::string StringOf(const rest::TJSONValue* AValue);

}  // namespace qvr::test
