// Start-up of QVROpciones to its window shown (offscreen) against a minimal Qt
// window program built in the same tree. The two are started alternately in
// one run; the target is the ratio of their median wall times. Peak memory
// (maximum resident set) of both is reported.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/ExePath.h"
#include "support/BenchReport.h"

namespace {

struct TRun {
  double Millis = 0;
  long PeakKiB = 0;
};

TRun Start(const std::string& AProgram) {
  const auto begin = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Only the start-up cost is measured, not the platform's warnings.
    freopen("/dev/null", "w", stderr);
    execl(AProgram.c_str(), AProgram.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed (status %d)\n", AProgram.c_str(), status);
    std::exit(1);
  }
  return {std::chrono::duration<double, std::milli>(end - begin).count(), usage.ru_maxrss};
}

double Median(std::vector<double> AValues) {
  std::sort(AValues.begin(), AValues.end());
  const std::size_t n = AValues.size();
  return n % 2 ? AValues[n / 2] : (AValues[n / 2 - 1] + AValues[n / 2]) / 2;
}

}  // namespace

int main() {
  const std::string folder = qvr::ExecutableFolder();
  const std::string probe = folder + "QVROpcionesStartupProbe";
  const std::string minimal = folder + "MinimalQtWindowProbe";
  constexpr int kRuns = 21;
  // One warm-up each so that both start from a warm file cache.
  Start(probe);
  Start(minimal);
  std::vector<double> probeMs, minimalMs;
  long probePeak = 0, minimalPeak = 0;
  for (int i = 0; i < kRuns; ++i) {
    const TRun a = Start(probe);
    const TRun b = Start(minimal);
    probeMs.push_back(a.Millis);
    minimalMs.push_back(b.Millis);
    probePeak = std::max(probePeak, a.PeakKiB);
    minimalPeak = std::max(minimalPeak, b.PeakKiB);
  }
  const double ratio = Median(probeMs) / Median(minimalMs);
  char line[128];
  std::snprintf(line, sizeof line, "%.1f ms (minimal Qt window %.1f ms, median of %d)",
                Median(probeMs), Median(minimalMs), kRuns);
  qvr::bench::ReportFigure("startup QVROpciones to window shown", line);
  std::snprintf(line, sizeof line, "%.1f MB (minimal Qt window %.1f MB)", probePeak / 1024.0,
                minimalPeak / 1024.0);
  qvr::bench::ReportFigure("startup peak memory QVROpciones", line);
  return qvr::bench::ReportTarget("startup time ratio QVROpciones / minimal Qt window", ratio,
                                  "<=", 1.2)
             ? 0
             : 1;
}
