// Writes the benchmark summary lines; see BenchReport.h.
#include "support/BenchReport.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace qvr::bench {

namespace {

void AppendLine(const std::string& ALine) {
  const char* path = std::getenv("QVR_BENCH_SUMMARY");
  if (path != nullptr && *path != '\0') {
    std::ofstream out(path, std::ios::app);
    out << ALine << '\n';
  }
  std::cout << ALine << std::endl;
}

std::string Fixed(double AValue, int APrecision) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", APrecision, AValue);
  return buf;
}

}  // namespace

bool ReportTarget(const std::string& AName, double AValue, const std::string& AOp, double ALimit,
                  int APrecision) {
  const bool ok = AOp == "<=" ? AValue <= ALimit : AValue >= ALimit;
  AppendLine(AName + ": " + Fixed(AValue, APrecision) + " (target " + AOp + " " +
             Fixed(ALimit, APrecision) + ")" + (ok ? "" : "  MISSED"));
  return ok;
}

void ReportFigure(const std::string& AName, const std::string& AValue) {
  AppendLine(AName + ": " + AValue);
}

std::string Formatted(const char* AFormat, ...) {
  char text[200];
  va_list args;
  va_start(args, AFormat);
  std::vsnprintf(text, sizeof text, AFormat, args);
  va_end(args);
  return text;
}

}  // namespace qvr::bench
