// The request log; see AccessLog.h.
#include "server/AccessLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace qvr::server {

namespace {

// The time of a log line, the seconds' text made once a second per thread.
void AppendUtcNow(std::string& AOut) {
  thread_local std::time_t last = 0;
  thread_local char seconds[32] = "";
  const auto now = std::chrono::system_clock::now();
  const std::time_t whole = std::chrono::system_clock::to_time_t(now);
  if (whole != last) {
    std::tm utc{};
    gmtime_r(&whole, &utc);
    std::strftime(seconds, sizeof seconds, "%Y-%m-%dT%H:%M:%S", &utc);
    last = whole;
  }
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char text[48];
  const int n = std::snprintf(text, sizeof text, "%s.%03dZ", seconds, static_cast<int>(millis));
  AOut.append(text, static_cast<std::size_t>(n));
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
  std::string line;
  line.reserve(96 + APath.size());
  AppendUtcNow(line);
  line += ' ';
  line += LogText(AContext.RemoteAddress);
  line += ' ';
  line += LogText(AMethod);
  line += ' ';
  line += LogText(APath);
  char tail[48];
  const int n = std::snprintf(tail, sizeof tail, " %d %.2f ms\n", AStatus, ms);
  line.append(tail, static_cast<std::size_t>(n));
  // One write per line, so that lines of concurrent requests never mix.
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace qvr::server
