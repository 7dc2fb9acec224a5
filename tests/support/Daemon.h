// A daemon of the test bed (a KDC, a web server, a proxy) run by a test in
// the foreground as its child: started with its arguments and extra
// environment, its output kept in a file, ready once it accepts connections
// on a port of 127.0.0.1, and stopped with SIGTERM (SIGKILL after a grace
// period) when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace qvr::test {

class TDaemon {
 public:
  TDaemon() = default;
  ~TDaemon() { Stop(); }
  TDaemon(const TDaemon&) = delete;
  TDaemon& operator=(const TDaemon&) = delete;

  // Starts AProgram with AArgs, the test's environment plus AEnvironment
  // ("NAME=value" entries, replacing variables of the same name), standard
  // output and error into AOutputFile, and waits (at most ALimit) until
  // 127.0.0.1:APort accepts a connection. False when the program ended
  // before that (a port taken meanwhile, say) or the limit passed (it is
  // stopped then).
  bool Start(const std::string& AProgram, const std::vector<std::string>& AArgs,
             const std::vector<std::string>& AEnvironment, const std::string& AOutputFile,
             int APort, std::chrono::seconds ALimit = std::chrono::seconds(20));
  // Sends SIGTERM and waits for the end (SIGKILL after 10 s); nothing when
  // not running.
  void Stop();
  bool Running() const { return FPid > 0; }

 private:
  pid_t FPid = -1;
};

// Whether something accepts TCP connections on 127.0.0.1:APort.
bool PortAccepts(int APort);

// The first of AFolders holding an executable AName ("" when none does), for
// the sbin programs that an ordinary user's PATH lacks.
std::string FindProgram(const std::string& AName, const std::vector<std::string>& AFolders = {
                                                      "/usr/sbin", "/usr/bin", "/sbin", "/bin"});

}  // namespace qvr::test
