// qvr's remote calls against the real qvr-server in a temporary folder: each
// command in its output formats (JSON compared with what the server itself
// answers), uploads and changes read back, the cache commands across runs,
// the one-run overrides, and the error lines and exit statuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rest/json/JSONText.h"
#include "server/DatabaseReader.h"
#include "server/ServerCalls.h"
#include "support/ServerProcess.h"
#include "support/StandInServer.h"
#include "tools/qvr/CsvReader.h"
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

// The permission bits of APath.
mode_t ModeOf(const std::string& APath) {
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0) return 07777;
  return st.st_mode & 07777;
}

// "TQVRServerMethods.InfoEmpleado" for the request of that method.
std::string CommandText(const TMethodRequest& ARequest) {
  const auto first = ARequest.Path.find('/');
  const auto second = ARequest.Path.find('/', first + 1);
  return ARequest.Path.substr(0, first) + "." + ARequest.Path.substr(first + 1, second - first - 1);
}

class QvrCallsTest : public ::testing::Test {
 protected:
  QvrCallsTest() { Folder.PointAt(Server.Port()); }

  // What the server itself answers, as element 0 of "result".
  std::string Raw(const TMethodRequest& ARequest) { return WriteJSON(*Direct.Result(ARequest)); }

  TServerProcess Server;
  TServerClient Direct{Server.Port()};
  TQvrFolder Folder;
};

TEST_F(QvrCallsTest, TextsAndTheConnectionTest) {
  const TProgramResult tested = Folder.Run({"test"});
  ASSERT_TRUE(Succeeded(tested));
  EXPECT_EQ(tested.Out, "Connected to " + Server.Origin() + "/rpc/rest/\n");
  const struct {
    std::vector<std::string> Line;
    const char* Out;
  } kCases[] = {
      {{"echo", "hola mundo"}, "hola mundo\n"},
      {{"echo", "a/b?c#d %e"}, "a/b?c#d %e\n"},
      {{"echo", "--", "--no-es-opcion"}, "--no-es-opcion\n"},
      {{"reverse",
        "\xC3\xB1"
        "and\xC3\xBA"},
       "\xC3\xBA"
       "dna\xC3\xB1\n"},
      {{"echo", "di \"hola\"", "--format", "json"}, "\"di \\\"hola\\\"\"\n"},
      {{"reverse", "x,y", "--format", "csv"}, "y,x\n"},
  };
  for (const auto& c : kCases) {
    const TProgramResult r = Folder.Run(c.Line);
    EXPECT_TRUE(Succeeded(r)) << c.Out;
    EXPECT_EQ(r.Out, c.Out);
  }
}

TEST_F(QvrCallsTest, OptionsThroughCargarOpciones) {
  TProgramResult r = Folder.Run({"opciones"});
  ASSERT_TRUE(Succeeded(r));
  EXPECT_EQ(r.Out, "IDStatusDefault  1\n");
  r = Folder.Run({"opciones", "--format", "csv"});
  EXPECT_EQ(r.Out, "IDStatusDefault\n1\n");
  r = Folder.Run({"opciones", "--format", "json"});
  EXPECT_EQ(PrintedJSON(r), Raw(calls::Opciones()));
}

// The lists, each compared in the three formats with what the server sends.
const struct {
  std::vector<std::string> Line;
  TMethodRequest (*Request)();
  std::vector<std::string> DataSets;  // name and rows, as the table heads them
} kLists[] = {
    {{"relojes"}, calls::ListaRelojes, {"Relojes: 7 rows"}},
    {{"empresas"}, calls::ListaEmpresas, {"Empresas: 4 rows"}},
    {{"personal"}, calls::ListaPersonalParcial, {"Personal: 300 rows"}},
    {{"personal", "--completo"},
     calls::ListaPersonalCompleta,
     {"Personal: 300 rows", "Status: 5 rows"}},
};

TEST_F(QvrCallsTest, ListsInEachFormat) {
  for (const auto& c : kLists) {
    const std::string raw = Raw(c.Request());
    const auto list = UnmarshalList(*ParseJSON(raw));

    auto line = c.Line;
    line.insert(line.end(), {"--format", "json"});
    TProgramResult r = Folder.Run(line);
    ASSERT_TRUE(Succeeded(r)) << c.Line[0];
    EXPECT_EQ(PrintedJSON(r), raw) << "the list as received: " << c.Line[0];

    r = Folder.Run(c.Line);
    ASSERT_TRUE(Succeeded(r));
    std::vector<std::string> heads;
    for (const auto& text : Lines(r.Out)) {
      if (Like(text, "*: # rows") || Like(text, "*: # row")) heads.push_back(text);
    }
    EXPECT_EQ(heads, c.DataSets) << c.Line[0];

    // CSV, one dataset at a time, reads back into the same rows.
    for (int i = 0; i < list->Count(); ++i) {
      const std::string name = list->Names()[static_cast<std::size_t>(i)];
      line = c.Line;
      line.insert(line.end(), {"--format", "csv", "--dataset", name});
      r = Folder.Run(line);
      ASSERT_TRUE(Succeeded(r)) << name;
      const auto table = cli::ReadCsvTable(r.Out);
      data::TAdaptedDataSet& sent = list->DataSet(i);
      ASSERT_EQ(table->RecordCount(), sent.RecordCount()) << name;
      ASSERT_EQ(table->FieldCount(), sent.FieldCount()) << name;
      for (sent.First(), table->First(); !sent.Eof(); sent.Next(), table->Next()) {
        for (int f = 0; f < sent.FieldCount(); ++f) {
          const std::string expected = sent.Fields(f).IsNull() ? "" : sent.Fields(f).AsString();
          const std::string printed = table->Fields(f).IsNull() ? "" : table->Fields(f).AsString();
          ASSERT_EQ(printed, expected) << name << " row " << sent.RecNo() << " field " << f;
        }
      }
    }
  }
}

TEST_F(QvrCallsTest, OneDatasetOfAList) {
  const TProgramResult r = Folder.Run({"personal", "--completo", "--dataset", "Status"});
  ASSERT_TRUE(Succeeded(r));
  EXPECT_EQ(Lines(r.Out)[0], "Status: 5 rows");
  EXPECT_EQ(Lines(r.Out)[1], "IDStatus  Descripcion");
  EXPECT_EQ(Lines(r.Out).size(), 3u + 5u);
  // The line was right and the call was made: what the answer lacks is a
  // failed call, not a usage error.
  EXPECT_TRUE(FailedWith(Folder.Run({"relojes", "--dataset", "Nada"}), 1,
                         "the list holds no dataset named 'Nada'"));
  EXPECT_TRUE(FailedWith(Folder.Run({"empresas", "--format", "json", "--dataset", "Relojes"}), 1,
                         "the list holds no dataset named 'Relojes'"));
}

TEST_F(QvrCallsTest, EmployeesAreLookedUpAndChanged) {
  EXPECT_EQ(Folder.Run({"existe", "1001"}).Out, "true\n");
  EXPECT_EQ(Folder.Run({"existe", "1"}).Out, "false\n");
  EXPECT_EQ(Folder.Run({"existe", "-7", "--format", "json"}).Out, "false\n");

  TProgramResult r = Folder.Run({"empleado", "1001"});
  ASSERT_TRUE(Succeeded(r));
  EXPECT_EQ(Lines(r.Out)[0], "Codigo     1001");
  EXPECT_EQ(Lines(r.Out)[1], "Nombre     Beatriz");
  r = Folder.Run({"empleado", "1001", "--format", "csv"});
  EXPECT_TRUE(r.Out.starts_with("Codigo,Nombre,Apellido1,Apellido2,DNI,Tarjeta,"));
  EXPECT_EQ(Lines(r.Out).size(), 2u);
  r = Folder.Run({"empleado", "1002", "--format", "json"});
  EXPECT_EQ(PrintedJSON(r), Raw(calls::InfoEmpleado(1002)));

  // What empleado printed, changed, goes back from a file...
  std::string edited = r.Out;
  const auto name = edited.find("\"Nombre\": \"");
  ASSERT_NE(name, std::string::npos) << edited;
  const auto value = name + 11;
  edited.replace(value, edited.find('"', value) - value, "\xC3\x81ngela");
  WriteFileBytes(Folder.File("e.json"), edited);
  r = Folder.Run({"actualizar-empleado", "e.json"});
  ASSERT_TRUE(Succeeded(r));
  EXPECT_EQ(r.Out, "true\n");
  EXPECT_EQ(Lines(Folder.Run({"empleado", "1002"}).Out)[1], "Nombre     \xC3\x81ngela");
  // ...or from standard input.
  r = Folder.Run({"actualizar-empleado", "-"},
                 WithInput(R"({"Codigo":1003,"Telefono":"600000000"})"));
  EXPECT_EQ(r.Out, "true\n");
  EXPECT_NE(Folder.Run({"empleado", "1003"}).Out.find("Telefono   600000000\n"), std::string::npos);
  r = Folder.Run({"actualizar-empleado", "-"}, WithInput(R"({"Codigo":99999})"));
  EXPECT_EQ(r.Out, "false\n");

  // A code no employee has is said so, in every format, and a script sees
  // it in the exit status (the server answers an empty object).
  for (const char* format : {"table", "csv", "json"}) {
    EXPECT_TRUE(FailedWith(Folder.Run({"empleado", "99999", "--format", format}), 1,
                           "no employee has the code 99999"))
        << format;
  }
}

TEST_F(QvrCallsTest, AnUploadIsReadBackFromTheDatabase) {
  WriteFileBytes(Folder.File("marzo.csv"),
                 "Codigo;FechaHora;IDReloj;Tipo;Nota\r\n"
                 "1001;2024-03-01 08:00:00;1;0;entrada\r\n"
                 "1002;2024-03-01T08:05;;1;\"con; punto y coma\"\r\n"
                 "1003;2024-03-02 17:30:15;3;1;\r\n");
  TProgramResult r = Folder.Run({"subir-asistencia", "marzo.csv", "marzo.csv"});
  ASSERT_TRUE(Succeeded(r));
  EXPECT_EQ(r.Out, "true\n");
  r = Folder.Run({"subir-asistencia", "abril.csv", "-", "--dataset", "Abril"},
                 WithInput("Codigo,FechaHora\n1004,2024-04-01 07:59:59\n"));
  EXPECT_EQ(r.Out, "true\n");

  TDatabaseReader db(Server.DatabasePath());
  EXPECT_EQ(db.Rows("SELECT archivo, conjunto, codigo, fecha_hora, id_reloj, tipo, usuario "
                    "FROM asistencia ORDER BY codigo"),
            (std::vector<std::string>{
                "marzo.csv|Asistencia|1001|2024-03-01 08:00:00|1|0|kiosco",
                "marzo.csv|Asistencia|1002|2024-03-01 08:05:00|NULL|1|kiosco",
                "marzo.csv|Asistencia|1003|2024-03-02 17:30:15|3|1|kiosco",
                "abril.csv|Abril|1004|2024-04-01 07:59:59|NULL|NULL|kiosco",
            }));

  // A bad line stops qvr before anything is sent.
  WriteFileBytes(Folder.File("mal.csv"), "Codigo,FechaHora\n1005,2024-03-01\n1006,2024-02-30\n");
  EXPECT_TRUE(FailedWith(Folder.Run({"subir-asistencia", "mal.csv", "mal.csv"}), 2,
                         "mal.csv: line 3: FechaHora '2024-02-30' is not a valid date"));
  WriteFileBytes(Folder.File("corto.csv"), "Codigo,FechaHora\n1005\n");
  EXPECT_TRUE(FailedWith(Folder.Run({"subir-asistencia", "c", "corto.csv"}), 2,
                         "corto.csv: line 2: 1 field, the header has 2"));
  EXPECT_TRUE(FailedWith(Folder.Run({"subir-asistencia", "x", "-"}, WithInput("")), 2,
                         "standard input: the file has no header line"));
  // A table the server refuses (no FechaHora column) is a failed call.
  WriteFileBytes(Folder.File("sin.csv"), "Codigo\n1005\n");
  EXPECT_TRUE(FailedWith(Folder.Run({"subir-asistencia", "s", "sin.csv"}), 1,
                         "HTTP/1.1 400 Bad Request: ", true));
  EXPECT_EQ(db.One("SELECT count(*) FROM asistencia"), "4");
}

TEST_F(QvrCallsTest, CachedResultsAcrossRunsOfOneSession) {
  const std::string session = Folder.File("sesion");
  const struct {
    std::vector<std::string> Line;
    TMethodRequest Request;
  } kCases[] = {
      {{"opciones"}, calls::Opciones()},
      {{"relojes"}, calls::ListaRelojes()},
      {{"empresas"}, calls::ListaEmpresas()},
      {{"personal"}, calls::ListaPersonalParcial()},
      {{"personal", "--completo"}, calls::ListaPersonalCompleta()},
      {{"empleado", "1001"}, calls::InfoEmpleado(1001)},
  };
  for (const auto& c : kCases) {
    auto line = c.Line;
    line.insert(line.end(), {"--cache", "--session-file", session});
    TProgramResult r = Folder.Run(line);
    ASSERT_TRUE(Succeeded(r)) << c.Line[0];
    ASSERT_TRUE(Like(r.Out, "#/0\n")) << r.Out;
    const std::string item = r.Out.substr(0, r.Out.size() - 1);
    const std::string command = item.substr(0, item.find('/'));

    r = Folder.Run({"--session-file", session, "cache", "get", item, "--format", "json"});
    ASSERT_TRUE(Succeeded(r)) << item;
    EXPECT_EQ(PrintedJSON(r), Raw(c.Request)) << c.Line[0];
    r = Folder.Run({"--session-file", session, "cache", "command", item, "--format", "json"});
    ASSERT_TRUE(Succeeded(r));
    const auto cached = ParseJSON(r.Out);
    ASSERT_TRUE(cached && cached->AsObject()) << r.Out;
    EXPECT_EQ(StringOf(cached->AsObject()->GetValue("command")), CommandText(c.Request));

    // Another session does not reach the item, and a run without a session
    // file is told why.
    EXPECT_TRUE(FailedWith(Folder.Run({"cache", "get", item}), 1,
                           "HTTP/1.1 404 Not Found: No cached item " + item +
                               " in this session (each run of qvr is a new session: give the "
                               "--cache call and this one the same --session-file)"));
    r = Folder.Run({"--session-file", session, "cache", "delete", item});
    EXPECT_TRUE(Succeeded(r));
    EXPECT_EQ(r.Out, "");
    EXPECT_TRUE(FailedWith(Folder.Run({"--session-file", session, "cache", "get", item}), 1,
                           "HTTP/1.1 404 Not Found: ", true));
  }
  // The session id is kept for the user alone.
  const std::string id = ReadFileBytes(session);
  EXPECT_TRUE(id.size() == 33 && Like(id, "%\n")) << id;
  EXPECT_EQ(ModeOf(session), 0600u);
  // The list of a cached table reads as tables too.
  const std::string item =
      Lines(Folder.Run({"relojes", "--cache", "--session-file", session}).Out)[0];
  EXPECT_EQ(Lines(Folder.Run({"--session-file", session, "cache", "get", item}).Out)[0],
            "Relojes: 7 rows");
}

TEST_F(QvrCallsTest, ASessionFileIsMadePrivateAndNoLinkIsFollowed) {
  // A file that was there already, readable by everyone (a touch under the
  // usual umask), holds a live session id once the run is over: it becomes
  // the user's alone, whatever its mode was.
  const std::string session = Folder.File("sesion");
  for (const mode_t mode : {0644u, 0666u, 0640u, 0600u}) {
    WriteFileBytes(session, "");
    ASSERT_EQ(::chmod(session.c_str(), mode), 0);
    const TProgramResult r = Folder.Run({"--session-file", session, "echo", "x"});
    EXPECT_TRUE(Succeeded(r)) << std::oct << mode;
    EXPECT_EQ(ModeOf(session), 0600u) << std::oct << mode;
    EXPECT_TRUE(Like(ReadFileBytes(session), "%\n")) << std::oct << mode;
  }

  // A link in the session file's place is neither read nor written through:
  // whoever could put it there would otherwise have qvr send the file it
  // names to the server, or write over it.
  const std::string target = Folder.File("destino");
  WriteFileBytes(target, "abc\n");
  ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
  const std::string link = Folder.File("enlace");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  const std::string logBefore = Server.SettledLog();
  EXPECT_TRUE(FailedWith(Folder.Run({"--session-file", link, "echo", "x"}), 2,
                         link + " is a symbolic link; a session file must be a file of its own"));
  EXPECT_EQ(Server.SettledLog(), logBefore) << "nothing was sent";
  EXPECT_EQ(ReadFileBytes(target), "abc\n");
  EXPECT_EQ(ModeOf(target), 0644u);
  // A dangling link is no better: it would create the file it names.
  const std::string dangling = Folder.File("colgante");
  ASSERT_EQ(::symlink(Folder.File("nadie").c_str(), dangling.c_str()), 0);
  EXPECT_TRUE(
      FailedWith(Folder.Run({"--session-file", dangling, "echo", "x"}), 2,
                 dangling + " is a symbolic link; a session file must be a file of its own"));
  struct stat st {};
  EXPECT_NE(::lstat(Folder.File("nadie").c_str(), &st), 0);
}

TEST_F(QvrCallsTest, OverridesApplyToOneRunAndAreNotWritten) {
  Folder.Write("[rest]\nIP=nadie.invalid\nPuerto=" + std::to_string(ClosedPort()) +
               "\nUID=nadie\n");
  const std::string before = Folder.Read();
  TProgramResult r = Folder.Run({"--host", "127.0.0.1", "--port", std::to_string(Server.Port()),
                                 "--uid", "kiosco", "echo", "x"});
  ASSERT_TRUE(Succeeded(r));
  EXPECT_EQ(r.Out, "x\n");
  EXPECT_EQ(Folder.Read(), before);
  // The port follows the window's rule.
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", Server.Port());
  EXPECT_EQ(Folder.Run({"--host=127.0.0.1", "--port", hex, "--uid=kiosco", "echo", "y"}).Out,
            "y\n");
  EXPECT_TRUE(
      FailedWith(Folder.Run({"--port", "80 80", "echo", "x"}), 2, "El puerto debe ser numerico"));
  // An unknown user is refused by the server: a failed call with its status.
  EXPECT_TRUE(FailedWith(
      Folder.Run({"--host=127.0.0.1", "--port", std::to_string(Server.Port()), "echo", "x"}), 1,
      "HTTP/1.1 401 Unauthorized: ", true));
  // Nothing listens where config.ini points.
  EXPECT_TRUE(FailedWith(Folder.Run({"--host=127.0.0.1", "test"}), 1, "", true));
}

TEST_F(QvrCallsTest, UsageErrorsSendNothing) {
  const std::string logBefore = Server.SettledLog();
  const struct {
    std::vector<std::string> Line;
    const char* Message;
  } kCases[] = {
      {{"echo"}, "usage: qvr echo TEXT"},
      {{"echo", "a", "b"}, "usage: qvr echo TEXT"},
      {{"subir-asistencia", "x"}, "usage: qvr subir-asistencia NOMBRE FILE.csv"},
      {{"existe", "abc"}, "CODIGO must be a whole number, not 'abc'"},
      {{"empleado", "0x10"}, "CODIGO must be a whole number, not '0x10'"},
      {{"existe", "99999999999"}, "CODIGO must be a whole number, not '99999999999'"},
      {{"relojes", "--completo"}, "relojes does not take --completo"},
      {{"echo", "x", "--cache"}, "echo does not take --cache"},
      {{"test", "--filter", "x"}, "test does not take --filter"},
      {{"cache", "delete", "1/0", "--dataset", "D"}, "cache delete does not take --dataset"},
      {{"empleado", "1", "--completo", "--cache"}, "empleado does not take --completo"},
      {{"opciones", "--filter", "x"},
       "opciones takes --filter only with --cache (CargarOpciones sends none)"},
      {{"actualizar-empleado", "no-existe.json"},
       "Cannot read no-existe.json: No such file or directory"},
      {{"subir-asistencia", "x", "/"}, "Cannot read /: Is a directory"},
      {{"cache", "get"}, "usage: qvr cache get ITEMPATH"},
  };
  for (const auto& c : kCases) EXPECT_TRUE(FailedWith(Folder.Run(c.Line), 2, c.Message));

  WriteFileBytes(Folder.File("lista.json"), "[1,2]");
  EXPECT_TRUE(FailedWith(Folder.Run({"actualizar-empleado", "lista.json"}), 2,
                         "lista.json holds no JSON object"));
  EXPECT_TRUE(FailedWith(Folder.Run({"actualizar-empleado", "-"}, WithInput("{\"Codigo\":")), 2,
                         "standard input holds no JSON object"));
  WriteFileBytes(Folder.File("sesion"), "id con blancos\n");
  EXPECT_TRUE(FailedWith(Folder.Run({"--session-file", Folder.File("sesion"), "test"}), 2,
                         Folder.File("sesion") + " holds no session id"));
  EXPECT_EQ(Server.SettledLog(), logBefore);
}

TEST_F(QvrCallsTest, RefusalsAreFailedCallsWithTheServersText) {
  EXPECT_TRUE(FailedWith(
      Folder.Run({"actualizar-empleado", "-"}, WithInput(R"({"Codigo":1001,"Sueldo":1})")), 1,
      "HTTP/1.1 400 Bad Request: ActualizarEmpleado: unknown member Sueldo"));
  EXPECT_TRUE(FailedWith(Folder.Run({"cache", "command", "sin-barra"}), 1, "Missing command path"));
}

TEST(QvrStandInTest, FiltersAndStatusesReachTheLine) {
  TStandInServer server;
  TQvrFolder folder;
  folder.PointAt(server.Port(), "");
  server.Enqueue(ResultAnswer("\"hola\""));
  EXPECT_EQ(folder.Run({"echo", "hola", "--filter", "ss.r=1"}).Out, "hola\n");
  EXPECT_EQ(server.LastRequest().Target, "/rpc/rest/TQVRServerMethods/EchoString/hola/?ss.r=1");
  server.Enqueue(JsonAnswer(200, R"({"result":{"x":1}})"));
  EXPECT_EQ(folder.Run({"cache", "get", "5/0", "--filter", "x=1"}).Out, "x  1\n");
  EXPECT_EQ(server.LastRequest().Target, "/rpc/cache/5/0/?x=1");

  // An answer of 203 to 299 has no message: the status stands alone.
  server.Enqueue(EmptyAnswer(204));
  EXPECT_TRUE(FailedWith(folder.Run({"existe", "1"}), 1, "status 204"));
  // The server's text after the status line, on the same line.
  server.Enqueue(ErrorAnswer(500, "se rompi\xC3\xB3\r\nla base"));
  EXPECT_TRUE(FailedWith(folder.Run({"relojes"}), 1,
                         "HTTP/1.1 500 Internal Server Error: se rompi\xC3\xB3 la base"));
  // An answer the list cannot be read from.
  server.Enqueue(ResultAnswer("null"));
  EXPECT_TRUE(FailedWith(folder.Run({"empresas"}), 1, "The input value is not a valid Object"));
}

TEST(QvrStandInTest, AnAnswerWithoutAJSONResultIsAFailedCall) {
  // The command layer reads a 200 whose body holds no "result" as no result
  // at all, which is no error there; a script must not take it for an empty
  // list or a missing employee.
  TStandInServer server;
  TQvrFolder folder;
  folder.PointAt(server.Port(), "");
  const std::vector<std::string> kLines[] = {
      {"empleado", "1001"},
      {"empleado", "1001", "--format", "json"},
      {"relojes"},
      {"empresas", "--format", "csv"},
      {"personal"},
      {"personal", "--completo", "--format", "json"},
      {"cache", "get", "5/0"},
      {"cache", "command", "5/0"},
  };
  const TStandInAnswer kAnswers[] = {
      BytesAnswer(200, "<html>proxy login</html>", "text/html"),
      JsonAnswer(200, R"({"resultado":[]})"),
      JsonAnswer(200, R"({"result":[)"),
  };
  for (const auto& line : kLines) {
    for (const auto& answer : kAnswers) {
      server.Enqueue(answer);
      EXPECT_TRUE(FailedWith(folder.Run(line), 1, "the server's answer is not a JSON result"))
          << line[0] << " " << answer.Body;
    }
  }
}

TEST(QvrLargeTransferTest, NoProgressWhenStandardErrorIsNoTerminal) {
  // About 2 MB of staff: a body that shows progress on a terminal.
  TServerProcess server({"--seed-employees", "40000"});
  TQvrFolder folder;
  folder.PointAt(server.Port());
  const TProgramResult r =
      folder.Run({"personal", "--completo", "--format", "csv", "--dataset", "Personal"});
  ASSERT_TRUE(Succeeded(r));
  EXPECT_EQ(Lines(r.Out).size(), 40001u);
  EXPECT_GT(r.Out.size(), 1000000u);
}

}  // namespace
}  // namespace qvr::test
