// The attendance-server stand-in for tests; see StandInServer.h.
#include "support/StandInServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "support/HttpTestServers.h"

namespace qvr::test {

namespace {

bool SameName(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(A[i]) != lower(B[i])) return false;
  }
  return true;
}

}  // namespace

bool TRecordedRequest::HasHeader(std::string_view AName) const { return HeaderCount(AName) > 0; }

std::string TRecordedRequest::Header(std::string_view AName) const {
  for (const auto& [name, value] : Headers)
    if (SameName(name, AName)) return value;
  return {};
}

std::size_t TRecordedRequest::HeaderCount(std::string_view AName) const {
  std::size_t count = 0;
  for (const auto& header : Headers)
    if (SameName(header.first, AName)) ++count;
  return count;
}

TStandInAnswer& TStandInAnswer::WithHeader(std::string AName, std::string AValue) {
  Headers.emplace_back(std::move(AName), std::move(AValue));
  return *this;
}

TStandInAnswer& TStandInAnswer::WithPragma(std::string AValue) {
  return WithHeader("Pragma", std::move(AValue));
}

TStandInAnswer& TStandInAnswer::WithSessionID(const std::string& AId, const std::string& AMore) {
  return WithPragma("sessionid=" + AId + (AMore.empty() ? "" : "," + AMore));
}

TStandInAnswer& TStandInAnswer::WithContentType(std::string AValue) {
  ContentType = std::move(AValue);
  return *this;
}

TStandInAnswer& TStandInAnswer::WithDelay(std::chrono::milliseconds AValue) {
  Delay = AValue;
  return *this;
}

std::string JsonString(std::string_view AText) {
  std::string out = "\"";
  for (char c : AText) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

TStandInAnswer ResultAnswer(const std::string& AElements) {
  return JsonAnswer(200, "{\"result\":[" + AElements + "]}");
}

TStandInAnswer JsonAnswer(int AStatus, std::string ABody) {
  TStandInAnswer answer;
  answer.Status = AStatus;
  answer.Body = std::move(ABody);
  return answer;
}

TStandInAnswer ErrorAnswer(int AStatus, const std::string& AMessage) {
  return JsonAnswer(AStatus, "{\"error\":" + JsonString(AMessage) + "}");
}

TStandInAnswer SessionExpiredAnswer(const std::string& AMessage) {
  return JsonAnswer(403, "{\"SessionExpired\":" + JsonString(AMessage) + "}");
}

TStandInAnswer RedirectAnswer(int AStatus, std::string ALocation) {
  return EmptyAnswer(AStatus).WithHeader("Location", std::move(ALocation));
}

TStandInAnswer EmptyAnswer(int AStatus) { return BytesAnswer(AStatus, {}, {}); }

TStandInAnswer BytesAnswer(int AStatus, std::string ABody, std::string AContentType) {
  TStandInAnswer answer;
  answer.Status = AStatus;
  answer.Body = std::move(ABody);
  answer.ContentType = std::move(AContentType);
  return answer;
}

struct TStandInServer::TState {
  // Released first, so that no request is served while the rest goes.
  std::unique_ptr<THttpTestServer> Server;
  mutable std::mutex Lock;
  std::vector<TRecordedRequest> Requests;
  std::deque<TStandInAnswer> Queue;
  std::map<std::pair<std::string, std::string>, TStandInAnswer> Fixed;
  THandler Handler;
  TStandInAnswer Default = ResultAnswer();
  bool Recording = true;

  TStandInAnswer Answer(const TRecordedRequest& ARequest) {
    THandler handler;
    {
      std::scoped_lock lock(Lock);
      if (Recording) Requests.push_back(ARequest);
      if (!Queue.empty()) {
        TStandInAnswer answer = std::move(Queue.front());
        Queue.pop_front();
        return answer;
      }
      auto fixed = Fixed.find({ARequest.Method, ARequest.Path});
      if (fixed != Fixed.end()) return fixed->second;
      if (!Handler) return Default;
      handler = Handler;
    }
    // Outside the lock, so that a handler may use the server's own accessors.
    return handler(ARequest);
  }

  void Serve(const httplib::Request& AIn, httplib::Response& AOut) {
    TRecordedRequest request;
    request.Method = AIn.method;
    request.Target = AIn.target;
    request.Path = AIn.path;
    request.Version = AIn.version;
    for (const auto& header : AIn.headers) request.Headers.push_back(header);
    // cpp-httplib adds these for its own bookkeeping; they were not sent.
    std::erase_if(request.Headers, [](const auto& h) {
      return h.first == "REMOTE_ADDR" || h.first == "REMOTE_PORT" || h.first == "LOCAL_ADDR" ||
             h.first == "LOCAL_PORT";
    });
    request.Body = AIn.body;
    const TStandInAnswer answer = Answer(request);
    if (answer.Delay.count() > 0) std::this_thread::sleep_for(answer.Delay);
    AOut.status = answer.Status;
    for (const auto& [name, value] : answer.Headers) AOut.headers.emplace(name, value);
    AOut.body = answer.Body;
    if (!answer.ContentType.empty()) AOut.set_header("Content-Type", answer.ContentType);
  }
};

TStandInServer::TStandInServer() : FState(std::make_unique<TState>()) {
  FState->Server = std::make_unique<THttpTestServer>();
  auto& server = FState->Server->Server();
  // A short keep-alive, so that a client still holding its connection delays
  // the server's shutdown by little.
  server.set_keep_alive_timeout(5);
  const auto serve = [state = FState.get()](const httplib::Request& AIn, httplib::Response& AOut) {
    state->Serve(AIn, AOut);
  };
  server.Get(".*", serve);
  server.Post(".*", serve);
  server.Put(".*", serve);
  server.Delete(".*", serve);
  server.Patch(".*", serve);
  server.Options(".*", serve);
  FState->Server->Start();
  FPort = FState->Server->Port();
}

TStandInServer::~TStandInServer() { FState->Server.reset(); }

std::string TStandInServer::Origin() const { return "http://127.0.0.1:" + std::to_string(FPort); }

void TStandInServer::Enqueue(TStandInAnswer AAnswer) {
  std::scoped_lock lock(FState->Lock);
  FState->Queue.push_back(std::move(AAnswer));
}

void TStandInServer::On(std::string AMethod, std::string APath, TStandInAnswer AAnswer) {
  std::scoped_lock lock(FState->Lock);
  FState->Fixed[{std::move(AMethod), std::move(APath)}] = std::move(AAnswer);
}

void TStandInServer::SetHandler(THandler AHandler) {
  std::scoped_lock lock(FState->Lock);
  FState->Handler = std::move(AHandler);
}

void TStandInServer::SetDefaultAnswer(TStandInAnswer AAnswer) {
  std::scoped_lock lock(FState->Lock);
  FState->Default = std::move(AAnswer);
}

void TStandInServer::Reset() {
  std::scoped_lock lock(FState->Lock);
  FState->Requests.clear();
  FState->Queue.clear();
  FState->Fixed.clear();
  FState->Handler = nullptr;
  FState->Default = ResultAnswer();
}

void TStandInServer::SetRecording(bool AValue) {
  std::scoped_lock lock(FState->Lock);
  FState->Recording = AValue;
}

std::vector<TRecordedRequest> TStandInServer::Requests() const {
  std::scoped_lock lock(FState->Lock);
  return FState->Requests;
}

std::size_t TStandInServer::RequestCount() const {
  std::scoped_lock lock(FState->Lock);
  return FState->Requests.size();
}

TRecordedRequest TStandInServer::LastRequest() const {
  std::scoped_lock lock(FState->Lock);
  if (FState->Requests.empty()) {
    ADD_FAILURE() << "the stand-in server has received no request";
    return {};
  }
  return FState->Requests.back();
}

void TStandInServer::ClearRequests() {
  std::scoped_lock lock(FState->Lock);
  FState->Requests.clear();
}

}  // namespace qvr::test
