// The HTTP front of the attendance server: the listening socket, the request
// threads, the size limits, authentication, sessions, the routing of remote
// calls (REST base /rpc/rest/) and of the cache area (cache base
// /rpc/cache/), the answer forms and one log line per request on stderr.
#pragma once

#include <memory>

#include "server/AttendanceStore.h"
#include "server/ServerOptions.h"

namespace qvr::server {

class TAttendanceServer {
 public:
  // Request targets longer than this are refused with 414, header
  // sets beyond these with 431.
  static constexpr std::size_t kMaxTarget = 4096;
  static constexpr std::size_t kMaxHeaderCount = 64;
  static constexpr std::size_t kMaxHeaderBytes = 16384;

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
