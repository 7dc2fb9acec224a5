// Starting and stopping qvr-server for tests; see ServerProcess.h.
#include "support/ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/ChildProcess.h"

extern char** environ;

namespace qvr::test {

namespace {

using TClock = std::chrono::steady_clock;

// Reads from AFd until a line ends or ADeadline passes.
std::string ReadLine(int AFd, TClock::time_point ADeadline) {
  std::string line;
  while (TClock::now() < ADeadline) {
    pollfd entry{AFd, POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - TClock::now()).count();
    if (::poll(&entry, 1, static_cast<int>(std::max<long long>(left, 1))) <= 0) continue;
    char c;
    const ssize_t n = ::read(AFd, &c, 1);
    if (n <= 0) break;  // the program ended
    if (c == '\n') return line;
    line += c;
  }
  return line;
}

}  // namespace

std::string TServerProcess::ExecutablePath() {
  if (const char* path = std::getenv("QVR_SERVER"); path != nullptr && *path != '\0') return path;
#ifdef QVR_SERVER_EXE
  return QVR_SERVER_EXE;
#else
  throw std::runtime_error("No qvr-server: set QVR_SERVER");
#endif
}

TServerProcess::TServerProcess(std::vector<std::string> AArgs, std::string ADataFolder) {
  FTemp = std::make_unique<TTempDir>();
  FDataFolder = ADataFolder.empty() ? FTemp->File("data") : std::move(ADataFolder);
  FLogFile = FTemp->File("qvr-server.log");

  std::vector<std::string> args = {ExecutablePath(), "--listen", "127.0.0.1:0", "--data",
                                   FDataFolder};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, FLogFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  const int rc = posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    FPid = -1;
    throw std::runtime_error("Cannot start " + args[0]);
  }
  // Seeding 200,000 employees takes a few seconds; under the sanitizers more.
  const std::string line = ReadLine(out[0], TClock::now() + std::chrono::seconds(60));
  ::close(out[0]);
  const std::string prefix = "Listening on 127.0.0.1:";
  if (line.rfind(prefix, 0) != 0) {
    Stop(SIGKILL);
    throw std::runtime_error("qvr-server did not start: '" + line + "'\n" + Log());
  }
  FPort = std::stoi(line.substr(prefix.size()));
}

TServerProcess::~TServerProcess() {
  if (FPid > 0) Stop(SIGTERM);
}

std::string TServerProcess::Origin() const { return "http://127.0.0.1:" + std::to_string(FPort); }

std::string TServerProcess::Log() const { return ReadFileBytes(FLogFile); }

std::string TServerProcess::SettledLog() const {
  std::string log = Log();
  for (int quiet = 0; quiet < 10;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string now = Log();
    quiet = now == log ? quiet + 1 : 0;
    log = std::move(now);
  }
  return log;
}

bool TServerProcess::Alive() const {
  if (FPid <= 0) return false;
  // Read, not reaped: Stop still collects the exit status. A process that
  // ended is a zombie ("Z") until then.
  std::ifstream stat("/proc/" + std::to_string(FPid) + "/stat");
  std::string text;
  std::getline(stat, text);
  const auto close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

std::size_t TServerProcess::PeakMemory() const {
  if (FPid <= 0) return 0;
  std::ifstream status("/proc/" + std::to_string(FPid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
  }
  return 0;
}

int TServerProcess::Stop(int ASignal) {
  if (FPid <= 0) return -1;
  const int status = StopChild(FPid, ASignal, std::chrono::seconds(30));
  FPid = -1;
  return status;
}

}  // namespace qvr::test
