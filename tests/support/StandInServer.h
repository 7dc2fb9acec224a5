// A stand-in for the attendance server in tests: a real HTTP server on
// 127.0.0.1 (an ephemeral port) that records every request it receives and
// answers what the test scripted. Answers are looked up in this order: the
// next queued one-shot answer, a fixed answer for the method and path, the
// test's handler, and finally the default answer (200 with {"result":[]}).
//
//   TStandInServer server;
//   server.Enqueue(ResultAnswer("\"olleh\"").WithSessionID("S1"));
//   connection.SetPort(server.Port());
//   ... make the call ...
//   EXPECT_EQ(server.LastRequest().Header("Pragma"), "");
//
// Destroy the clients that talk to it before the server (declare the server
// first): a client that keeps its connection open makes the server's
// shutdown wait for the keep-alive time-out.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvr::test {

using THeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the server received it.
struct TRecordedRequest {
  std::string Method;
  // The request target exactly as sent (path and query, not decoded).
  std::string Target;
  // The path part of Target, percent-decoded.
  std::string Path;
  std::string Version;
  // Every header line received, names as sent (grouped by name; lines of
  // the same name keep their order).
  THeaderList Headers;
  std::string Body;

  bool HasHeader(std::string_view AName) const;
  // The value of the first header of that name (compared without regard to
  // case), or "" when there is none.
  std::string Header(std::string_view AName) const;
  std::size_t HeaderCount(std::string_view AName) const;
};

// What the server answers to one request.
struct TStandInAnswer {
  int Status = 200;
  std::string Body;
  // Sent as the Content-Type header. When empty, cpp-httplib itself sends
  // "text/plain" with a non-empty body and nothing with an empty one; neither
  // names a charset.
  std::string ContentType = "application/json";
  // Further header lines, in order; a name may repeat.
  THeaderList Headers;
  // Time the server waits before answering (for time-out tests).
  std::chrono::milliseconds Delay{0};

  TStandInAnswer& WithHeader(std::string AName, std::string AValue);
  // Adds "Pragma: <AValue>".
  TStandInAnswer& WithPragma(std::string AValue);
  // Adds "Pragma: sessionid=<AId>" and, when given, "," and further directives.
  TStandInAnswer& WithSessionID(const std::string& AId, const std::string& AMore = {});
  TStandInAnswer& WithContentType(std::string AValue);
  TStandInAnswer& WithDelay(std::chrono::milliseconds AValue);
};

// AText as a JSON string literal (quotes and escapes included), for building
// bodies: ResultAnswer(JsonString("a\"b")).
std::string JsonString(std::string_view AText);
// 200 with {"result":[<AElements>]}; AElements is JSON text, e.g. "\"x\",true".
TStandInAnswer ResultAnswer(const std::string& AElements = {});
// AStatus with ABody as application/json.
TStandInAnswer JsonAnswer(int AStatus, std::string ABody);
// AStatus with {"error":"<AMessage>"}.
TStandInAnswer ErrorAnswer(int AStatus, const std::string& AMessage);
// 403 with {"SessionExpired":"<AMessage>"}.
TStandInAnswer SessionExpiredAnswer(const std::string& AMessage);
// AStatus with a Location header and no body.
TStandInAnswer RedirectAnswer(int AStatus, std::string ALocation);
// AStatus with no body and no Content-Type (e.g. 204).
TStandInAnswer EmptyAnswer(int AStatus);
// AStatus with the raw bytes ABody and the given Content-Type (empty: see
// TStandInAnswer::ContentType).
TStandInAnswer BytesAnswer(int AStatus, std::string ABody, std::string AContentType);

class TStandInServer {
 public:
  using THandler = std::function<TStandInAnswer(const TRecordedRequest&)>;

  // Listening on 127.0.0.1 when the constructor returns.
  TStandInServer();
  ~TStandInServer();
  TStandInServer(const TStandInServer&) = delete;
  TStandInServer& operator=(const TStandInServer&) = delete;

  int Port() const { return FPort; }
  // "http://127.0.0.1:<port>".
  std::string Origin() const;

  // The answer to the next request that arrives (queued answers go in order).
  void Enqueue(TStandInAnswer AAnswer);
  // The answer to every request with this method and decoded path.
  void On(std::string AMethod, std::string APath, TStandInAnswer AAnswer);
  // Computes answers that neither the queue nor a fixed answer gives.
  void SetHandler(THandler AHandler);
  void SetDefaultAnswer(TStandInAnswer AAnswer);
  // Forgets the scripts and the recorded requests.
  void Reset();
  // Whether requests are recorded (on by default); benchmarks switch it off
  // so that memory stays flat over many thousand requests.
  void SetRecording(bool AValue);

  std::vector<TRecordedRequest> Requests() const;
  std::size_t RequestCount() const;
  // The last request received; a failed expectation and an empty record when
  // there is none.
  TRecordedRequest LastRequest() const;
  void ClearRequests();

 private:
  struct TState;
  std::unique_ptr<TState> FState;
  int FPort = 0;
};

}  // namespace qvr::test
