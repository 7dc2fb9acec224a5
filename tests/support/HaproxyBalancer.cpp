// Debian's haproxy as the tests' load balancer; see HaproxyBalancer.h.
#include "support/HaproxyBalancer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
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
  for (const char* candidate : {"/usr/sbin/haproxy", "/usr/bin/haproxy"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
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

// ACommand's answer on haproxy's statistics socket APath.
std::string AskSocket(const std::string& APath, const std::string& ACommand) {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return {};
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, APath.c_str(), sizeof(addr.sun_path) - 1);
  std::string answer;
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      ::write(s, ACommand.data(), ACommand.size()) == static_cast<ssize_t>(ACommand.size())) {
    char buffer[4096];
    for (ssize_t n; (n = ::read(s, buffer, sizeof buffer)) > 0;) {
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(s);
  return answer;
}

}  // namespace

bool THaproxyBalancer::Installed() { return !ProgramPath().empty(); }

THaproxyBalancer::THaproxyBalancer(const std::vector<int>& APorts)
    : FFolder(std::make_unique<TTempDir>()) {
  // A free port can be taken by someone else before haproxy binds it: try
  // a few.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (Start(APorts)) return;
  }
  throw std::runtime_error("haproxy did not start:\n" + Log());
}

THaproxyBalancer::~THaproxyBalancer() { Stop(); }

bool THaproxyBalancer::Start(const std::vector<int>& APorts) {
  FPort = ClosedPort();
  std::string config =
      "global\n"
      "  maxconn 2000\n"
      "  stats socket " +
      FFolder->File("admin.sock") +
      " mode 600 level admin\n"
      "defaults\n"
      "  mode http\n"
      "  timeout connect 2s\n"
      "  timeout client 60s\n"
      "  timeout server 60s\n"
      // A refused connection (an instance gone) is tried again on another
      // instance; a request already sent is never sent twice.
      "  retries 3\n"
      "  option redispatch 1\n"
      // A connection to an instance per request: none is kept idle to an
      // instance that may be gone by its next use.
      "  option http-server-close\n"
      "frontend qvr\n"
      "  bind 127.0.0.1:" +
      std::to_string(FPort) +
      "\n"
      "  default_backend instances\n"
      "backend instances\n"
      "  balance roundrobin\n"
      "  option httpchk GET /health\n"
      "  http-check expect status 200\n"
      // Each instance answers only for its own address: the servers are
      // named by it, and the name goes in the Host field.
      "  http-send-name-header Host\n"
      "  default-server inter 200ms fall 2 rise 2\n";
  for (const int port : APorts) {
    const std::string address = "127.0.0.1:" + std::to_string(port);
    config += "  server " + address + " " + address + " check\n";
  }
  WriteFileBytes(FFolder->File("haproxy.cfg"), config);

  std::string program = ProgramPath();
  if (program.empty()) throw std::runtime_error(kMissing);
  std::string foreground = "-db";
  std::string option = "-f";
  std::string file = FFolder->File("haproxy.cfg");
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
    if (Accepts(FPort)) {
      if (WaitUntilUp(static_cast<int>(APorts.size()))) return true;
      break;
    }
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

void THaproxyBalancer::Stop() {
  if (FPid <= 0) return;
  // SIGUSR1 is haproxy's graceful stop; SIGTERM its immediate one.
  StopChild(FPid, SIGTERM, std::chrono::seconds(10));
  FPid = -1;
}

int THaproxyBalancer::UpCount() const {
  // "show stat": CSV, a line per proxy and server; column 18 is the status.
  std::stringstream lines(AskSocket(FFolder->File("admin.sock"), "show stat\n"));
  int up = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("instances,") || line.starts_with("instances,BACKEND")) continue;
    std::stringstream cells(line);
    std::string cell;
    for (int column = 0; column <= 17 && std::getline(cells, cell, ','); ++column) {
    }
    if (cell == "UP") ++up;
  }
  return up;
}

bool THaproxyBalancer::WaitUntilUp(int ACount, std::chrono::milliseconds ALimit) const {
  const auto deadline = TClock::now() + ALimit;
  while (TClock::now() < deadline) {
    if (UpCount() == ACount) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string THaproxyBalancer::Log() const { return ReadFileBytes(FFolder->File("output")); }

}  // namespace qvr::test
