// The progress line of long transfers; see Progress.h.
#include "tools/qvr/Progress.h"

#include <algorithm>
#include <cstdio>

namespace qvr::cli {

using rest::TTransferDirection;

namespace {

// Often enough to look alive, seldom enough to cost nothing.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

}  // namespace

TProgressLine::TProgressLine(std::function<void(const std::string&)> AWrite,
                             std::int64_t AThreshold)
    : FWrite(std::move(AWrite)), FThreshold(AThreshold) {}

std::string TProgressLine::Size(std::int64_t ABytes) {
  char text[48];
  if (ABytes >= 1000000) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(ABytes) / 1e6);
  } else if (ABytes >= 1000) {
    std::snprintf(text, sizeof text, "%lld kB", static_cast<long long>(ABytes / 1000));
  } else {
    std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(ABytes));
  }
  return text;
}

void TProgressLine::Update(TTransferDirection ADirection, std::int64_t ADone, std::int64_t ATotal) {
  if (FActive && (ADirection != FDirection || ADone < FDone)) Finish();
  const auto now = TClock::now();
  if (!FActive) {
    FActive = true;
    FDirection = ADirection;
    FStart = now;
    FLastDraw = now - kRedrawEvery;
  }
  FDone = ADone;
  FTotal = ATotal;
  if (ATotal >= 0 && ADone >= ATotal) {
    Finish();
    return;
  }
  if (std::max(ADone, ATotal) <= FThreshold) return;
  if (now - FLastDraw >= kRedrawEvery) {
    FLastDraw = now;
    Draw(false);
  }
}

void TProgressLine::Finish() {
  if (FActive && std::max(FDone, FTotal) > FThreshold) Draw(true);
  FActive = false;
}

void TProgressLine::Draw(bool AFinal) {
  const double seconds = std::chrono::duration<double>(TClock::now() - FStart).count();
  const double rate = seconds > 0 ? static_cast<double>(FDone) / seconds : 0;
  const bool sending = FDirection == TTransferDirection::Sending;
  std::string line = "\r\x1b[K";
  char timeText[32];
  if (AFinal) {
    std::snprintf(timeText, sizeof timeText, seconds < 1 ? "%.2f s" : "%.1f s", seconds);
    line += std::string(sending ? "Sent " : "Received ") + Size(FDone) + " in " + timeText;
  } else {
    line += std::string(sending ? "Sending " : "Receiving ") + Size(FDone);
    if (FTotal >= 0) line += " of " + Size(FTotal);
  }
  line += ", " + Size(static_cast<std::int64_t>(rate)) + "/s";
  if (AFinal) line += "\n";
  FWrite(line);
}

}  // namespace qvr::cli
