// A real forward proxy for the HTTP tests: Debian's tinyproxy, started by the
// test on a free port of 127.0.0.1 with a configuration of its own (optionally
// with Basic proxy authentication), and stopped with SIGTERM when the object
// goes. It forwards plain requests and opens CONNECT tunnels to any port, as
// an ordinary proxy of an office network does.
//
//   if (!test::TTinyProxy::Installed()) GTEST_SKIP() << test::TTinyProxy::kMissing;
//   test::TTinyProxy proxy("pu", "pp");
//   ... requests through 127.0.0.1:proxy.Port() ...
//   EXPECT_THAT(proxy.Requests(), Contains("CONNECT 127.0.0.1:443 HTTP/1.1"));
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/Daemon.h"
#include "support/TempDir.h"

namespace qvr::test {

class TTinyProxy {
 public:
  static constexpr const char* kMissing =
      "tinyproxy is not installed (scripts/install-deps installs it): no test through a real "
      "forward proxy";
  // Whether the tinyproxy program is there (/usr/bin or /usr/sbin, or on PATH).
  static bool Installed();

  // Starts tinyproxy and waits (at most 10 s) until it accepts connections.
  // With a user name, every request must carry those Basic credentials.
  // Raises std::runtime_error when it does not start.
  explicit TTinyProxy(const std::string& AUserName = "", const std::string& APassword = "");
  ~TTinyProxy();
  TTinyProxy(const TTinyProxy&) = delete;
  TTinyProxy& operator=(const TTinyProxy&) = delete;

  int Port() const { return FPort; }
  // The request lines the proxy logged so far, in order ("CONNECT host:port
  // HTTP/1.1", "GET http://... HTTP/1.1").
  std::vector<std::string> Requests() const;

 private:
  bool Start();
  void Stop();

  std::string FUserName;
  std::string FPassword;
  std::unique_ptr<TTempDir> FFolder;
  TDaemon FDaemon;
  int FPort = 0;
};

}  // namespace qvr::test
