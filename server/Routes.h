// What the server answers an admitted request: a remote call under the REST
// base (/rpc/rest/Class/Method/segments.../), run by the remote methods and,
// in cache mode (Accept "application/rest"), kept in the cache area; or a
// request about cached results under the cache base (/rpc/cache/...).
// Every answer carries the session in its Pragma field, but that of a call
// that ended its session (Admin.ClearSession), which carries none. Besides,
// the health check GET /health, answered without credentials or session: 200
// while the store answers, 503 while it does not (what a load balancer in
// front of several instances asks).
#pragma once

#include <string>
#include <string_view>

#include "server/AttendanceStore.h"
#include "server/CacheArea.h"
#include "server/HttpMessage.h"
#include "server/MemoryBudget.h"
#include "server/ServerMethods.h"
#include "server/Sessions.h"

namespace qvr::server {

// The REST and cache bases as a client with the default contexts names them.
const std::string& RestBase();
const std::string& CacheBase();
// The health check's path, "/health".
const std::string& HealthPath();

class TRoutes {
 public:
  TRoutes(TQVRServerMethods& AMethods, TCacheArea& ACache, TMemoryBudget& AMemory,
          TAttendanceStore& AStore, TSessionStore& ASessions);

  // Whether APath is under one of the two bases or the health check
  // (anything else is 404 before admission).
  static bool Serves(std::string_view APath);
  // Whether ARequest must pass admission (credentials, session) before
  // Serve: everything but the health check.
  static bool NeedsAdmission(const THttpRequest& ARequest);
  // Whether ARequest is a remote call of a quick method (see
  // TQVRServerMethods::Quick) without a body, which the front may answer on
  // its I/O thread.
  bool IsQuick(const THttpRequest& ARequest) const;

  // The answer to ARequest, admitted for AContext. Refusals of the methods
  // and the cache area become their status with an "error" member; any
  // other failure is 500.
  THttpAnswer Serve(const THttpRequest& ARequest, TRequestContext& AContext);

 private:
  THttpAnswer RemoteCall(const THttpRequest& ARequest, TRequestContext& AContext,
                         std::string_view ARaw);
  THttpAnswer CacheRequest(const THttpRequest& ARequest, TRequestContext& AContext,
                           std::string_view ARaw);
  THttpAnswer Health(const THttpRequest& ARequest);

  TQVRServerMethods& FMethods;
  TCacheArea& FCache;
  TMemoryBudget& FMemory;
  TAttendanceStore& FStore;
  TSessionStore& FSessions;
};

}  // namespace qvr::server
