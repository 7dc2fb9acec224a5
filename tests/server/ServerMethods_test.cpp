// Every remote method of qvr-server, called as the client core forms the
// requests, against the real program with a freshly seeded database: the
// same cases on each store, SQLite and PostgreSQL.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"
#include "server/ServerCalls.h"
#include "server/StoreUnderTest.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

using rest::TJSONValue;

class ServerMethodsTest : public ::testing::TestWithParam<TStoreKind> {
 protected:
  // One server per store, started by the first case that needs it.
  static TServerProcess& Server(TStoreKind AKind) {
    auto& server = GServers[AKind];
    if (!server) server = std::make_unique<TServerProcess>(StoreArgs(AKind));
    return *server;
  }
  static int PortOf(TStoreKind AKind) { return StoreAvailable(AKind) ? Server(AKind).Port() : 0; }
  static void TearDownTestSuite() {
    for (auto& [kind, server] : GServers) EXPECT_EQ(server->Stop(), 0);
    GServers.clear();
  }
  void SetUp() override {
    if (!StoreAvailable(GetParam())) GTEST_SKIP() << StoreMissing(GetParam());
  }
  static std::map<TStoreKind, std::unique_ptr<TServerProcess>> GServers;
  TServerClient Client{PortOf(GetParam())};

  std::string Member(const TJSONValue& AObject, const char* AName) {
    const auto* value = AObject.AsObject()->GetValue(AName);
    return value == nullptr ? "<none>" : rest::WriteJSON(*value);
  }
  int Status(const TMethodRequest& ARequest) {
    try {
      Client.Call(ARequest);
      return 200;
    } catch (const rest::TRestProtocolException& AError) {
      EXPECT_NE(AError.ResponseText().find("\"error\":"), std::string::npos)
          << AError.ResponseText();
      return AError.Status();
    }
  }
};
std::map<TStoreKind, std::unique_ptr<TServerProcess>> ServerMethodsTest::GServers;

TEST_P(ServerMethodsTest, EchoAndReverseGiveTheTextBackAsEncodedByTheClient) {
  // Texts whose segments carry every escape of the client's encoding.
  const struct {
    std::string Text, Reversed;
  } kCases[] = {
      {"hola", "aloh"},
      {"a b.c/d", "d/c.b a"},
      {"%41", "14%"},
      {"", ""},
      {"null", "llun"},
      {"año ñandú", "údnañ oña"},
      {"x😀y", "y😀x"},
      {"#?:\\^`{|}+&=", "=&+}|{`^\\:?#"},
      {"\"quoted\"", "\"detouq\""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(StringOf(Client.Result(calls::EchoString(c.Text)).get()), c.Text) << c.Text;
    EXPECT_EQ(StringOf(Client.Result(calls::ReverseString(c.Text)).get()), c.Reversed) << c.Text;
  }
}

TEST_P(ServerMethodsTest, OpcionesAnswersTheMarshalledOptionsRecord) {
  EXPECT_EQ(Client.CallText(calls::Opciones()),
            R"({"result":[{"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":1}}]})");
}

TEST_P(ServerMethodsTest, TheListsCarryTheirDataSetsInTheClientsForm) {
  const struct {
    TMethodRequest Request;
    std::vector<std::string> Names;
    std::vector<int> Rows;
    std::vector<std::string> FirstColumns;
  } kCases[] = {
      {calls::ListaRelojes(), {"Relojes"}, {7}, {"IDReloj"}},
      {calls::ListaEmpresas(), {"Empresas"}, {4}, {"IDEmpresa"}},
      {calls::ListaPersonalParcial(), {"Personal"}, {300}, {"Codigo"}},
      {calls::ListaPersonalCompleta(), {"Personal", "Status"}, {300, 5}, {"Codigo", "IDStatus"}},
  };
  for (const auto& c : kCases) {
    const auto result = Client.Result(c.Request);
    ASSERT_TRUE(result) << c.Request.Path;
    const auto list = UnmarshalList(*result);
    ASSERT_EQ(list->Names(), c.Names) << c.Request.Path;
    for (int i = 0; i < list->Count(); ++i) {
      auto& dataset = list->DataSet(i);
      EXPECT_EQ(dataset.RecordCount(), c.Rows[static_cast<std::size_t>(i)]) << c.Request.Path;
      EXPECT_EQ(dataset.Fields(0).FieldName(), c.FirstColumns[static_cast<std::size_t>(i)]);
    }
    // Every blob is zlib in base64.
    EXPECT_NE(rest::WriteJSON(*result).find("\"FValue\":\"eJ"), std::string::npos);
  }
}

TEST_P(ServerMethodsTest, TheFullStaffListHoldsEveryColumn) {
  const auto list = UnmarshalList(*Client.Result(calls::ListaPersonalCompleta()));
  auto& personal = list->DataSet(0);
  std::vector<std::string> columns;
  for (int i = 0; i < personal.FieldCount(); ++i) columns.push_back(personal.Fields(i).FieldName());
  EXPECT_EQ(columns, (std::vector<std::string>{"Codigo", "Nombre", "Apellido1", "Apellido2", "DNI",
                                               "Tarjeta", "Email", "Telefono", "IDEmpresa",
                                               "IDReloj", "IDStatus", "FechaAlta", "Activo"}));
  personal.First();
  EXPECT_EQ(personal.FieldByName("Codigo").AsInteger(), 1001);
  EXPECT_EQ(personal.FieldByName("DNI").AsString().size(), 9u);
  EXPECT_EQ(personal.FieldByName("FechaAlta").DataType(), data::TFieldType::ftDateTime);
  EXPECT_GT(personal.FieldByName("FechaAlta").AsDateTime(), 38000.0);  // after 2004
}

TEST_P(ServerMethodsTest, ExisteEmpleadoAndInfoEmpleadoReadTheStaff) {
  const struct {
    int Codigo;
    bool Exists;
  } kCases[] = {{1001, true}, {1300, true}, {1301, false}, {1000, false}, {-5, false}};
  for (const auto& c : kCases) {
    const auto exists = Client.Result(calls::ExisteEmpleado(c.Codigo));
    ASSERT_TRUE(exists);
    EXPECT_EQ(exists->Kind(), c.Exists ? TJSONValue::TKind::True : TJSONValue::TKind::False)
        << c.Codigo;
    const auto info = Client.Result(calls::InfoEmpleado(c.Codigo));
    ASSERT_TRUE(info && info->AsObject());
    EXPECT_EQ(info->AsObject()->Count() > 0, c.Exists) << c.Codigo;
  }
  const auto info = Client.Result(calls::InfoEmpleado(1002));
  EXPECT_EQ(Member(*info, "Codigo"), "1002");
  for (const char* name : {"Nombre", "Apellido1", "Apellido2", "DNI", "Tarjeta", "Email",
                           "Telefono", "Empresa", "Reloj", "Status", "FechaAlta"}) {
    EXPECT_EQ(Member(*info, name).front(), '"') << name;
  }
}

TEST_P(ServerMethodsTest, ActualizarEmpleadoChangesTheEmployeeAndTheLists) {
  const auto changed = Client.Result(calls::ActualizarEmpleado(
      R"({"Codigo":1010,"Nombre":"Begoña","IDStatus":3,"IDReloj":"5","Empresa":"ignored"})"));
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->Kind(), TJSONValue::TKind::True);
  const auto info = Client.Result(calls::InfoEmpleado(1010));
  EXPECT_EQ(Member(*info, "Nombre"), "\"Bego\\u00F1a\"");
  EXPECT_EQ(Member(*info, "IDStatus"), "3");
  EXPECT_EQ(Member(*info, "Status"), "\"Vacaciones\"");
  EXPECT_EQ(Member(*info, "IDReloj"), "5");

  // The encoded lists follow the change.
  const auto after = UnmarshalList(*Client.Result(calls::ListaPersonalParcial()));
  auto& personal = after->DataSet(0);
  personal.SetRecNo(10);
  EXPECT_EQ(personal.FieldByName("Codigo").AsInteger(), 1010);
  EXPECT_EQ(personal.FieldByName("Nombre").AsString(), "Begoña");
  EXPECT_EQ(personal.FieldByName("IDStatus").AsInteger(), 3);

  // The method name without quotes reaches the same method.
  TMethodRequest unquoted{"POST", "TQVRServerMethods/ActualizarEmpleado/",
                          R"({"Codigo":1010,"Tarjeta":"77"})"};
  EXPECT_EQ(Client.Result(unquoted)->Kind(), TJSONValue::TKind::True);
  EXPECT_EQ(Member(*Client.Result(calls::InfoEmpleado(1010)), "Tarjeta"), "\"77\"");

  // No employee with that code: false, nothing changed.
  EXPECT_EQ(Client.Result(calls::ActualizarEmpleado(R"({"Codigo":99999,"Nombre":"X"})"))->Kind(),
            TJSONValue::TKind::False);
}

TEST_P(ServerMethodsTest, ActualizarEmpleadoRefusesWhatItCannotStore) {
  const char* const kBodies[] = {
      R"({"Nombre":"sin codigo"})",
      R"({"Codigo":"uno","Nombre":"x"})",
      R"({"Codigo":1011,"Sueldo":1})",
      R"({"Codigo":1011,"Nombre":5})",
      R"({"Codigo":1011,"Nombre":null})",
      R"({"Codigo":1011,"IDEmpresa":99})",
      R"({"Codigo":1011,"IDStatus":"x"})",
      R"({"Codigo":1011,"FechaAlta":"ayer"})",
      R"([1011])",
      R"("texto")",
      R"({"Codigo":1011,"Nombre":"x")",
  };
  const auto before = Client.CallText(calls::InfoEmpleado(1011));
  for (const char* body : kBodies) {
    EXPECT_EQ(Status(calls::ActualizarEmpleado(body)), 400) << body;
  }
  EXPECT_EQ(Client.CallText(calls::InfoEmpleado(1011)), before);
}

// FechaAlta is a date of the calendar in exactly the form YYYY-MM-DD; what
// is refused leaves the employee as it was.
TEST_P(ServerMethodsTest, FechaAltaIsACalendarDateInItsOneForm) {
  const struct {
    const char* Text;
    bool Accepted;
  } kCases[] = {
      {"2024-02-29", true},  // leap year
      {"2000-02-29", true},  // divisible by 400
      {"1999-12-31", true},
      {"0001-01-01", true},
      {"2023-02-29", false},  // not a leap year
      {"1900-02-29", false},  // divisible by 100, not by 400
      {"2020-02-31", false},
      {"2020-04-31", false},
      {"2020-00-10", false},
      {"2020-13-01", false},
      {"2020-01-00", false},
      {"0000-01-01", false},
      {"2020-01-01<script>", false},  // text after the date
      {"2020-1-1", false},            // widths are fixed
      {"20-01-01", false},
      {" 2020-01-01", false},
      {"+202-01-01", false},
      {"-202-01-01", false},
      {"2020/01/01", false},
      {"2020-01-01 00:00:00", false},
      {"２０２０-01-01", false},  // digits beyond ASCII
      {"", false},
  };
  for (const auto& c : kCases) {
    const auto before = Member(*Client.Result(calls::InfoEmpleado(1012)), "FechaAlta");
    const std::string text = rest::WriteJSON(rest::TJSONString(std::string(c.Text)));
    EXPECT_EQ(Status(calls::ActualizarEmpleado(R"({"Codigo":1012,"FechaAlta":)" + text + "}")),
              c.Accepted ? 200 : 400)
        << c.Text;
    const auto after = Member(*Client.Result(calls::InfoEmpleado(1012)), "FechaAlta");
    EXPECT_EQ(after, c.Accepted ? text : before) << c.Text;
  }
}

TEST_P(ServerMethodsTest, ParameterPlacementFollowsTheClientsRules) {
  // Both parameters of SubirAsistencia in the body, as {"_parameters":[...]}.
  const std::string list = MarshalList(*AttendanceList(1, 2, 500));
  TMethodRequest both{"POST", "TQVRServerMethods/%22SubirAsistencia%22/",
                      R"({"_parameters":["reloj1.dat",)" + list + "]}"};
  EXPECT_EQ(Client.Result(both)->Kind(), TJSONValue::TKind::True);
  // A request filter is accepted and changes nothing.
  const auto filtered = Client.Call(calls::EchoString("abc"), false, "ss.r=1");
  EXPECT_EQ(rest::WriteJSON(*filtered), R"({"result":["abc"]})");

  const TMethodRequest kBad[] = {
      {"GET", "TQVRServerMethods/EchoString/", ""},           // missing parameter
      {"GET", "TQVRServerMethods/EchoString/a/b/", ""},       // one too many
      {"GET", "TQVRServerMethods/ExisteEmpleado/abc/", ""},   // not an integer
      {"GET", "TQVRServerMethods/ExisteEmpleado/0x10/", ""},  // decimal only
      {"GET", "TQVRServerMethods/ExisteEmpleado/99999999999/", ""},
      {"POST", "TQVRServerMethods/Opciones/", "{}"},  // no body parameter
      {"POST", "TQVRServerMethods/%22SubirAsistencia%22/", R"({"_parameters":["a"]})"},
      {"POST", "TQVRServerMethods/%22SubirAsistencia%22/f/", "[1]"},
      {"GET", "TQVRServerMethods/%22ActualizarEmpleado%22/x/", ""},  // body-only in the URL
  };
  for (const auto& request : kBad) EXPECT_EQ(Status(request), 400) << request.Path;
  EXPECT_EQ(Status({"GET", "TQVRServerMethods/NoSuchMethod/", ""}), 404);
  EXPECT_EQ(Status({"GET", "TOtraClase/EchoString/x/", ""}), 404);
  EXPECT_EQ(Status({"GET", "TQVRServerMethods/", ""}), 404);
}

TEST_P(ServerMethodsTest, GetPlatformNameAnswersTheConnectionTest) {
  EXPECT_EQ(StringOf(Client.Result(calls::GetPlatformName()).get()), "Linux");
  EXPECT_NO_THROW(Client.Connection().TestConnection({}));
}

// The catalogue read back member by member: every method of the description,
// grouped by class in the order of their first method, each parameter with
// its name, direction, type code and type name.
TEST_P(ServerMethodsTest, GetServerMethodParametersAnswersTheDescription) {
  namespace catalogue = rest::remote::catalogue;
  const auto answer = Client.Result(Request(rest::remote::GetServerMethodParameters, {}));
  ASSERT_TRUE(answer && answer->AsArray()) << (answer ? rest::WriteJSON(*answer) : "none");
  const auto text = [](const TJSONValue* AValue) { return StringOf(AValue); };
  const auto number = [](const TJSONValue* AValue) {
    return AValue != nullptr && AValue->Kind() == TJSONValue::TKind::Number
               ? AValue->AsString()->Value()
               : "<no number>";
  };
  // The description flattened, and the answer flattened the same way.
  std::vector<std::string> described;
  for (const rest::TRemoteMethod* method : rest::RemoteMethods()) {
    std::string line = method->QualifiedName() + "(";
    for (const rest::TWireParameter& parameter : method->Parameters) {
      line += std::string(parameter.Name) + " " + std::to_string(parameter.Direction) + " " +
              std::to_string(parameter.ValueType) + " " + std::string(parameter.TypeName) + ";";
    }
    described.push_back(line + ")");
  }
  std::vector<std::string> answered;
  for (const auto& classEntry : answer->AsArray()->Elements()) {
    const auto* object = classEntry.Get()->AsObject();
    ASSERT_NE(object, nullptr);
    const std::string className = text(object->GetValue(catalogue::kName));
    const auto* methods = object->GetValue(catalogue::kMethods);
    ASSERT_TRUE(methods && methods->AsArray()) << className;
    for (const auto& methodEntry : methods->AsArray()->Elements()) {
      const auto* method = methodEntry.Get()->AsObject();
      ASSERT_NE(method, nullptr);
      std::string line = className + "." + text(method->GetValue(catalogue::kName)) + "(";
      const auto* parameters = method->GetValue(catalogue::kParameters);
      ASSERT_TRUE(parameters && parameters->AsArray()) << line;
      for (const auto& parameterEntry : parameters->AsArray()->Elements()) {
        const auto* parameter = parameterEntry.Get()->AsObject();
        ASSERT_NE(parameter, nullptr);
        line += text(parameter->GetValue(catalogue::kName)) + " " +
                number(parameter->GetValue(catalogue::kDirection)) + " " +
                number(parameter->GetValue(catalogue::kType)) + " " +
                text(parameter->GetValue(catalogue::kTypeName)) + ";";
      }
      answered.push_back(line + ")");
    }
  }
  EXPECT_EQ(answered, described);
  // The form itself, as docs/server.md shows it.
  const std::string whole = rest::WriteJSON(*answer);
  EXPECT_TRUE(whole.starts_with(
      R"([{"name":"TQVRServerMethods","methods":[{"name":"EchoString","parameters":[)"
      R"({"name":"Value","direction":1,"type":26,"typeName":"string"},)"
      R"({"name":"","direction":4,"type":26,"typeName":"string"}]},)"))
      << whole;
  EXPECT_TRUE(whole.ends_with(R"({"name":"ClearSession","parameters":[]}]}])")) << whole;
}

TEST_P(ServerMethodsTest, ClearSessionEndsTheCallersSession) {
  auto& connection = Client.Connection();
  Client.Call(calls::EchoString("x"));
  const std::string ended = connection.SessionID();
  ASSERT_EQ(ended.size(), 32u);
  // A cached result of the session, which goes with it.
  Client.Call(calls::Opciones(), true);

  EXPECT_EQ(Client.CallText(Request(rest::remote::ClearSession, {})), R"({"result":[]})");
  // The answer names no session: the one it ran in is gone.
  EXPECT_FALSE(connection.HTTP().Response().ContainsHeader("Pragma"));
  ASSERT_EQ(connection.SessionID(), ended) << "an answer without a session id changes nothing";
  try {
    Client.Call(calls::EchoString("x"));
    ADD_FAILURE() << "the ended session was still accepted";
  } catch (const rest::TRestProtocolException& AError) {
    EXPECT_EQ(AError.Status(), 403);
    EXPECT_NE(AError.ResponseText().find("\"SessionExpired\""), std::string::npos);
  }
  // The client forgot the id with the refusal; its next call opens a new
  // session, and that one may be ended too, also in cache mode.
  Client.Call(calls::EchoString("x"));
  const std::string next = connection.SessionID();
  EXPECT_EQ(next.size(), 32u);
  EXPECT_NE(next, ended);
  EXPECT_EQ(rest::WriteJSON(*Client.Call(Request(rest::remote::ClearSession, {}), true)),
            R"({"result":[]})");
  EXPECT_THROW(Client.Call(calls::EchoString("x")), rest::TRestProtocolException);
  // A call without a session id ends the session it opened.
  EXPECT_EQ(connection.SessionID(), "");
  EXPECT_EQ(Client.CallText(Request(rest::remote::ClearSession, {})), R"({"result":[]})");
  EXPECT_EQ(connection.SessionID(), "");
}

INSTANTIATE_TEST_SUITE_P(Stores, ServerMethodsTest, AllStores(), StoreName);

}  // namespace
}  // namespace qvr::test
