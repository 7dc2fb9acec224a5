// The bash completion of qvr (packaging/qvr.bash-completion) run by bash as
// a shell runs it on a Tab: the completion function with the words of the
// line, what it offers compared with qvr's own command and option tables,
// and the method names of a running qvr-server after "call" (nothing, and
// soon, when no server answers).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "support/ServerProcess.h"
#include "tools/qvr/Commands.h"
#include "tools/qvr/QvrRun.h"

namespace qvr::test {
namespace {

// What the completion offers for the line AWords (after "qvr"), sorted. The
// word completed is the last one (empty for a Tab after a blank), or the one
// at ACursor.
std::vector<std::string> Offered(std::vector<std::string> AWords, const std::string& AFolder,
                                 int ACursor = -1) {
  static const char* const kHarness =
      "source \"$1\"; cursor=$2; shift 2; COMP_WORDS=(\"$@\");"
      "COMP_CWORD=$(( cursor < 0 ? $# - 1 : cursor + 1 )); _qvr;"
      "[[ ${#COMPREPLY[@]} -gt 0 ]] && printf '%s\\n' \"${COMPREPLY[@]}\";"
      "complete -p qvr >&2";
  AWords.insert(AWords.begin(), QvrPath());
  AWords.insert(AWords.begin(), {"-c", kHarness, "bash", QVR_COMPLETION, std::to_string(ACursor)});
  TProgramOptions options;
  options.WorkingFolder = AFolder;
  const TProgramResult r = RunProgram("/bin/bash", AWords, options);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "complete -F _qvr qvr\n") << "the script registers its function for qvr";
  std::vector<std::string> offered = Lines(r.Out);
  std::sort(offered.begin(), offered.end());
  return offered;
}

std::vector<std::string> Sorted(std::set<std::string> AWords) {
  return {AWords.begin(), AWords.end()};
}

TEST(QvrCompletion, CommandsAndOptionsAreQvrsOwn) {
  TQvrFolder folder;
  std::set<std::string> first, config, longOptions;
  for (const cli::TCommand& command : cli::Commands()) {
    const std::string name(command.Name);
    first.insert(name.substr(0, name.find(' ')));
    if (name.starts_with("config ")) config.insert(name.substr(7));
  }
  for (const cli::TOption& option : cli::Options()) longOptions.insert(std::string(option.Name));
  EXPECT_EQ(Offered({""}, folder.Folder()), Sorted(first));
  EXPECT_EQ(Offered({"c"}, folder.Folder()), (std::vector<std::string>{"cache", "call", "config"}));
  EXPECT_EQ(Offered({"config", ""}, folder.Folder()), Sorted(config));
  EXPECT_EQ(Offered({"--format", "csv", "cache", "d"}, folder.Folder()),
            std::vector<std::string>{"delete"});
  EXPECT_EQ(Offered({"--"}, folder.Folder()), Sorted(longOptions));

  // A command's options are those its help lists.
  for (const cli::TCommand& command : cli::Commands()) {
    std::vector<std::string> line;
    std::set<std::string> taken;
    const std::string name(command.Name);
    for (std::size_t start = 0; start <= name.size();) {
      const auto end = std::min(name.find(' ', start), name.size());
      line.push_back(name.substr(start, end - start));
      start = end + 1;
    }
    for (const cli::TOption& option : cli::Options()) {
      if (cli::Takes(command, option)) taken.insert(std::string(option.Name));
    }
    line.push_back("--");
    EXPECT_EQ(Offered(line, folder.Folder()), Sorted(taken)) << name;
  }
}

TEST(QvrCompletion, ValuesOfOptionsAndOperands) {
  TQvrFolder folder;
  WriteFileBytes(folder.File("empleado.json"), "{}");
  WriteFileBytes(folder.File("marzo.csv"), "");
  const struct {
    std::vector<std::string> Words;
    std::vector<std::string> Offered;
  } kCases[] = {
      {{"relojes", "--format", ""}, {"csv", "json", "table"}},
      {{"relojes", "--format", "=", "j"}, {"json"}},
      {{"--format", "=", ""}, {"csv", "json", "table"}},
      {{"--format=json", "rel"}, {"relojes"}},
      {{"--format", "json", "rev"}, {"reverse"}},
      {{"echo", "--", "--"}, {}},
      {{"config", "set", ""}, {"IP=", "Puerto=", "UID="}},
      // bash splits "IP=1" at "=", as it does an option's value.
      {{"config", "set", "IP", "=", "1", "P"}, {"Puerto="}},
      {{"actualizar-empleado", "emp"}, {"empleado.json"}},
      {{"subir-asistencia", "marzo", "mar"}, {"marzo.csv"}},
      {{"--session-file", "emp"}, {"empleado.json"}},
      {{"relojes", "--dataset", ""}, {}},
  };
  for (const auto& c : kCases) {
    std::string line;
    for (const auto& word : c.Words) line += word + " ";
    EXPECT_EQ(Offered(c.Words, folder.Folder()), c.Offered) << line;
  }
}

TEST(QvrCompletion, MethodNamesComeFromTheServer) {
  TServerProcess server({"--anonymous"});
  TQvrFolder folder;
  folder.PointAt(server.Port());
  const std::string port = std::to_string(server.Port());
  std::vector<std::string> all;
  for (const rest::TRemoteMethod* method : rest::RemoteMethods()) {
    all.push_back(method->QualifiedName());
  }
  std::sort(all.begin(), all.end());
  // The server of config.ini, or of the connection options wherever they
  // stand on the line.
  EXPECT_EQ(Offered({"--config", folder.ConfigPath(), "call", ""}, folder.Folder()), all);
  const std::vector<std::string> admin = {"Admin.ClearSession", "Admin.GetPlatformName",
                                          "Admin.GetServerMethodParameters"};
  EXPECT_EQ(Offered({"--host", "127.0.0.1", "--port=" + port, "call", "Adm"}, folder.Folder()),
            admin);
  EXPECT_EQ(
      Offered({"--host", "127.0.0.1", "--port", "=", port, "call", "Admin."}, folder.Folder()),
      admin);
  EXPECT_EQ(Offered({"call", "Adm", "--host", "127.0.0.1", "--port", port}, folder.Folder(), 1),
            admin)
      << "options after the word completed";
  // After the method, an argument may be a file.
  WriteFileBytes(folder.File("datos.json"), "{}");
  EXPECT_EQ(Offered({"--host", "127.0.0.1", "--port", port, "call",
                     "TQVRServerMethods.ActualizarEmpleado", "dat"},
                    folder.Folder()),
            std::vector<std::string>{"datos.json"});

  // No server: nothing is offered, and the Tab does not hang.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Offered({"--host", "127.0.0.1", "--port", std::to_string(ClosedPort()), "call", ""},
                      folder.Folder())
                  .empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace qvr::test
