// The HTTP front; see HttpFront.h. Every request passes, in this order: the
// size limits and authentication (before its body is read), the session, then
// the remote call or the cache request. The front keeps what it learnt about
// a request (start time, user, session) in a per-thread record: cpp-httplib
// runs a request's handlers, and its logger, on one thread.
#include "server/HttpFront.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/Base64Encoding.h"
#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/json/JSONText.h"
#include "rest/wire/Envelope.h"
#include "rest/wire/RestPaths.h"
#include "rest/wire/SessionPragma.h"
#include "server/BoundedThreadPool.h"
#include "server/CacheArea.h"
#include "server/DataSetLists.h"
#include "server/ServerErrors.h"
#include "server/ServerMethods.h"
#include "server/Sessions.h"

namespace qvr::server {

namespace {

using TClock = std::chrono::steady_clock;

constexpr const char* kContentType = "application/json; charset=UTF-8";
// The REST and cache bases as a client with the default contexts names them.
const std::string kRestBase =
    "/" + std::string(rest::kDefaultContext) + std::string(rest::kDefaultRESTContext);
const std::string kCacheBase =
    "/" + std::string(rest::kDefaultContext) + std::string(rest::kDefaultCacheContext);

struct TRequestState {
  bool Started = false;
  TClock::time_point Start;
  std::string UserName;
  std::string Session;
};
thread_local TRequestState GRequest;

// cpp-httplib's task queue on our bounded pool. cpp-httplib takes a raw
// pointer and deletes the queue itself.
class TPoolTaskQueue : public httplib::TaskQueue {
 public:
  TPoolTaskQueue(std::size_t AThreads, std::size_t AMaxQueued) : FPool(AThreads, AMaxQueued) {}
  void enqueue(std::function<void()> AJob) override { FPool.Enqueue(std::move(AJob)); }
  void shutdown() override { FPool.Shutdown(); }

 private:
  TBoundedThreadPool FPool;
};

std::string ErrorBody(std::string_view AMember, const std::string& AMessage) {
  rest::TJSONObject object;
  object.AddPair(std::string(AMember), SanitizeUtf8(AMessage));
  return rest::WriteJSON(object);
}

void Refuse(httplib::Response& ARes, int AStatus, const std::string& AMessage) {
  ARes.status = AStatus;
  ARes.set_content(ErrorBody(rest::kErrorMember, AMessage), kContentType);
}

void SendShared(httplib::Response& ARes, std::shared_ptr<const std::string> ABody) {
  ARes.status = 200;
  const std::size_t size = ABody->size();
  // Served from the shared buffer: a cached list of many megabytes goes out
  // without being copied for each answer.
  ARes.set_content_provider(size, kContentType,
                            [body = std::move(ABody)](std::size_t AOffset, std::size_t ALength,
                                                      httplib::DataSink& ASink) {
                              return ASink.write(body->data() + AOffset, ALength);
                            });
}

std::string_view RawPath(const httplib::Request& AReq) {
  std::string_view target = AReq.target;
  return target.substr(0, target.find('?'));
}

bool ContainsText(std::string_view AText, std::string_view APart) {
  if (APart.size() > AText.size()) return false;
  for (std::size_t i = 0; i + APart.size() <= AText.size(); ++i) {
    if (SameText(AText.substr(i, APart.size()), APart)) return true;
  }
  return false;
}

// Printable ASCII of AText for the log, cut to a sensible length.
std::string LogText(std::string_view AText) {
  std::string out;
  for (char c : AText.substr(0, 300)) {
    out += (c >= 0x21 && c <= 0x7E) ? c : '?';
  }
  if (AText.size() > 300) out += "...";
  return out;
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char full[48];
  std::snprintf(full, sizeof full, "%s.%03dZ", text, static_cast<int>(millis));
  return full;
}

const char* DefaultReason(int AStatus) {
  switch (AStatus) {
    case 400:
      return "Bad request";
    case 404:
      return "Nothing is served at this path";
    case 405:
      return "Method not allowed";
    case 413:
      return "The request body is too large";
    case 414:
      return "The request URI is too long";
    case 431:
      return "The request headers are too large";
    default:
      return "The request failed";
  }
}

}  // namespace

class TAttendanceServer::TImpl {
 public:
  TImpl(const TServerOptions& AOptions, TAttendanceStore& AStore)
      : FOptions(AOptions),
        FStore(AStore),
        FLists(AStore),
        FMethods(AStore, FLists, AOptions.MaxInflatedUploadBytes),
        FCache(AOptions.CacheCommandsPerSession, AOptions.CacheBytes),
        FSessions(std::chrono::milliseconds(AOptions.SessionTimeoutMs), AOptions.MaxSessions,
                  [this](const std::vector<std::string>& AIds) { FCache.DropSessions(AIds); }) {
    const std::size_t threads = static_cast<std::size_t>(AOptions.Threads);
    FServer.new_task_queue = [threads] { return new TPoolTaskQueue(threads, 4 * threads); };
    FServer.set_tcp_nodelay(true);
    FServer.set_keep_alive_max_count(100000);
    FServer.set_keep_alive_timeout(5);
    FServer.set_read_timeout(30);
    FServer.set_write_timeout(30);
    FServer.set_payload_max_length(AOptions.MaxBodyBytes);
    FServer.set_pre_routing_handler([this](const httplib::Request& AReq, httplib::Response& ARes) {
      return Admit(AReq, ARes);
    });
    const auto handler = [this](const httplib::Request& AReq, httplib::Response& ARes) {
      Handle(AReq, ARes);
    };
    // Every path the front admitted; the pattern is matched against the
    // decoded path, which Admit has bounded in length.
    const std::string any = "[\\s\\S]*";
    FServer.Get(any, handler);
    FServer.Post(any, handler);
    FServer.Put(any, handler);
    FServer.Delete(any, handler);
    FServer.Patch(any, handler);
    FServer.Options(any, handler);
    FServer.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& ARes) {
          if (!ARes.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
          ARes.set_content(ErrorBody(rest::kErrorMember, DefaultReason(ARes.status)), kContentType);
          return httplib::Server::HandlerResponse::Handled;
        }));
    FServer.set_exception_handler(
        [](const httplib::Request&, httplib::Response& ARes, std::exception_ptr AError) {
          std::string message = "unknown";
          try {
            if (AError) std::rethrow_exception(AError);
          } catch (const std::exception& AException) {
            message = AException.what();
          } catch (...) {
          }
          Refuse(ARes, 500, "Internal error: " + message);
        });
    FServer.set_logger(
        [](const httplib::Request& AReq, const httplib::Response& ARes) { Log(AReq, ARes); });
  }

  int Bind() {
    if (FOptions.ListenPort == 0) {
      const int port = FServer.bind_to_any_port(FOptions.ListenHost);
      if (port <= 0) throw Exception("Cannot listen on " + FOptions.ListenHost + ":0");
      return port;
    }
    if (!FServer.bind_to_port(FOptions.ListenHost, FOptions.ListenPort)) {
      throw Exception("Cannot listen on " + FOptions.ListenHost + ":" +
                      std::to_string(FOptions.ListenPort) +
                      " (is another program using the port, or the address not this machine's?)");
    }
    return FOptions.ListenPort;
  }

  void Run() {
    if (!FStopRequested) FServer.listen_after_bind();
    FFinished = true;
  }

  void Stop() {
    FStopRequested = true;
    // cpp-httplib's stop does nothing before the server runs, and must be
    // called once only: wait for Run to have begun (or ended).
    for (int i = 0; i < 1000 && !FFinished && !FServer.is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::scoped_lock lock(FStopLock);
    if (!FStopped && !FFinished && FServer.is_running()) {
      FStopped = true;
      FServer.stop();
    }
  }

 private:
  // Before the body is read: limits, the area, credentials and session.
  httplib::Server::HandlerResponse Admit(const httplib::Request& AReq, httplib::Response& ARes) {
    GRequest = TRequestState{true, TClock::now(), {}, {}};
    const auto refuse = [&](int AStatus, const std::string& AMessage) {
      Refuse(ARes, AStatus, AMessage);
      return httplib::Server::HandlerResponse::Handled;
    };
    if (AReq.target.size() > kMaxTarget) {
      return refuse(414, "The request URI is longer than " + std::to_string(kMaxTarget) + " bytes");
    }
    std::size_t headerBytes = 0;
    for (const auto& [name, value] : AReq.headers) headerBytes += name.size() + value.size() + 4;
    if (AReq.headers.size() > kMaxHeaderCount || headerBytes > kMaxHeaderBytes) {
      return refuse(431, "The request headers exceed " + std::to_string(kMaxHeaderCount) +
                             " lines or " + std::to_string(kMaxHeaderBytes) + " bytes");
    }
    const std::string_view path = RawPath(AReq);
    if (!path.starts_with(kRestBase) && !path.starts_with(kCacheBase)) {
      return refuse(404, "Nothing is served at " + LogText(path) + "; remote calls go to " +
                             std::string(kRestBase) + " and the cache area is " +
                             std::string(kCacheBase));
    }
    try {
      if (!Authenticate(AReq, ARes)) return httplib::Server::HandlerResponse::Handled;
      if (!OpenSession(AReq, ARes)) return httplib::Server::HandlerResponse::Handled;
    } catch (const std::exception& AError) {
      return refuse(500, std::string("Internal error: ") + AError.what());
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  bool Authenticate(const httplib::Request& AReq, httplib::Response& ARes) {
    const std::string authorization = AReq.get_header_value("Authorization");
    std::string user, password;
    if (!authorization.empty()) {
      if (authorization.size() < 6 || !SameText(authorization.substr(0, 6), "Basic ")) {
        Challenge(ARes, "Only Basic authentication is accepted");
        return false;
      }
      const std::string decoded = TBase64Encoding::Base64().Decode(authorization.substr(6));
      const auto colon = decoded.find(':');
      user = decoded.substr(0, colon);
      password = colon == std::string::npos ? "" : decoded.substr(colon + 1);
    }
    if (user.empty()) {
      if (!FOptions.Anonymous) {
        Challenge(ARes, "The server needs a user name (UID)");
        return false;
      }
    } else if (!FStore.UserAllowed(user, password)) {
      Challenge(ARes, "The user " + user + " is not allowed, or the password is wrong");
      return false;
    }
    GRequest.UserName = user;
    return true;
  }

  static void Challenge(httplib::Response& ARes, const std::string& AMessage) {
    Refuse(ARes, 401, AMessage);
    ARes.set_header("WWW-Authenticate", "Basic realm=\"qvr-server\"");
  }

  bool OpenSession(const httplib::Request& AReq, httplib::Response& ARes) {
    std::string pragma;
    const std::size_t count = AReq.get_header_value_count("Pragma");
    if (count > 0) pragma = AReq.get_header_value("Pragma", count - 1);
    const std::string id = rest::SessionIDFromPragma(pragma);
    if (id.empty()) {
      GRequest.Session = FSessions.Create(GRequest.UserName);
      return true;
    }
    switch (FSessions.Touch(id, GRequest.UserName)) {
      case TSessionStore::TLookup::Found:
        GRequest.Session = id;
        return true;
      case TSessionStore::TLookup::Unknown:
        ARes.status = 403;
        ARes.set_content(ErrorBody(rest::kSessionExpiredMember, "Session has expired"),
                         kContentType);
        return false;
      case TSessionStore::TLookup::OtherUser:
        Refuse(ARes, 403, "The session belongs to another user");
        return false;
    }
    return false;
  }

  void Handle(const httplib::Request& AReq, httplib::Response& ARes) {
    const std::string_view path = RawPath(AReq);
    try {
      if (path.starts_with(kRestBase)) {
        RemoteCall(AReq, ARes, path.substr(kRestBase.size()));
      } else {
        CacheRequest(AReq, ARes, path.substr(kCacheBase.size()));
      }
    } catch (const EHttpError& AError) {
      Refuse(ARes, AError.Status(), AError.Message());
    } catch (const std::exception& AError) {
      std::fprintf(stderr, "qvr-server: internal error: %s\n", AError.what());
      Refuse(ARes, 500, std::string("Internal error: ") + AError.what());
    }
  }

  void RemoteCall(const httplib::Request& AReq, httplib::Response& ARes, std::string_view ARaw) {
    if (AReq.method != "GET" && AReq.method != "POST" && AReq.method != "PUT" &&
        AReq.method != "HEAD") {
      throw EHttpError(405, "Remote calls take GET, POST or PUT, not " + AReq.method);
    }
    auto segments = rest::SplitSegments(ARaw);
    if (segments.size() < 2) {
      throw EHttpError(404, "A remote call names a class and a method: " + std::string(kRestBase) +
                                "TQVRServerMethods/EchoString/...");
    }
    const rest::TRemoteMethod* method = FMethods.Find(segments[0], segments[1]);
    if (method == nullptr) {
      throw EHttpError(
          404, "There is no method " + SanitizeUtf8(segments[0]) + "." + SanitizeUtf8(segments[1]));
    }
    TCallArguments arguments{{segments.begin() + 2, segments.end()}, AReq.body};
    const bool cacheMode = ContainsText(AReq.get_header_value("Accept"), rest::kCacheModeAccept);
    std::string parameters;
    TMethodAnswer answer =
        FMethods.Invoke(*method, arguments, GRequest.UserName, cacheMode ? &parameters : nullptr);
    if (cacheMode) {
      const auto paths = FCache.Store(GRequest.Session, method->QualifiedName(),
                                      std::move(parameters), std::move(answer));
      rest::TJSONArray result;
      for (const auto& path : paths) result.Add(std::make_unique<rest::TJSONString>(path));
      rest::TJSONObject body;
      body.AddPair(std::string(rest::kResultMember), result.Clone());
      answer.Body = std::make_shared<std::string>(rest::WriteJSON(body));
    }
    Answer(ARes, std::move(answer.Body));
  }

  void CacheRequest(const httplib::Request& AReq, httplib::Response& ARes, std::string_view ARaw) {
    // A request filter after the item path comes after a "/" the client adds.
    if (!ARaw.empty() && ARaw.back() == '/') ARaw.remove_suffix(1);
    const bool itemPath = ARaw.find('/') != std::string_view::npos;
    const std::string path(ARaw);
    if (AReq.method == "GET" || AReq.method == "HEAD") {
      if (itemPath) {
        const auto value = FCache.Value(GRequest.Session, path);
        if (!value) throw EHttpError(404, "No cached item " + LogText(path) + " in this session");
        auto body = std::make_shared<std::string>();
        body->reserve(value->Text.size() + 12);
        body->append("{\"result\":").append(value->Text).append("}");
        Answer(ARes, std::move(body));
      } else {
        const auto command = FCache.Command(GRequest.Session, path);
        if (!command)
          throw EHttpError(404, "No cached command " + LogText(path) + " in this session");
        Answer(ARes, std::make_shared<std::string>("{\"result\":" + *command + "}"));
      }
    } else if (AReq.method == "DELETE") {
      if (itemPath) throw BadRequest("DELETE takes a command path, such as 12, not an item path");
      if (!FCache.Delete(GRequest.Session, path)) {
        throw EHttpError(404, "No cached command " + LogText(path) + " in this session");
      }
      Answer(ARes, std::make_shared<std::string>("{\"result\":[true]}"));
    } else {
      throw EHttpError(405, "The cache area takes GET and DELETE, not " + AReq.method);
    }
  }

  void Answer(httplib::Response& ARes, std::shared_ptr<const std::string> ABody) {
    ARes.set_header("Pragma", rest::SessionPragma(GRequest.Session));
    SendShared(ARes, std::move(ABody));
  }

  static void Log(const httplib::Request& AReq, const httplib::Response& ARes) {
    char elapsed[32] = "-";
    if (GRequest.Started) {
      const double ms =
          std::chrono::duration<double, std::milli>(TClock::now() - GRequest.Start).count();
      std::snprintf(elapsed, sizeof elapsed, "%.2f ms", ms);
    }
    GRequest = TRequestState{};
    const std::string line = UtcNow() + " " + AReq.remote_addr + " " + LogText(AReq.method) + " " +
                             LogText(RawPath(AReq)) + " " + std::to_string(ARes.status) + " " +
                             elapsed + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }

  const TServerOptions FOptions;
  TAttendanceStore& FStore;
  TListAnswerCache FLists;
  TQVRServerMethods FMethods;
  TCacheArea FCache;
  TSessionStore FSessions;
  httplib::Server FServer;
  std::atomic<bool> FStopRequested{false};
  std::atomic<bool> FFinished{false};
  std::mutex FStopLock;
  bool FStopped = false;
};

TAttendanceServer::TAttendanceServer(const TServerOptions& AOptions, TAttendanceStore& AStore)
    : FImpl(std::make_unique<TImpl>(AOptions, AStore)) {}

TAttendanceServer::~TAttendanceServer() = default;

int TAttendanceServer::Bind() { return FImpl->Bind(); }
void TAttendanceServer::Run() { FImpl->Run(); }
void TAttendanceServer::Stop() { FImpl->Stop(); }

}  // namespace qvr::server
