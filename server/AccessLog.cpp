// The request log; see AccessLog.h.
#include "server/AccessLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace qvr::server {

namespace {

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

}  // namespace

std::string LogText(std::string_view AText) {
  std::string out;
  for (char c : AText.substr(0, 300)) out += (c >= 0x21 && c <= 0x7E) ? c : '?';
  if (AText.size() > 300) out += "...";
  return out;
}

void LogRequest(const TRequestContext& AContext, std::string_view AMethod, std::string_view APath,
                int AStatus) {
  const double ms =
      std::chrono::duration<double, std::milli>(TFrontClock::now() - AContext.Start).count();
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.2f ms", ms);
  const std::string line = UtcNow() + " " + LogText(AContext.RemoteAddress) + " " +
                           LogText(AMethod) + " " + LogText(APath) + " " +
                           std::to_string(AStatus) + " " + elapsed + "\n";
  // One write per line, so that lines of concurrent requests never mix.
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace qvr::server
