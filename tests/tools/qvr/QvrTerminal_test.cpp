// qvr in a real terminal (a tmux pane): what a person sees of a table laid
// out for the terminal, and of the progress line of a long transfer on
// standard error, with the table itself still whole on standard output.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/ServerProcess.h"
#include "tools/qvr/QvrRun.h"

namespace qvr::test {
namespace {

using TClock = std::chrono::steady_clock;

// A tmux server of the test's own (its socket in a temporary folder), with
// one detached session of a fixed size running one shell command.
class TTmux {
 public:
  TTmux(const std::string& ACommand, int AWidth, int AHeight) {
    FSocket = FDir.File("tmux.sock");
    const TProgramResult r = Tmux({"new-session", "-d", "-s", "qvr", "-x", std::to_string(AWidth),
                                   "-y", std::to_string(AHeight), ACommand});
    EXPECT_EQ(r.Status, 0) << "tmux did not start: " << r.Err;
  }
  ~TTmux() { Tmux({"kill-server"}); }
  TTmux(const TTmux&) = delete;
  TTmux& operator=(const TTmux&) = delete;

  // The pane's text once it shows AMark (at most 60 s), or what it showed
  // by then.
  std::string WaitFor(const std::string& AMark) {
    const auto deadline = TClock::now() + std::chrono::seconds(60);
    std::string screen;
    while (TClock::now() < deadline) {
      screen = Tmux({"capture-pane", "-p", "-t", "qvr"}).Out;
      if (screen.find(AMark) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return screen;
  }

 private:
  TProgramResult Tmux(std::vector<std::string> AArgs) {
    AArgs.insert(AArgs.begin(), {"-S", FSocket, "-f", "/dev/null"});
    TProgramOptions options;
    // The pane's command runs through SHELL, else the account's login shell,
    // which is no shell at all for the unprivileged user of the as-user run.
    options.Environment = {"TERM=xterm-256color", "SHELL=/bin/sh"};
    options.Limit = std::chrono::milliseconds(20000);
    return RunProgram("/usr/bin/tmux", AArgs, options);
  }

  TTempDir FDir;
  std::string FSocket;
};

// Characters (UTF-8 code points) before byte APos of ALine: the column a
// person sees it in.
std::size_t Column(const std::string& ALine, std::size_t APos) {
  std::size_t column = 0;
  for (std::size_t i = 0; i < APos && i < ALine.size(); ++i) {
    if ((static_cast<unsigned char>(ALine[i]) & 0xC0) != 0x80) ++column;
  }
  return column;
}

// The columns where the runs of dashes of a rule line start and end.
std::vector<std::pair<std::size_t, std::size_t>> Runs(const std::string& ARule) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (std::size_t i = 0; i < ARule.size();) {
    if (ARule[i] != '-') {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < ARule.size() && ARule[i] == '-') ++i;
    runs.emplace_back(start, i);
  }
  return runs;
}

TEST(QvrTerminalTest, TablesAreAlignedAndLongTransfersShowTheirProgress) {
  // About 2 MB of staff, so that the answer shows its progress.
  TServerProcess server({"--seed-employees", "40000"});
  TQvrFolder folder;
  folder.PointAt(server.Port());
  const std::string qvr = QvrPath() + " --config " + folder.ConfigPath();
  const std::string out = folder.File("personal.txt");
  TTmux tmux(
      qvr + " relojes; " + qvr + " personal --completo > " + out + "; echo QVR-DONE; sleep 60", 180,
      50);
  const std::string screen = tmux.WaitFor("QVR-DONE");
  ASSERT_NE(screen.find("QVR-DONE"), std::string::npos) << screen;
  const auto lines = Lines(screen);

  // The table: its name, the header, the rule, the seven clocks.
  std::size_t at = 0;
  while (at < lines.size() && lines[at] != "Relojes: 7 rows") ++at;
  ASSERT_LT(at + 10, lines.size()) << screen;
  const std::string& header = lines[at + 1];
  const std::string& rule = lines[at + 2];
  const auto runs = Runs(rule);
  ASSERT_EQ(runs.size(), 4u) << rule;
  const char* const kNames[] = {"IDReloj", "Nombre", "Ubicacion", "IDEmpresa"};
  for (std::size_t c = 0; c < runs.size(); ++c) {
    // Each name starts its column; the rule has two blanks between columns.
    EXPECT_EQ(header.find(kNames[c]), runs[c].first) << header;
    if (c > 0) {
      EXPECT_EQ(runs[c].first, runs[c - 1].second + 2) << rule;
    }
  }
  for (std::size_t r = at + 3; r < at + 10; ++r) {
    const std::string& row = lines[r];
    // Numbers end at the end of their column, texts start at its start.
    const std::size_t idEnd = row.find_first_of(' ', row.find_first_not_of(' '));
    EXPECT_EQ(Column(row, idEnd), runs[0].second) << row;
    const std::size_t name = row.find_first_not_of(' ', idEnd);
    EXPECT_EQ(Column(row, name), runs[1].first) << row;
    EXPECT_EQ(Column(row, row.size()), runs[3].second) << row;
    EXPECT_LE(Column(row, row.size()), 180u) << "fits the terminal: " << row;
  }

  // The progress line ends as a summary of its own, and nothing of it
  // reaches the table on standard output.
  std::size_t summaries = 0;
  for (const auto& line : lines) {
    if (Like(line, "Received #.# MB in #.# s, #* MB/s") ||
        Like(line, "Received #.# MB in #.# s, # kB/s")) {
      ++summaries;
    }
  }
  EXPECT_EQ(summaries, 1u) << screen;
  const std::string table = ReadFileBytes(out);
  EXPECT_TRUE(table.starts_with("Personal: 40000 rows\nCodigo  Nombre")) << table.substr(0, 80);
  EXPECT_EQ(table.find('\r'), std::string::npos);
  EXPECT_EQ(table.find("Received"), std::string::npos);
}

}  // namespace
}  // namespace qvr::test
