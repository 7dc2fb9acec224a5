// What the server answers an admitted request: a remote call under the REST
// base (/rpc/rest/Class/Method/segments.../), run by the remote methods and,
// in cache mode (Accept "application/rest"), kept in the cache area; or a
// request about cached results under the cache base (/rpc/cache/...).
// Every answer carries the session in its Pragma field, but that of a call
// that ended its session (Admin.ClearSession), which carries none.
#pragma once

#include <string>
#include <string_view>

#include "server/CacheArea.h"
#include "server/HttpMessage.h"
#include "server/MemoryBudget.h"
#include "server/ServerMethods.h"
#include "server/Sessions.h"

namespace qvr::server {

// The REST and cache bases as a client with the default contexts names them.
const std::string& RestBase();
const std::string& CacheBase();

class TRoutes {
 public:
  TRoutes(TQVRServerMethods& AMethods, TCacheArea& ACache, TMemoryBudget& AMemory,
          TSessionStore& ASessions);

  // Whether APath is under one of the two bases (anything else is 404
  // before admission).
  static bool Serves(std::string_view APath);

  // The answer to ARequest, admitted for AContext. Refusals of the methods
  // and the cache area become their status with an "error" member; any
  // other failure is 500.
  THttpAnswer Serve(const THttpRequest& ARequest, TRequestContext& AContext);

 private:
  THttpAnswer RemoteCall(const THttpRequest& ARequest, TRequestContext& AContext,
                         std::string_view ARaw);
  THttpAnswer CacheRequest(const THttpRequest& ARequest, TRequestContext& AContext,
                           std::string_view ARaw);

  TQVRServerMethods& FMethods;
  TCacheArea& FCache;
  TMemoryBudget& FMemory;
  TSessionStore& FSessions;
};

}  // namespace qvr::server
