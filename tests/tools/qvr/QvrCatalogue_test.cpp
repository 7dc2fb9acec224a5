// qvr methods and qvr call against the real qvr-server in a temporary
// folder: the catalogue in each format as the server sends it, every method
// of the interface through call (printed as its own command prints it, or
// as the server answered), the arguments that are refused before the call
// is sent, the session that Admin.ClearSession ends; and against the
// stand-in server, answers that hold no JSON result.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "rest/json/JSONText.h"
#include "server/DatabaseReader.h"
#include "server/ServerCalls.h"
#include "support/ServerProcess.h"
#include "support/StandInServer.h"
#include "tools/qvr/QvrRun.h"

namespace qvr::test {
namespace {

using rest::ParseJSON;
using rest::WriteJSON;

// The compact text of the JSON that a run printed.
std::string PrintedJSON(const TProgramResult& AResult) {
  const auto value = ParseJSON(AResult.Out);
  return value ? WriteJSON(*value) : "<no JSON: " + AResult.Out + ">";
}

// The lines of the server's log that are requests of a remote method, by
// the path after the REST base ("Admin/GetServerMethodParameters/").
std::vector<std::string> MethodsLogged(const std::string& ALog) {
  std::vector<std::string> paths;
  for (const std::string& line : Lines(ALog)) {
    const auto start = line.find(" /rpc/rest/");
    if (start == std::string::npos) continue;
    const auto end = line.find(' ', start + 1);
    paths.push_back(line.substr(start + 11, end - start - 11));
  }
  return paths;
}

class QvrCatalogueTest : public ::testing::Test {
 protected:
  QvrCatalogueTest() { Folder.PointAt(Server.Port()); }

  std::string Raw(const TMethodRequest& ARequest) { return WriteJSON(*Direct.Result(ARequest)); }

  TServerProcess Server;
  TServerClient Direct{Server.Port()};
  TQvrFolder Folder;
};

TEST_F(QvrCatalogueTest, MethodsPrintsTheCatalogueInEachFormat) {
  const std::string raw = Raw(Request(rest::remote::GetServerMethodParameters, {}));
  TProgramResult r = Folder.Run({"methods", "--format", "json"});
  ASSERT_TRUE(Succeeded(r));
  EXPECT_EQ(PrintedJSON(r), raw) << "the catalogue as the server sends it";

  // A row per parameter, a method without any on a row of its own, in the
  // order of the description.
  std::vector<std::string> expected = {"Class,Method,Parameter,Direction,Type,TypeName"};
  const char* const kDirections[] = {"", "in", "out", "in/out", "return"};
  for (const rest::TRemoteMethod* method : rest::RemoteMethods()) {
    const std::string head = std::string(method->ClassName) + "," + std::string(method->MethodName);
    if (method->Parameters.empty()) expected.push_back(head + ",,,,");
    for (const rest::TWireParameter& p : method->Parameters) {
      expected.push_back(head + "," + std::string(p.Name) + "," + kDirections[p.Direction] + "," +
                         std::to_string(p.ValueType) + "," + std::string(p.TypeName));
    }
  }
  r = Folder.Run({"methods", "--format", "csv"});
  ASSERT_TRUE(Succeeded(r));
  EXPECT_EQ(Lines(r.Out), expected);

  r = Folder.Run({"methods"});
  ASSERT_TRUE(Succeeded(r));
  const auto lines = Lines(r.Out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Methods: " + std::to_string(expected.size() - 1) + " rows");
  EXPECT_TRUE(Like(lines[1], "Class*Method*Parameter*Direction*Type*TypeName")) << lines[1];
  EXPECT_TRUE(Like(lines[3], "TQVRServerMethods*EchoString*Value*in*26*string")) << lines[3];
  EXPECT_EQ(lines.size(), expected.size() + 2);
}

TEST_F(QvrCatalogueTest, EveryMethodThroughCall) {
  const std::string employee = Folder.File("empleado.json");
  WriteFileBytes(employee, R"({"Codigo":1004,"Telefono":"600123456"})");
  const std::string list = Folder.File("fichajes.json");
  WriteFileBytes(list, MarshalList(*AttendanceList(1, 3, 1001)));

  // A call prints what the method's own command prints, in every format;
  // the methods without one print the server's answer (json) or a line.
  const struct {
    std::vector<std::string> Call;
    std::vector<std::string> Same;  // the command that prints the same, if any
    std::string Out;                // else what the table format prints
  } kCases[] = {
      {{"TQVRServerMethods.EchoString", "hola"}, {"echo", "hola"}, ""},
      {{"tqvrservermethods.echostring", "a/b c"}, {"echo", "a/b c"}, ""},
      {{"TQVRServerMethods.ReverseString", "hola"}, {"reverse", "hola"}, ""},
      {{"TQVRServerMethods.ListaRelojes"}, {"relojes"}, ""},
      {{"TQVRServerMethods.ListaEmpresas"}, {"empresas"}, ""},
      {{"TQVRServerMethods.ListaPersonalParcial"}, {"personal"}, ""},
      {{"TQVRServerMethods.ListaPersonalCompleta"}, {"personal", "--completo"}, ""},
      {{"TQVRServerMethods.ListaPersonalCompleta", "--dataset", "Status"},
       {"personal", "--completo", "--dataset", "Status"},
       ""},
      {{"TQVRServerMethods.ExisteEmpleado", "1001"}, {"existe", "1001"}, ""},
      {{"TQVRServerMethods.ExisteEmpleado", "-7"}, {"existe", "-7"}, ""},
      {{"TQVRServerMethods.InfoEmpleado", "1002"}, {"empleado", "1002"}, ""},
      {{"TQVRServerMethods.Opciones"},
       {},
       "type    uGral.TOpciones\nid      1\nfields  {\"IDStatusDefault\":1}\n"},
      {{"Admin.GetPlatformName"}, {}, "Linux\n"},
      {{"TQVRServerMethods.ActualizarEmpleado", employee}, {}, "true\n"},
      {{"TQVRServerMethods.\"SubirAsistencia\"", "fichajes.json", list}, {}, "true\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Call[0]);
    for (const char* format : {"table", "csv", "json"}) {
      auto line = c.Call;
      line.insert(line.begin(), "call");
      line.insert(line.end(), {"--format", format});
      const TProgramResult r = Folder.Run(line);
      ASSERT_TRUE(Succeeded(r)) << format;
      if (!c.Same.empty()) {
        auto same = c.Same;
        same.insert(same.end(), {"--format", format});
        EXPECT_EQ(r.Out, Folder.Run(same).Out) << format;
      } else if (std::string(format) == "table") {
        EXPECT_EQ(r.Out, c.Out);
      }
    }
  }
  // The json of a method without a command of its own is the server's.
  EXPECT_EQ(PrintedJSON(Folder.Run({"call", "TQVRServerMethods.Opciones", "--format", "json"})),
            Raw(calls::Opciones()));
  EXPECT_EQ(
      PrintedJSON(Folder.Run({"call", "Admin.GetServerMethodParameters", "--format", "json"})),
      Raw(Request(rest::remote::GetServerMethodParameters, {})));

  // What the calls changed, read back.
  TDatabaseReader db(Server.DatabasePath());
  EXPECT_EQ(db.One("SELECT telefono FROM empleados WHERE codigo = 1004"), "600123456");
  EXPECT_EQ(db.One("SELECT count(*) FROM asistencia WHERE archivo = 'fichajes.json'"), "9");
  // An object or a list may come on standard input.
  const TProgramResult r = Folder.Run({"call", "TQVRServerMethods.ActualizarEmpleado", "-"},
                                      WithInput(R"({"Codigo":1005,"Email":"otra@empresa.es"})"));
  EXPECT_TRUE(Succeeded(r));
  EXPECT_EQ(r.Out, "true\n");
  EXPECT_EQ(db.One("SELECT email FROM empleados WHERE codigo = 1005"), "otra@empresa.es");
}

TEST_F(QvrCatalogueTest, ClearSessionEndsTheSessionOfTheSessionFile) {
  const std::string session = Folder.File("sesion");
  ASSERT_TRUE(Succeeded(Folder.Run({"--session-file", session, "echo", "x"})));
  const std::string id = ReadFileBytes(session);
  ASSERT_TRUE(Like(id, "%\n")) << id;

  const TProgramResult r = Folder.Run({"--session-file", session, "call", "Admin.ClearSession"});
  EXPECT_TRUE(Succeeded(r));
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(ReadFileBytes(session), "") << "the ended id is not kept";
  // The ended id is refused; the emptied file opens a new session.
  WriteFileBytes(Folder.File("vieja"), id);
  EXPECT_TRUE(FailedWith(Folder.Run({"--session-file", Folder.File("vieja"), "echo", "x"}), 1,
                         "HTTP/1.1 403 Forbidden: Session has expired"));
  EXPECT_TRUE(Succeeded(Folder.Run({"--session-file", session, "echo", "x"})));
  EXPECT_TRUE(Like(ReadFileBytes(session), "%\n"));
  EXPECT_NE(ReadFileBytes(session), id);
}

TEST_F(QvrCatalogueTest, WrongArgumentsAreUsageErrorsAndTheCallIsNotSent) {
  WriteFileBytes(Folder.File("lista.json"), "[1,2]");
  WriteFileBytes(Folder.File("objeto.json"), R"({"Codigo":1001})");
  WriteFileBytes(Folder.File("roto.json"), R"({"Codigo":)");
  const struct {
    std::vector<std::string> Line;
    const char* Message;
  } kCases[] = {
      {{"TQVRServerMethods.EchoString"},
       "TQVRServerMethods.EchoString takes 1 argument, Value (text), not 0"},
      {{"TQVRServerMethods.EchoString", "a", "b"},
       "TQVRServerMethods.EchoString takes 1 argument, Value (text), not 2"},
      {{"TQVRServerMethods.ListaRelojes", "x"},
       "TQVRServerMethods.ListaRelojes takes no argument, not 1"},
      {{"TQVRServerMethods.SubirAsistencia", "x"},
       "TQVRServerMethods.SubirAsistencia takes 2 arguments, AArchivo (text) and ALista "
       "(dataset list: FILE or -), not 1"},
      {{"TQVRServerMethods.ExisteEmpleado", "abc"}, "ACodigo must be a whole number, not 'abc'"},
      {{"TQVRServerMethods.InfoEmpleado", "99999999999"},
       "ACodigo must be a whole number, not '99999999999'"},
      {{"TQVRServerMethods.ActualizarEmpleado", "no-existe.json"},
       "Cannot read no-existe.json: No such file or directory"},
      {{"TQVRServerMethods.ActualizarEmpleado", "lista.json"}, "lista.json holds no JSON object"},
      {{"TQVRServerMethods.ActualizarEmpleado", "roto.json"}, "roto.json holds no JSON value"},
      {{"TQVRServerMethods.SubirAsistencia", "x", "objeto.json"},
       "objeto.json holds no dataset list (--format json prints one)"},
      {{"TQVRServerMethods.NoExiste"},
       "the server has no method TQVRServerMethods.NoExiste ('qvr methods' lists them)"},
      {{"Admin.EchoString", "x"},
       "the server has no method Admin.EchoString ('qvr methods' lists them)"},
      {{"TQVRServerMethods.EchoString", "x", "--dataset", "D"},
       "--dataset picks a dataset of a list, and TQVRServerMethods.EchoString returns no "
       "dataset list"},
  };
  // The server writes a request's log line after its answer, so the line
  // of qvr's last request may come a moment after qvr ended.
  const auto loggedSince = [&](const std::string& ABefore) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<std::string> logged;
    while ((logged = MethodsLogged(Server.Log().substr(ABefore.size()))).empty() &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return logged;
  };
  for (const auto& c : kCases) {
    const std::string before = Server.SettledLog();
    auto line = c.Line;
    line.insert(line.begin(), "call");
    EXPECT_TRUE(FailedWith(Folder.Run(line), 2, c.Message));
    // Only the catalogue was asked for.
    EXPECT_EQ(loggedSince(before), std::vector<std::string>{"Admin/GetServerMethodParameters/"})
        << c.Line[0];
  }
  // Lines refused before anything is sent.
  const std::string before = Server.SettledLog();
  EXPECT_TRUE(FailedWith(Folder.Run({"call"}), 2, "usage: qvr call CLASS.METHOD [ARG...]"));
  EXPECT_TRUE(FailedWith(Folder.Run({"call", "EchoString", "x"}), 2,
                         "call takes CLASS.METHOD, such as TQVRServerMethods.EchoString, not "
                         "'EchoString'"));
  EXPECT_TRUE(FailedWith(Folder.Run({"call", "TQVRServerMethods.SubirAsistencia", "-", "-"}), 2,
                         "only one argument can be read from standard input"));
  EXPECT_TRUE(FailedWith(Folder.Run({"call", "Admin.GetPlatformName", "--cache"}), 2,
                         "call does not take --cache"));
  EXPECT_TRUE(
      FailedWith(Folder.Run({"methods", "--filter", "x"}), 2, "methods does not take --filter"));
  EXPECT_EQ(Server.SettledLog(), before);
  // A refusal of the server is a failed call, as for every command.
  EXPECT_TRUE(FailedWith(Folder.Run({"call", "TQVRServerMethods.ActualizarEmpleado", "-"},
                                    WithInput(R"({"Codigo":1001,"Sueldo":1})")),
                         1, "HTTP/1.1 400 Bad Request: ActualizarEmpleado: unknown member Sueldo"));
}

TEST(QvrCatalogueStandInTest, AnswersWithoutAResultAreFailedCalls) {
  TStandInServer server;
  TQvrFolder folder;
  folder.PointAt(server.Port(), "");
  const std::string catalogue =
      R"([{"name":"C","methods":[{"name":"Texto","parameters":[)"
      R"({"name":"","direction":4,"type":26,"typeName":"string"}]},)"
      R"({"name":"Lista","parameters":[)"
      R"({"name":"","direction":4,"type":37,"typeName":"TDataSetList"}]},)"
      R"({"name":"Nada","parameters":[]}]}])";
  server.On("GET", "/rpc/rest/Admin/GetServerMethodParameters/", ResultAnswer(catalogue));
  // A method the server answers but this build of qvr does not know.
  server.On("GET", "/rpc/rest/C/Texto/", ResultAnswer("\"hola\""));
  EXPECT_EQ(folder.Run({"call", "C.Texto"}).Out, "hola\n");
  server.On("GET", "/rpc/rest/C/Nada/", ResultAnswer());
  EXPECT_TRUE(Succeeded(folder.Run({"call", "C.Nada"})));

  // 200 with no JSON result: the command layer stores nothing and raises
  // nothing; qvr says so, whatever the type of the result.
  for (const char* method : {"C.Texto", "C.Lista"}) {
    for (const auto& answer : {BytesAnswer(200, "<html>login</html>", "text/html"),
                               JsonAnswer(200, R"({"error":"no"})")}) {
      server.Enqueue(ResultAnswer(catalogue));
      server.Enqueue(answer);
      EXPECT_TRUE(
          FailedWith(folder.Run({"call", method}), 1, "the server's answer is not a JSON result"))
          << method << " " << answer.Body;
    }
  }
  // And the catalogue itself.
  server.Enqueue(BytesAnswer(200, "<html>login</html>", "text/html"));
  EXPECT_TRUE(
      FailedWith(folder.Run({"methods"}), 1, "The server's answer holds no method catalogue"));
  server.Enqueue(ResultAnswer(R"({"name":"C"})"));
  EXPECT_TRUE(FailedWith(folder.Run({"call", "C.Texto"}), 1,
                         "The method catalogue is not valid: it is not a JSON array"));
}

}  // namespace
}  // namespace qvr::test
