// Debian's tinyproxy as the tests' real forward proxy; see TinyProxy.h.
#include "support/TinyProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/ChildProcess.h"
#include "support/HttpTestServers.h"

extern char** environ;

namespace qvr::test {

namespace {

using TClock = std::chrono::steady_clock;

std::string ProgramPath() {
  std::vector<std::string> folders = {"/usr/bin", "/usr/sbin"};
  if (const char* path = std::getenv("PATH")) {
    std::stringstream list(path);
    for (std::string folder; std::getline(list, folder, ':');) {
      if (!folder.empty()) folders.push_back(folder);
    }
  }
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/tinyproxy";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

bool Accepts(int APort) {
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

}  // namespace

bool TTinyProxy::Installed() { return !ProgramPath().empty(); }

TTinyProxy::TTinyProxy(const std::string& AUserName, const std::string& APassword)
    : FUserName(AUserName), FPassword(APassword), FFolder(std::make_unique<TTempDir>()) {
  // A free port can be taken by someone else before the proxy binds it: try a
  // few.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (Start()) return;
  }
  throw std::runtime_error("tinyproxy did not start:\n" + ReadFileBytes(FFolder->File("log")));
}

TTinyProxy::~TTinyProxy() { Stop(); }

bool TTinyProxy::Start() {
  FPort = ClosedPort();
  std::string config = "Port " + std::to_string(FPort) +
                       "\nListen 127.0.0.1\nTimeout 30\nMaxClients 50\nLogLevel Connect\n"
                       "LogFile \"" +
                       FFolder->File("log") + "\"\n";
  if (!FUserName.empty()) config += "BasicAuth " + FUserName + " " + FPassword + "\n";
  WriteFileBytes(FFolder->File("tinyproxy.conf"), config);

  std::string program = ProgramPath();
  if (program.empty()) throw std::runtime_error(kMissing);
  std::string foreground = "-d";
  std::string option = "-c";
  std::string file = FFolder->File("tinyproxy.conf");
  char* argv[] = {program.data(), foreground.data(), option.data(), file.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string output = FFolder->File("output");
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const int rc = posix_spawn(&FPid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    FPid = -1;
    throw std::runtime_error("Cannot start " + program);
  }
  const auto deadline = TClock::now() + std::chrono::seconds(10);
  while (TClock::now() < deadline) {
    if (Accepts(FPort)) return true;
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) == FPid) {
      FPid = -1;  // ended: most likely the port was taken
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
  return false;
}

void TTinyProxy::Stop() {
  if (FPid <= 0) return;
  StopChild(FPid, SIGTERM, std::chrono::seconds(10));
  FPid = -1;
}

std::vector<std::string> TTinyProxy::Requests() const {
  // "CONNECT   Dec 10 09:29:19.981 [24623]: Request (file descriptor 5): CONNECT 127.0.0.1:1
  // HTTP/1.1"
  std::vector<std::string> requests;
  std::stringstream log(ReadFileBytes(FFolder->File("log")));
  const std::string marker = "): ";
  for (std::string line; std::getline(log, line);) {
    const auto request = line.find("Request (file descriptor ");
    if (request == std::string::npos) continue;
    const auto start = line.find(marker, request);
    if (start != std::string::npos) requests.push_back(line.substr(start + marker.size()));
  }
  return requests;
}

}  // namespace qvr::test
