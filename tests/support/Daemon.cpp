// Daemons of the test bed as children of the test; see Daemon.h.
#include "support/Daemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "support/ChildProcess.h"

extern char** environ;

namespace qvr::test {

bool PortAccepts(int APort) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(APort));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  ::close(s);
  return ok;
}

std::string FindProgram(const std::string& AName, const std::vector<std::string>& AFolders) {
  for (const std::string& folder : AFolders) {
    const std::string candidate = folder + "/" + AName;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

bool TDaemon::Start(const std::string& AProgram, const std::vector<std::string>& AArgs,
                    const std::vector<std::string>& AEnvironment, const std::string& AOutputFile,
                    int APort, std::chrono::seconds ALimit) {
  Stop();
  std::vector<std::string> args{AProgram};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // The test's environment with AEnvironment's entries in place of those of
  // the same name.
  std::vector<std::string> entries(AEnvironment.begin(), AEnvironment.end());
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& own : AEnvironment) replaced = replaced || own.starts_with(name);
    if (!replaced) entries.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, AOutputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int rc = posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    FPid = -1;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + ALimit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (PortAccepts(APort)) return true;
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) == FPid) {
      FPid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop();
  return false;
}

void TDaemon::Stop() {
  if (FPid <= 0) return;
  StopChild(FPid, SIGTERM, std::chrono::seconds(10));
  FPid = -1;
}

}  // namespace qvr::test
