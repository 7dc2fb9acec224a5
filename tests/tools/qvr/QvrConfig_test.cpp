// qvr config show and config set as a deployment script runs them: the
// config.ini beside the program or the one --config names, the options
// window's save rules (the port rule and its message, the write order, a
// refused write with the file unchanged), the usage errors, and the help.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "rest/json/JSONText.h"
#include "support/ConfigSamples.h"
#include "support/ServerProcess.h"
#include "tools/qvr/Commands.h"
#include "tools/qvr/QvrRun.h"

namespace qvr::test {
namespace {

TEST(QvrConfigTest, AProgramBesideItsConfigIni) {
  // A copy of the program in a folder of its own reads and writes the
  // config.ini beside it, as every client program of the suite does.
  const TTempDir folder;
  const std::string program = folder.File("qvr");
  std::filesystem::copy_file(QvrPath(), program);
  const std::string config = folder.File("config.ini");
  const TProgramOptions here = InFolder("/");

  TProgramResult shown = RunProgram(program, {"config", "show"}, here);
  ASSERT_TRUE(Succeeded(shown));
  EXPECT_EQ(shown.Out,
            "IP      127.0.0.1\nPuerto  8080\nUID\nFile    " + config + "\nExists  false\n");
  EXPECT_FALSE(PathExists(config)) << "showing writes nothing";

  TServerProcess server;
  ASSERT_TRUE(Succeeded(RunProgram(
      program,
      {"config", "set", "IP=127.0.0.1", "Puerto=" + std::to_string(server.Port()), "UID=kiosco"},
      here)));
  EXPECT_EQ(ReadFileBytes(config),
            "[rest]\nIP=127.0.0.1\nPuerto=" + std::to_string(server.Port()) + "\nUID=kiosco\n");
  const TProgramResult tested = RunProgram(program, {"test"}, here);
  ASSERT_TRUE(Succeeded(tested));
  EXPECT_EQ(tested.Out, "Connected to " + server.Origin() + "/rpc/rest/\n");

  shown = RunProgram(program, {"config", "show", "--format", "json"}, here);
  ASSERT_TRUE(Succeeded(shown));
  const std::string expected = R"({"IP":"127.0.0.1","Puerto":)" + std::to_string(server.Port()) +
                               R"(,"UID":"kiosco","File":")" + config + R"(","Exists":true})";
  EXPECT_EQ(rest::WriteJSON(*rest::ParseJSON(shown.Out)),
            rest::WriteJSON(*rest::ParseJSON(expected)));
}

TEST(QvrConfigTest, ARelativeConfigIsTakenFromTheCurrentFolder) {
  const TTempDir folder;
  const TProgramOptions there = InFolder(folder.Path());
  ASSERT_TRUE(
      Succeeded(RunProgram(QvrPath(), {"--config", "sitio.ini", "config", "set", "UID=k"}, there)));
  EXPECT_EQ(ReadFileBytes(folder.File("sitio.ini")), "[rest]\nUID=k\n");
  const TProgramResult shown =
      RunProgram(QvrPath(), {"--config=sitio.ini", "config", "show", "--format", "csv"}, there);
  ASSERT_TRUE(Succeeded(shown));
  EXPECT_EQ(shown.Out,
            "IP,Puerto,UID,File,Exists\n127.0.0.1,8080,k," + folder.File("sitio.ini") + ",true\n");
}

// The port texts of the options window's rule, each saved into a new file.
const struct {
  const char* Port;
  const char* Stored;  // nullptr: refused, nothing written
} kPorts[] = {
    {"8080", "8080"},   {"   8080", "8080"}, {"0x1F90", "8080"}, {"$1F90", "8080"},
    {"-1", "-1"},       {"0", "0"},          {"70000", "70000"}, {"8080 ", nullptr},
    {"80 80", nullptr}, {"", nullptr},       {"abc", nullptr},   {"4294967296", nullptr},
};

TEST(QvrConfigTest, ThePortRuleOfTheOptionsWindow) {
  for (const auto& c : kPorts) {
    const TQvrFolder folder;
    const TProgramResult r = folder.Run(
        {"config", "set", "IP=192.168.1.20", std::string("Puerto=") + c.Port, "UID=caja1"});
    if (c.Stored == nullptr) {
      EXPECT_TRUE(FailedWith(r, 2, "El puerto debe ser numerico")) << "'" << c.Port << "'";
      EXPECT_FALSE(PathExists(folder.ConfigPath())) << "'" << c.Port << "'";
    } else {
      EXPECT_TRUE(Succeeded(r)) << "'" << c.Port << "'";
      EXPECT_EQ(r.Out, "");
      EXPECT_EQ(folder.Read(),
                std::string("[rest]\nIP=192.168.1.20\nPuerto=") + c.Stored + "\nUID=caja1\n")
          << "'" << c.Port << "'";
    }
  }
}

TEST(QvrConfigTest, WritesInTheWindowsOrderWhateverTheOrderGiven) {
  const TQvrFolder folder;
  folder.Write("; kept\r\n[rest]\r\nUID=old\r\n[sync]\r\nReloj Web Sobreescribir=1\r\n");
  ASSERT_TRUE(Succeeded(folder.Run({"config", "set", "uid=k", "PUERTO=211", "Ip=10.0.0.1"})));
  // New keys are appended in the order they are written: IP, then Puerto.
  EXPECT_EQ(folder.Read(),
            "; kept\r\n[rest]\r\nUID=k\r\nIP=10.0.0.1\r\nPuerto=211\r\n[sync]\r\n"
            "Reloj Web Sobreescribir=1\r\n");
  // A value not given stays; values are written as typed.
  ASSERT_TRUE(Succeeded(folder.Run({"config", "set", "UID=", "IP= servidor.local"})));
  EXPECT_EQ(folder.Read(),
            "; kept\r\n[rest]\r\nUID=\r\nIP= servidor.local\r\nPuerto=211\r\n[sync]\r\n"
            "Reloj Web Sobreescribir=1\r\n");
}

TEST(QvrConfigTest, AReadOnlyFileIsRefusedAndStaysAsItWas) {
  const TQvrFolder folder;
  const std::string before = "[rest]\nIP=a\nPuerto=1\nUID=b\n";
  folder.Write(before);
  ASSERT_EQ(::chmod(folder.ConfigPath().c_str(), 0444), 0);
  EXPECT_TRUE(FailedWith(folder.Run({"config", "set", "IP=c", "Puerto=2", "UID=d"}), 1,
                         "Unable to write to " + folder.ConfigPath()));
  EXPECT_EQ(folder.Read(), before);
  // Reading it still works.
  EXPECT_TRUE(Succeeded(folder.Run({"config", "show"})));
}

TEST(QvrConfigTest, AWindows1252FileIsShownAndSavedInItsEncoding) {
  const TQvrFolder folder;
  folder.Write(kWindows1252Config);
  const TProgramResult shown = folder.Run({"config", "show"});
  ASSERT_TRUE(Succeeded(shown));
  EXPECT_EQ(shown.Out, "IP      192.168.1.10\nPuerto  8080\nUID     Ca\u00F1ada\nFile    " +
                           folder.ConfigPath() + "\nExists  true\n");

  // The values it holds, saved again: not a byte changes.
  ASSERT_TRUE(Succeeded(
      folder.Run({"config", "set", "IP=192.168.1.10", "Puerto=8080", "UID=Ca\u00F1ada"})));
  EXPECT_EQ(folder.Read(), kWindows1252Config);
  ASSERT_TRUE(Succeeded(folder.Run({"config", "set", "UID=Pe\u00F1\u00F3n"})));
  EXPECT_EQ(folder.Read(),
            "[rest]\r\nIP=192.168.1.10\r\nPuerto=8080\r\nUID=Pe\xF1\xF3n\r\n"
            "[Ventana]\r\nTitulo=Recepci\xF3n\r\n");

  // A name Windows-1252 cannot hold: the whole file becomes UTF-8.
  ASSERT_TRUE(Succeeded(folder.Run({"config", "set", "UID=\u0141\u00F3d\u017A"})));
  EXPECT_EQ(folder.Read(),
            "[rest]\r\nIP=192.168.1.10\r\nPuerto=8080\r\nUID=\u0141\u00F3d\u017A\r\n"
            "[Ventana]\r\nTitulo=Recepci\u00F3n\r\n");
  const TProgramResult json = folder.Run({"config", "show", "--format", "json"});
  ASSERT_TRUE(Succeeded(json));
  EXPECT_NE(json.Out.find("\"UID\": \"\u0141\u00F3d\u017A\""), std::string::npos) << json.Out;
}

TEST(QvrConfigTest, UsageErrorsWriteNothing) {
  const struct {
    std::vector<std::string> Line;
    const char* Message;
  } kCases[] = {
      {{"config", "set"}, "usage: qvr config set [IP=...] [Puerto=...] [UID=...]"},
      {{"config", "set", "foo"}, "config set takes IP=..., Puerto=... and UID=..., not 'foo'"},
      {{"config", "set", "Port=1"}, "config set knows IP, Puerto and UID, not 'Port'"},
      {{"config", "set", "IP=a", "ip=b"}, "ip is given twice"},
      {{"config", "set", "IP=a", "Puerto=1", "UID=u", "IP=b"},
       "usage: qvr config set [IP=...] [Puerto=...] [UID=...]"},
      {{"config", "set", "UID=u", "--port", "1"},
       "config set calls no server: --host, --port, --uid and --session-file do not apply"},
      {{"config", "show", "extra"}, "usage: qvr config show"},
      {{"config", "show", "--cache"}, "config show does not take --cache"},
      {{"config", "show", "--dataset=D"}, "config show does not take --dataset"},
      // The first refused option in the help's order, whatever the line's.
      {{"config", "show", "--completo", "--filter", "x"}, "config show does not take --filter"},
      {{"config", "show", "--port", "1", "--cache"}, "config show does not take --cache"},
      {{"config", "show", "--session-file", "s"},
       "config show calls no server: --host, --port, --uid and --session-file do not apply"},
      {{"config"}, "config needs a command ('qvr config --help' lists them)"},
      {{"config", "bogus"}, "unknown command 'config bogus' ('qvr --help' lists the commands)"},
      {{"bogus"}, "unknown command 'bogus' ('qvr --help' lists the commands)"},
      {{"--bogus", "config", "show"}, "unknown option --bogus"},
      {{"config", "show", "--format", "xml"}, "--format takes table, json or csv, not 'xml'"},
      {{}, "no command given ('qvr --help' lists the commands)"},
  };
  for (const auto& c : kCases) {
    const TQvrFolder folder;
    EXPECT_TRUE(FailedWith(folder.Run(c.Line), 2, c.Message)) << c.Message;
    EXPECT_FALSE(PathExists(folder.ConfigPath())) << c.Message;
  }
}

TEST(QvrHelpTest, TheProgramListsEveryCommandOnOneLine) {
  const TProgramResult help = RunProgram(QvrPath(), {"--help"});
  ASSERT_TRUE(Succeeded(help));
  EXPECT_TRUE(help.Out.starts_with("Usage: qvr [OPTIONS] COMMAND [OPERANDS]\n"));
  for (const cli::TCommand& command : cli::Commands()) {
    std::string usage(command.Name);
    if (!command.Operands.empty()) usage.append(" ").append(command.Operands);
    // "  <usage>  <blanks><summary>" as one line.
    const auto start = help.Out.find("\n  " + usage + "  ");
    ASSERT_NE(start, std::string::npos) << command.Name;
    const auto end = help.Out.find('\n', start + 1);
    std::string rest = help.Out.substr(start + 3 + usage.size(), end - start - 3 - usage.size());
    rest.erase(0, rest.find_first_not_of(' '));
    EXPECT_EQ(rest, command.Summary) << command.Name;
  }
  EXPECT_NE(help.Out.find("Exit status: 0 success; 1"), std::string::npos);
  EXPECT_EQ(RunProgram(QvrPath(), {"-h"}).Out, help.Out);
}

// The whole help texts, word for word, as qvr prints them: they are built from
// the command table and the option table, so a change to either that moves a
// line, a column or a blank shows here. The expected texts are qvr's own
// output, copied when these cases were written. The commands are picked for
// the options they take: echo calls the server and takes --filter only,
// config set calls no server, personal takes every option a command can.
TEST(QvrHelpTest, TheHelpTextsWordForWord) {
  const struct {
    std::vector<std::string> Line;
    const char* Text;
  } kCases[] = {
      {{"--help"}, R"help(Usage: qvr [OPTIONS] COMMAND [OPERANDS]

The attendance suite's client for administrators and scripts. Like every client
program of the suite it reads config.ini beside its executable (or the file
--config names) and calls the attendance server that file names.

Commands:
  config show                                 the server, port and UID in config.ini, the file and whether it exists
  config set [IP=...] [Puerto=...] [UID=...]  write the server, port and UID as the options window saves them
  test                                        test the connection to the server
  echo TEXT                                   the server's EchoString of TEXT
  reverse TEXT                                the server's ReverseString of TEXT
  opciones                                    the server's options (CargarOpciones)
  relojes                                     the time clocks (ListaRelojes)
  empresas                                    the companies (ListaEmpresas)
  personal [--completo]                       the staff (ListaPersonalParcial, or ListaPersonalCompleta)
  existe CODIGO                               whether an employee has the code CODIGO (ExisteEmpleado)
  empleado CODIGO                             the record of the employee CODIGO (InfoEmpleado)
  actualizar-empleado FILE|-                  change an employee from a JSON object (ActualizarEmpleado)
  subir-asistencia NOMBRE FILE.csv            upload attendance records from a CSV file (SubirAsistencia)
  methods                                     the server's methods and their parameters (GetServerMethodParameters)
  call CLASS.METHOD [ARG...]                  call any method of the server's catalogue with ARGs
  cache get ITEMPATH                          a result left in the server's cache
  cache command ITEMPATH                      the cached command that a result belongs to
  cache delete ITEMPATH                       delete from the server the cached command of a result

Options:
  --config FILE            read and write FILE instead of config.ini beside qvr
  --host HOST              call HOST instead of the IP of config.ini (not written)
  --port PORT              call PORT instead of the Puerto of config.ini (not written)
  --uid UID                call as UID instead of the UID of config.ini (not written)
  --session-file FILE      keep the server's session id in FILE from one run to the next
  --format table|json|csv  how results are printed (table by default)
  --filter FILTER          send FILTER as the request filter
  --cache                  leave the result in the server's cache, print its item path
  --completo               every column (ListaPersonalCompleta)
  --dataset NAME           only the dataset NAME of a list (subir-asistencia: its name)
  -h, --help               this help
  --version                the program's version

Exit status: 0 success; 1 a call or a write failed, or its answer lacks what is
printed; 2 the command line or the input it names is wrong (nothing was sent or
written; call may have asked for the catalogue, which changes nothing).

'qvr COMMAND --help' describes one command.
)help"},
      {{"echo", "--help"}, R"help(Usage: qvr [OPTIONS] echo TEXT

Prints what the server's EchoString answers for TEXT.

Options:
  --config FILE            read and write FILE instead of config.ini beside qvr
  --host HOST              call HOST instead of the IP of config.ini (not written)
  --port PORT              call PORT instead of the Puerto of config.ini (not written)
  --uid UID                call as UID instead of the UID of config.ini (not written)
  --session-file FILE      keep the server's session id in FILE from one run to the next
  --format table|json|csv  how results are printed (table by default)
  --filter FILTER          send FILTER as the request filter
  -h, --help               this help

Exit status: 0 success; 1 a call or a write failed, or its answer lacks what is
printed; 2 the command line or the input it names is wrong (nothing was sent or
written; call may have asked for the catalogue, which changes nothing).
)help"},
      {{"config", "set", "-h"},
       R"help(Usage: qvr [OPTIONS] config set [IP=...] [Puerto=...] [UID=...]

Writes the values given, exactly as the options window's "Guardar" does. The port
is converted first (blanks before it, a sign, decimal digits, or hexadecimal ones
after $, x or 0x, and nothing after them); when it does not convert, "El puerto
debe ser numerico" is printed and nothing is written. Then IP, Puerto and UID are
written in this order, each at once and exactly as typed; a value not given stays
as it is. A file that cannot be written gives "Unable to write to <file>" and
keeps what it held. Key names are read without regard to case.

Options:
  --config FILE            read and write FILE instead of config.ini beside qvr
  --format table|json|csv  how results are printed (table by default)
  -h, --help               this help

Exit status: 0 success; 1 a call or a write failed, or its answer lacks what is
printed; 2 the command line or the input it names is wrong (nothing was sent or
written; call may have asked for the catalogue, which changes nothing).
)help"},
      {{"--help", "personal"}, R"help(Usage: qvr [OPTIONS] personal [--completo]

Prints the dataset list of ListaPersonalParcial, the columns a clock needs, or
with --completo that of ListaPersonalCompleta, with every column.

Options:
  --config FILE            read and write FILE instead of config.ini beside qvr
  --host HOST              call HOST instead of the IP of config.ini (not written)
  --port PORT              call PORT instead of the Puerto of config.ini (not written)
  --uid UID                call as UID instead of the UID of config.ini (not written)
  --session-file FILE      keep the server's session id in FILE from one run to the next
  --format table|json|csv  how results are printed (table by default)
  --filter FILTER          send FILTER as the request filter
  --cache                  leave the result in the server's cache, print its item path
  --completo               every column (ListaPersonalCompleta)
  --dataset NAME           only the dataset NAME of a list (subir-asistencia: its name)
  -h, --help               this help

Exit status: 0 success; 1 a call or a write failed, or its answer lacks what is
printed; 2 the command line or the input it names is wrong (nothing was sent or
written; call may have asked for the catalogue, which changes nothing).
)help"},
  };
  for (const auto& c : kCases) {
    const std::string line = c.Line[0] + (c.Line.size() > 1 ? " " + c.Line[1] : "");
    const TProgramResult help = RunProgram(QvrPath(), c.Line);
    EXPECT_TRUE(Succeeded(help)) << line;
    EXPECT_EQ(help.Out, c.Text) << line;
  }
}

// The commands name their options by bit and the option table gives each bit
// its row: a bit without a row could never be given, a row whose bit no
// command declares would be refused by every command.
TEST(QvrHelpTest, EveryCommandOptionHasItsRowAndACommandThatTakesIt) {
  unsigned declared = 0;
  for (const cli::TCommand& command : cli::Commands()) declared |= command.Options;
  unsigned rows = 0;
  for (const cli::TOption& option : cli::Options()) rows |= option.Bit;
  EXPECT_EQ(declared, rows);
}

TEST(QvrHelpTest, EachCommandAndGroupHasItsHelp) {
  const TProgramResult echo = RunProgram(QvrPath(), {"echo", "--help"});
  ASSERT_TRUE(Succeeded(echo));
  EXPECT_TRUE(echo.Out.starts_with("Usage: qvr [OPTIONS] echo TEXT\n\n"));
  EXPECT_NE(echo.Out.find("--filter"), std::string::npos);
  EXPECT_NE(echo.Out.find("--host"), std::string::npos);
  EXPECT_EQ(echo.Out.find("--cache"), std::string::npos);

  const TProgramResult set = RunProgram(QvrPath(), {"config", "set", "--help"});
  ASSERT_TRUE(Succeeded(set));
  EXPECT_NE(set.Out.find("El puerto\ndebe ser numerico"), std::string::npos);
  EXPECT_EQ(set.Out.find("--host"), std::string::npos);

  const TProgramResult group = RunProgram(QvrPath(), {"cache", "--help"});
  ASSERT_TRUE(Succeeded(group));
  EXPECT_TRUE(group.Out.starts_with("Usage: qvr [OPTIONS] cache COMMAND\n"));
  EXPECT_NE(group.Out.find("  cache get ITEMPATH"), std::string::npos);
  EXPECT_EQ(group.Out.find("config show"), std::string::npos);

  const TProgramResult version = RunProgram(QvrPath(), {"--version"});
  ASSERT_TRUE(Succeeded(version));
  EXPECT_TRUE(Like(version.Out, "qvr v#.#.#.#\n")) << version.Out;
}

}  // namespace
}  // namespace qvr::test
