// The server's own view of one HTTP exchange, free of the HTTP library: the
// request as the front read it (within its bounds), the answer the server
// gives, and the per-request context that the front's parts hand along (who
// calls, from where, in which session, since when) instead of keeping it in
// thread-local state.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvr::server {

using TFrontClock = std::chrono::steady_clock;

struct THttpRequest {
  // The verb as sent ("GET"), the raw request target and the version (10 or 11).
  std::string Method;
  std::string Target;
  unsigned Version = 11;
  // The header fields in the order they came.
  std::vector<std::pair<std::string, std::string>> Fields;
  std::string Body;
  bool KeepAlive = true;

  // The value of the field AName (without regard to case): the last of
  // several; null when there is none.
  const std::string* Field(std::string_view AName) const;
  // How many fields named AName the request holds.
  std::size_t FieldCount(std::string_view AName) const;
  // The target up to a "?".
  std::string_view Path() const;
};

struct THttpAnswer {
  int Status = 200;
  // Fields besides Content-Length, Date and Connection, which the front sets.
  std::vector<std::pair<std::string, std::string>> Fields;
  // Shared, so that a cached list of megabytes goes out without a copy.
  std::shared_ptr<const std::string> Body;
  // The connection ends after this answer (the front also ends it when the
  // request asked for that).
  bool Close = false;

  void SetField(std::string AName, std::string AValue);
};

// What the front's parts learn of one request as it passes through them.
struct TRequestContext {
  std::string RemoteAddress;
  bool Tls = false;
  // When the first byte of the request arrived.
  TFrontClock::time_point Start = TFrontClock::now();
  // The authenticated user ("" for an anonymous call) and the session the
  // request runs in, once admission settled them.
  std::string UserName;
  std::string Session;
  // Fields that admission adds to every answer to the request (the server's
  // Negotiate token, which authenticates it to the client).
  std::vector<std::pair<std::string, std::string>> AnswerFields;
};

}  // namespace qvr::server
