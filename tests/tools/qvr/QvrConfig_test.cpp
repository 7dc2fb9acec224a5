// qvr config show and config set as a deployment script runs them: the
// config.ini beside the program or the one --config names, the options
// window's save rules (the port rule and its message, the write order, a
// refused write with the file unchanged), the usage errors, and the help.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "rest/json/JSONText.h"
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

// A config.ini brought from the suite's earlier Windows workstations: CRLF
// lines in Windows-1252 (0xF1 is U+00F1, 0xF3 U+00F3).
const std::string kCanada1252 =
    "Ca\xF1"
    "ada";
const std::string kWindows1252Config =
    "[rest]\r\nIP=192.168.1.10\r\nPuerto=8080\r\nUID=" + kCanada1252 +
    "\r\n[Ventana]\r\nTitulo=Recepci\xF3n\r\n";

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
