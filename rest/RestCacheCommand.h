// One request to the server's cache area, where results executed in cache
// mode stay. The item path that the server answered names the cached value
// (the parameter path); everything before its last "/" names the cached
// command that the value belongs to (the command path). A TRestCacheCommand
// serves one operation of a cached item and goes with it.
//
// Requests to the cache area go through the connection's session-carrying
// exchange, but outside the command execution frame: no before, login or
// after step. A refused request leaves the connection's session id as it was.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Streams.h"
#include "rest/RestConnection.h"
#include "rest/json/JSONValues.h"

namespace qvr::rest {

// Receives the body of a cache answer and the charset the answer named
// (empty when none). AFreeStream starts false. A consumer that keeps the
// body beyond the call moves it out of AStream; whatever it leaves there is
// released with the response, so a body can never be leaked (setting
// AFreeStream to true says that the consumer is done with it).
using TRestResponseStreamProc = std::function<void(
    std::unique_ptr<TStream>& AStream, const std::string& AResponseCharSet, bool& AFreeStream)>;

class TRestCacheCommand {
 public:
  // AConnection must outlive the cache command; ParameterPath is empty.
  explicit TRestCacheCommand(TCustomRestConnection& AConnection) : FConnection(&AConnection) {}
  TRestCacheCommand(const TRestCacheCommand&) = delete;
  TRestCacheCommand& operator=(const TRestCacheCommand&) = delete;

  // The item path, used as the server gave it: never built, encoded or checked.
  const std::string& ParameterPath() const noexcept { return FParameterPath; }
  void SetParameterPath(std::string AValue) { FParameterPath = std::move(AValue); }
  TCustomRestConnection& Connection() const noexcept { return *FConnection; }
  // ParameterPath up to, not including, its last "/"; empty when it holds no
  // "/" or its only "/" is its first character.
  std::string CommandPath() const;

  // GET of the cache base followed by ParameterPath and the filter; the body
  // goes to AResponseStreamProc. Raises TRestException "Missing parameter
  // path" before anything is sent when ParameterPath is empty, and what the
  // exchange raises.
  void GetParameter(const TRestResponseStreamProc& AResponseStreamProc,
                    const std::string& ARequestFilter = {});
  // The same, answering the value of the answer's "result" member (any kind
  // of JSON value), or null when the answer has no body, is no JSON, or is
  // no object with a "result". The caller owns it.
  std::unique_ptr<TJSONValue> GetParameter(const std::string& ARequestFilter = {});
  // GET of the cache base followed by CommandPath, without a filter. Raises
  // TRestException "Missing command path" before anything is sent when
  // CommandPath is empty.
  void GetCommand(const TRestResponseStreamProc& AResponseStreamProc);
  // The same, answering the answer's "result" when it is a JSON object, or
  // null. The caller owns it whatever AOwnsObject says (the cached item
  // decides who keeps it).
  std::unique_ptr<TJSONObject> GetCommand(bool AOwnsObject);
  // DELETE of the cache base followed by CommandPath; nothing beyond the
  // status is read. Raises "Missing command path" as GetCommand does.
  void DeleteCommand();

 private:
  void CacheRequest(const std::string& AVerb, const std::string& APath,
                    const TRestResponseStreamProc* AResponseStreamProc,
                    const std::string& ARequestFilter);

  std::string FParameterPath;
  TCustomRestConnection* FConnection;
};

}  // namespace qvr::rest
