// The commands that call the server's remote methods, each through the data
// module's Client (the proxy with InstanceOwner true: what a call returns
// stays with the proxy and is printed before the next call).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/StrUtils.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"
#include "tools/qvr/Commands.h"
#include "tools/qvr/CsvReader.h"

namespace qvr::cli {

using rest::TDataSetList;
using rest::TJSONObject;
using rest::TMaybeOwned;
using rest::TQVRServerMethodsClient;

namespace {

// What a file named on the line may hold: far beyond any upload a server
// takes, and a bound for a name such as /dev/zero.
constexpr std::size_t kMaxInput = 512u * 1000u * 1000u;

TQVRServerMethodsClient& Client(TCommandRun& ARun) { return ARun.Context.dm().Client(); }

// An employee code: a whole number in decimal within 32 bits.
std::int32_t Codigo(const std::string& AText) {
  std::int32_t value = 0;
  if (!TryDecimalToInt(AText, value)) {
    throw EUsageError("CODIGO must be a whole number, not '" + AText + "'");
  }
  return value;
}

// What a proxy call returned, when it returned something. Each method is
// called once in a run of qvr, so an empty handle means that the answer
// stored no result of the method's kind, which the command layer takes for
// no error: here it is a failed call, so that a script cannot mistake it
// for an empty list or a missing employee.
template <class T>
const T& Returned(const TMaybeOwned<T>& AResult) {
  if (!AResult) throw EResultError(kNoJSONResult);
  return *AResult;
}

// The face that names the item path of a cached dataset list (the list
// face itself offers GetValue alone).
std::string ItemPathOf(const std::shared_ptr<rest::IRestCachedDataSetList>& AItem) {
  return qvr::Supports<rest::IRestCachedItem>(AItem)->ItemPath();
}

}  // namespace

std::string InputName(const std::string& AName) {
  return AName == "-" ? std::string("standard input") : AName;
}

std::string ReadInput(TCommandRun& ARun, const std::string& AName) {
  const std::string shown = InputName(AName);
  const auto tooLarge = [&] {
    return EUsageError(shown + " is larger than " + std::to_string(kMaxInput / 1000000) + " MB");
  };
  std::string text;
  char buffer[65536];
  if (AName == "-") {
    while (ARun.In.read(buffer, sizeof buffer) || ARun.In.gcount() > 0) {
      text.append(buffer, static_cast<std::size_t>(ARun.In.gcount()));
      if (text.size() > kMaxInput) throw tooLarge();
    }
    return text;
  }
  const int file = ::open(AName.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) throw EUsageError("Cannot read " + AName + ": " + std::strerror(errno));
  for (;;) {
    const ssize_t n = ::read(file, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(file);
      throw EUsageError("Cannot read " + AName + ": " + std::strerror(error));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxInput) {
      ::close(file);
      throw tooLarge();
    }
  }
  ::close(file);
  return text;
}

void RunTest(TCommandRun& ARun) {
  auto& connection = ARun.Context.dm().rest();
  connection.TestConnection({});
  std::string line = "Connected to " + connection.RestBaseURL();
  // Which scheme answered the server's challenge; a UID goes as Basic ahead
  // of any challenge, which the line leaves unsaid as it always has.
  if (connection.HasHTTP() && connection.HTTP().HasResponse()) {
    const rest::THTTPAuthScheme scheme = connection.HTTP().Response().AuthScheme();
    if (scheme != rest::THTTPAuthScheme::None && scheme != rest::THTTPAuthScheme::Basic) {
      line += " (authenticated with " + std::string(rest::AuthSchemeName(scheme)) + ")";
    }
  }
  ARun.Out.Text(line);
}

void RunEcho(TCommandRun& ARun) {
  ARun.Out.Text(Client(ARun).EchoString(ARun.Operands[0], ARun.Args.Filter));
}

void RunReverse(TCommandRun& ARun) {
  ARun.Out.Text(Client(ARun).ReverseString(ARun.Operands[0], ARun.Args.Filter));
}

void RunOpciones(TCommandRun& ARun) {
  if (ARun.Args.Cache) {
    ARun.Out.Text(Client(ARun).Opciones_Cache(ARun.Args.Filter)->ItemPath());
    return;
  }
  if (!ARun.Args.Filter.empty()) {
    throw EUsageError("opciones takes --filter only with --cache (CargarOpciones sends none)");
  }
  client::TdmBaseCliente& dm = ARun.Context.dm();
  dm.CargarOpciones();
  if (ARun.Out.Format() == TFormat::JSON) {
    // The record in the marshalled form the server sends it in.
    const auto marshal = rest::TJSONConverters::GetJSONMarshaler();
    ARun.Out.Value(marshal->Marshal(&dm.Opciones()).get());
    return;
  }
  TJSONObject fields;
  fields.AddPair("IDStatusDefault",
                 std::make_unique<rest::TJSONNumber>(dm.Opciones().IDStatusDefault));
  ARun.Out.Object(fields);
}

void RunRelojes(TCommandRun& ARun) {
  if (ARun.Args.Cache) {
    ARun.Out.Text(ItemPathOf(Client(ARun).ListaRelojes_Cache(ARun.Args.Filter)));
    return;
  }
  ARun.Out.DataSetList(&Returned(Client(ARun).ListaRelojes(ARun.Args.Filter)));
}

void RunEmpresas(TCommandRun& ARun) {
  if (ARun.Args.Cache) {
    ARun.Out.Text(ItemPathOf(Client(ARun).ListaEmpresas_Cache(ARun.Args.Filter)));
    return;
  }
  ARun.Out.DataSetList(&Returned(Client(ARun).ListaEmpresas(ARun.Args.Filter)));
}

void RunPersonal(TCommandRun& ARun) {
  TQVRServerMethodsClient& client = Client(ARun);
  if (ARun.Args.Cache) {
    ARun.Out.Text(ItemPathOf(ARun.Args.Completo
                                 ? client.ListaPersonalCompleta_Cache(ARun.Args.Filter)
                                 : client.ListaPersonalParcial_Cache(ARun.Args.Filter)));
    return;
  }
  const TMaybeOwned<TDataSetList> list = ARun.Args.Completo
                                             ? client.ListaPersonalCompleta(ARun.Args.Filter)
                                             : client.ListaPersonalParcial(ARun.Args.Filter);
  ARun.Out.DataSetList(&Returned(list));
}

void RunExiste(TCommandRun& ARun) {
  const std::int32_t codigo = Codigo(ARun.Operands[0]);
  ARun.Out.Boolean(Client(ARun).ExisteEmpleado(codigo, ARun.Args.Filter));
}

void RunEmpleado(TCommandRun& ARun) {
  const std::int32_t codigo = Codigo(ARun.Operands[0]);
  if (ARun.Args.Cache) {
    ARun.Out.Text(Client(ARun).InfoEmpleado_Cache(codigo, ARun.Args.Filter)->ItemPath());
    return;
  }
  const TMaybeOwned<TJSONObject> answer = Client(ARun).InfoEmpleado(codigo, ARun.Args.Filter);
  const TJSONObject& employee = Returned(answer);
  // The server answers an empty object for a code no employee has.
  if (employee.Count() == 0) {
    throw EResultError("no employee has the code " + std::to_string(codigo));
  }
  ARun.Out.Object(employee);
}

void RunActualizarEmpleado(TCommandRun& ARun) {
  const std::string& name = ARun.Operands[0];
  std::unique_ptr<rest::TJSONValue> value = rest::ParseJSON(ReadInput(ARun, name));
  if (value == nullptr || value->AsObject() == nullptr) {
    throw EUsageError(InputName(name) + " holds no JSON object");
  }
  std::unique_ptr<TJSONObject> datos(value.release()->AsObject());
  ARun.Out.Boolean(Client(ARun).ActualizarEmpleado(std::move(datos), ARun.Args.Filter));
}

void RunSubirAsistencia(TCommandRun& ARun) {
  const std::string& nombre = ARun.Operands[0];
  const std::string& file = ARun.Operands[1];
  std::unique_ptr<data::TMemTable> table;
  try {
    table = ReadCsvTable(ReadInput(ARun, file));
  } catch (const ECsvError& AError) {
    throw EUsageError(InputName(file) + ": " + AError.Message());
  }
  auto list = std::make_unique<TDataSetList>();
  list->AddDataSet(ARun.Args.DataSet.value_or("Asistencia"), std::move(table));
  // Handed over, as the proxy's InstanceOwner expects: released once marshalled.
  ARun.Out.Boolean(Client(ARun).SubirAsistencia(nombre, std::move(list), ARun.Args.Filter));
}

}  // namespace qvr::cli
