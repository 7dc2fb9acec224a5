// What the server answers an admitted request; see Routes.h.
#include "server/Routes.h"

#include <cstdio>

#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/json/JSONText.h"
#include "rest/wire/Envelope.h"
#include "rest/wire/RestPaths.h"
#include "rest/wire/SessionPragma.h"
#include "server/AccessLog.h"
#include "server/Answers.h"
#include "server/ServerErrors.h"

namespace qvr::server {

namespace {

bool ContainsText(std::string_view AText, std::string_view APart) {
  if (APart.size() > AText.size()) return false;
  for (std::size_t i = 0; i + APart.size() <= AText.size(); ++i) {
    if (SameText(AText.substr(i, APart.size()), APart)) return true;
  }
  return false;
}

// What parsing a body of ABytes may cost besides the body itself: its texts
// once more, and at most the values a body may hold (see ServerMethods).
std::size_t ParseCost(std::size_t ABytes) {
  return ABytes + std::min<std::size_t>(ABytes * 32, std::size_t{8} << 20);
}

}  // namespace

namespace {

std::string Base(std::string_view AArea) {
  std::string base = "/";
  base.append(rest::kDefaultContext).append(AArea);
  return base;
}

}  // namespace

const std::string& RestBase() {
  static const std::string base = Base(rest::kDefaultRESTContext);
  return base;
}

const std::string& CacheBase() {
  static const std::string base = Base(rest::kDefaultCacheContext);
  return base;
}

const std::string& HealthPath() {
  static const std::string path = "/health";
  return path;
}

TRoutes::TRoutes(TQVRServerMethods& AMethods, TCacheArea& ACache, TMemoryBudget& AMemory,
                 TAttendanceStore& AStore, TSessionStore& ASessions)
    : FMethods(AMethods), FCache(ACache), FMemory(AMemory), FStore(AStore), FSessions(ASessions) {}

bool TRoutes::Serves(std::string_view APath) {
  return APath.starts_with(RestBase()) || APath.starts_with(CacheBase()) || APath == HealthPath();
}

bool TRoutes::NeedsAdmission(const THttpRequest& ARequest) {
  return ARequest.Path() != HealthPath();
}

THttpAnswer TRoutes::Health(const THttpRequest& ARequest) {
  if (ARequest.Method != "GET" && ARequest.Method != "HEAD") {
    return ErrorAnswer(405, "The health check takes GET, not " + LogText(ARequest.Method));
  }
  try {
    FStore.CheckReachable();
  } catch (const std::exception& AError) {
    return ErrorAnswer(503, AError.what());
  }
  return JSONAnswer(std::make_shared<std::string>(R"({"status":"ok"})"));
}

bool TRoutes::IsQuick(const THttpRequest& ARequest) const {
  const std::string_view path = ARequest.Path();
  if (!ARequest.Body.empty() || (ARequest.Method != "GET" && ARequest.Method != "HEAD") ||
      !path.starts_with(RestBase())) {
    return false;
  }
  const auto segments = rest::SplitSegments(path.substr(RestBase().size()));
  if (segments.size() < 2) return false;
  const rest::TRemoteMethod* method = FMethods.Find(segments[0], segments[1]);
  return method != nullptr && TQVRServerMethods::Quick(*method);
}

THttpAnswer TRoutes::Serve(const THttpRequest& ARequest, TRequestContext& AContext) {
  const std::string_view path = ARequest.Path();
  // No session: the health check opens none.
  if (path == HealthPath()) return Health(ARequest);
  THttpAnswer answer;
  try {
    if (path.starts_with(RestBase())) {
      answer = RemoteCall(ARequest, AContext, path.substr(RestBase().size()));
    } else {
      answer = CacheRequest(ARequest, AContext, path.substr(CacheBase().size()));
    }
  } catch (const EHttpError& AError) {
    answer = ErrorAnswer(AError.Status(), AError.Message());
  } catch (const std::exception& AError) {
    std::fprintf(stderr, "qvr-server: internal error: %s\n", AError.what());
    answer = ErrorAnswer(500, std::string("Internal error: ") + AError.what());
  }
  // A session that the call ended is named no more.
  if (!AContext.Session.empty()) answer.SetField("Pragma", rest::SessionPragma(AContext.Session));
  return answer;
}

THttpAnswer TRoutes::RemoteCall(const THttpRequest& ARequest, TRequestContext& AContext,
                                std::string_view ARaw) {
  const std::string& verb = ARequest.Method;
  if (verb != "GET" && verb != "POST" && verb != "PUT" && verb != "HEAD") {
    throw EHttpError(405, "Remote calls take GET, POST or PUT, not " + LogText(verb));
  }
  auto segments = rest::SplitSegments(ARaw);
  if (segments.size() < 2) {
    std::string message = "A remote call names a class and a method: ";
    message.append(RestBase()).append("TQVRServerMethods/EchoString/...");
    throw EHttpError(404, message);
  }
  const rest::TRemoteMethod* method = FMethods.Find(segments[0], segments[1]);
  if (method == nullptr) {
    throw EHttpError(
        404, "There is no method " + SanitizeUtf8(segments[0]) + "." + SanitizeUtf8(segments[1]));
  }
  // Parsing the body is the one step whose memory grows with it.
  TMemoryBudget::TReservation parsing = FMemory.Open();
  if (!ARequest.Body.empty() && !parsing.Grow(ParseCost(ARequest.Body.size()))) {
    throw EHttpError(503, "The server is busy; try again shortly");
  }
  TCallArguments arguments{{segments.begin() + 2, segments.end()}, ARequest.Body};
  const std::string* accept = ARequest.Field("Accept");
  const bool cacheMode = accept != nullptr && ContainsText(*accept, rest::kCacheModeAccept);
  std::string parameters;
  TCaller caller{AContext.UserName, AContext.Session};
  TMethodAnswer answer =
      FMethods.Invoke(*method, arguments, caller, cacheMode ? &parameters : nullptr);
  parsing.Release();
  if (cacheMode) {
    const auto paths = FCache.Store(AContext.Session, method->QualifiedName(),
                                    std::move(parameters), std::move(answer));
    rest::TJSONArray result;
    for (const auto& path : paths) result.Add(std::make_unique<rest::TJSONString>(path));
    rest::TJSONObject body;
    body.AddPair(std::string(rest::kResultMember), result.Clone());
    answer.Body = std::make_shared<std::string>(rest::WriteJSON(body));
  }
  if (caller.EndSession) {
    // Once the answer is made, so that nothing of the call is kept for the
    // session after it went (its cached items go with it).
    FSessions.End(AContext.Session);
    AContext.Session.clear();
  }
  return JSONAnswer(std::move(answer.Body));
}

THttpAnswer TRoutes::CacheRequest(const THttpRequest& ARequest, TRequestContext& AContext,
                                  std::string_view ARaw) {
  // A request filter after the item path comes after a "/" the client adds.
  if (!ARaw.empty() && ARaw.back() == '/') ARaw.remove_suffix(1);
  const bool itemPath = ARaw.find('/') != std::string_view::npos;
  const std::string path(ARaw);
  const std::string& verb = ARequest.Method;
  if (verb == "GET" || verb == "HEAD") {
    if (itemPath) {
      const auto value = FCache.Value(AContext.Session, path);
      if (!value) throw EHttpError(404, "No cached item " + LogText(path) + " in this session");
      auto body = std::make_shared<std::string>();
      body->reserve(value->Text.size() + 12);
      body->append("{\"result\":").append(value->Text).append("}");
      return JSONAnswer(std::move(body));
    }
    const auto command = FCache.Command(AContext.Session, path);
    if (!command) throw EHttpError(404, "No cached command " + LogText(path) + " in this session");
    auto body = std::make_shared<std::string>("{\"result\":");
    body->append(*command).append("}");
    return JSONAnswer(std::move(body));
  }
  if (verb == "DELETE") {
    if (itemPath) throw BadRequest("DELETE takes a command path, such as 12, not an item path");
    if (!FCache.Delete(AContext.Session, path)) {
      throw EHttpError(404, "No cached command " + LogText(path) + " in this session");
    }
    return JSONAnswer(std::make_shared<std::string>("{\"result\":[true]}"));
  }
  throw EHttpError(405, "The cache area takes GET and DELETE, not " + LogText(verb));
}

}  // namespace qvr::server
