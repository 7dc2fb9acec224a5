// Debian's haproxy as the tests' load balancer; see HaproxyBalancer.h.
#include "support/HaproxyBalancer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/HttpTestServers.h"

namespace qvr::test {

namespace {

using TClock = std::chrono::steady_clock;

std::string ProgramPath() {
  for (const char* candidate : {"/usr/sbin/haproxy", "/usr/bin/haproxy"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  return {};
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

  const std::string program = ProgramPath();
  if (program.empty()) throw std::runtime_error(kMissing);
  if (!FDaemon.Start(program, {"-db", "-f", FFolder->File("haproxy.cfg")}, {},
                     FFolder->File("output"), FPort, std::chrono::seconds(10))) {
    return false;
  }
  if (WaitUntilUp(static_cast<int>(APorts.size()))) return true;
  Stop();
  return false;
}

// SIGTERM is haproxy's immediate stop (SIGUSR1 its graceful one).
void THaproxyBalancer::Stop() { FDaemon.Stop(); }

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
