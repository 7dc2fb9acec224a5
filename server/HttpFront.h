// The HTTP front of the attendance server: the listening socket (plain or
// TLS), the connections read asynchronously on a few I/O threads with every
// bound of TFrontLimits in force, the worker threads that run the remote
// methods, admission (Host, Origin, credentials, session), the routing of
// remote calls (REST base /rpc/rest/) and of the cache area (cache base
// /rpc/cache/), and one log line per request on stderr.
#pragma once

#include <memory>

#include "server/AttendanceStore.h"
#include "server/ServerOptions.h"

namespace qvr::server {

class TAttendanceServer {
 public:
  TAttendanceServer(const TServerOptions& AOptions, TAttendanceStore& AStore);
  ~TAttendanceServer();
  TAttendanceServer(const TAttendanceServer&) = delete;
  TAttendanceServer& operator=(const TAttendanceServer&) = delete;

  // Binds the listening socket at the options' address and returns the port
  // (the one the system chose for port 0). Raises Exception when it cannot.
  int Bind();
  // Serves until Stop, then returns once every request in flight has been
  // answered.
  void Run();
  // Ends Run; callable from any thread, also before Run has begun.
  void Stop();

 private:
  class TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace qvr::server
