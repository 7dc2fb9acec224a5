// The real qvr-server program, started by a test on an ephemeral port of
// 127.0.0.1 with a data folder of its own (a temporary one unless the test
// names one), and stopped with SIGTERM when the object goes.
//
//   TServerProcess server({"--anonymous"});
//   connection.SetHost("127.0.0.1");
//   connection.SetPort(server.Port());
//   ... calls ...
//   EXPECT_EQ(server.Stop(), 0);   // optional: the exit status
//
// The program is the one this build made (QVR_SERVER_EXE), or the file the
// environment variable QVR_SERVER names. Its standard error (one log line per
// request) goes to a file that Log() reads.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace qvr::test {

class TServerProcess {
 public:
  // Starts qvr-server --listen 127.0.0.1:0 --data <folder> <AArgs...> and
  // waits (at most 60 s) for the line it prints once it listens. ADataFolder
  // empty: a new temporary folder, removed with the object. Raises
  // std::runtime_error when the program does not start or prints no address.
  explicit TServerProcess(std::vector<std::string> AArgs = {}, std::string ADataFolder = {});
  ~TServerProcess();
  TServerProcess(const TServerProcess&) = delete;
  TServerProcess& operator=(const TServerProcess&) = delete;

  int Port() const { return FPort; }
  // "http://127.0.0.1:<port>".
  std::string Origin() const;
  const std::string& DataFolder() const { return FDataFolder; }
  // The database file in the data folder.
  std::string DatabasePath() const { return FDataFolder + "/qvr-server.db"; }
  // What the program wrote to standard error so far.
  std::string Log() const;
  // The log once no line has come for a tenth of a second: a request's
  // line is written after its answer, so the lines of the requests a
  // client has seen answered are then in.
  std::string SettledLog() const;

  // Sends ASignal and waits (at most 30 s, then SIGKILL) for the program to
  // end. Returns its exit status, or 128 + the signal that ended it.
  int Stop(int ASignal = SIGTERM);
  bool Running() const { return FPid > 0; }
  // Whether the program still runs (has not exited on its own).
  bool Alive() const;
  // Its peak resident memory so far (VmHWM), in bytes; 0 when it is gone.
  std::size_t PeakMemory() const;

  static std::string ExecutablePath();

 private:
  std::unique_ptr<TTempDir> FTemp;
  std::string FDataFolder;
  std::string FLogFile;
  pid_t FPid = -1;
  int FPort = 0;
};

}  // namespace qvr::test
