// Debian's tinyproxy as the tests' real forward proxy; see TinyProxy.h.
#include "support/TinyProxy.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/HttpTestServers.h"

namespace qvr::test {

namespace {

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

  const std::string program = ProgramPath();
  if (program.empty()) throw std::runtime_error(kMissing);
  return FDaemon.Start(program, {"-d", "-c", FFolder->File("tinyproxy.conf")}, {},
                       FFolder->File("output"), FPort, std::chrono::seconds(10));
}

void TTinyProxy::Stop() { FDaemon.Stop(); }

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
