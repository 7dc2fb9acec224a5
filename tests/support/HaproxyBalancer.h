// A real load balancer in front of several qvr-server instances: Debian's
// haproxy, started by the test on a free port of 127.0.0.1 with a
// configuration of its own, and stopped when the object goes. It deals the
// requests round robin, checks each instance with GET /health every 200 ms
// (two failures take an instance out, two successes bring it back), opens
// a connection to an instance per request and tries another instance when
// one refuses the connection, and tells each instance
// its own address in the Host field (the servers are named by it), since an
// instance answers only for the host and port it listens on.
//
//   if (!THaproxyBalancer::Installed()) GTEST_SKIP() << THaproxyBalancer::kMissing;
//   THaproxyBalancer balancer({first.Port(), second.Port()});
//   ... requests to 127.0.0.1:balancer.Port() ...
//   balancer.WaitUntilUp(1);   // once the other instance is gone
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/Daemon.h"
#include "support/TempDir.h"

namespace qvr::test {

class THaproxyBalancer {
 public:
  static constexpr const char* kMissing =
      "haproxy is not installed (scripts/install-deps installs it): no test behind a load "
      "balancer";
  static bool Installed();

  // Starts haproxy in front of 127.0.0.1:<port> for each of APorts and waits
  // (at most 10 s) until it accepts connections and sees every instance up.
  // Raises std::runtime_error when it does not.
  explicit THaproxyBalancer(const std::vector<int>& APorts);
  ~THaproxyBalancer();
  THaproxyBalancer(const THaproxyBalancer&) = delete;
  THaproxyBalancer& operator=(const THaproxyBalancer&) = delete;

  int Port() const { return FPort; }
  // The instances haproxy takes as up now (from its statistics socket).
  int UpCount() const;
  // Waits at most ALimit until exactly ACount instances are up; false
  // when they are not by then.
  bool WaitUntilUp(int ACount, std::chrono::milliseconds ALimit = std::chrono::seconds(10)) const;
  // What haproxy printed so far.
  std::string Log() const;

 private:
  bool Start(const std::vector<int>& APorts);
  void Stop();

  std::unique_ptr<TTempDir> FFolder;
  TDaemon FDaemon;
  int FPort = 0;
};

}  // namespace qvr::test
