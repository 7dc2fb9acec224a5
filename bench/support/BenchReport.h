// Reporting of benchmark targets. Every figure with a target becomes one line
// "NAME: VALUE (target OP LIMIT)" in the run's summary file (QVR_BENCH_SUMMARY,
// or standard output when it is not set), which `make bench` prints at the end.
#pragma once

#include <string>

namespace qvr::bench {

// Appends the target line and returns whether the value meets it. Op is one of
// "<=" or ">=". Decimals are written with the given precision.
bool ReportTarget(const std::string& AName, double AValue, const std::string& AOp, double ALimit,
                  int APrecision = 2);

// Appends an informational line "NAME: VALUE" (a figure without a target).
void ReportFigure(const std::string& AName, const std::string& AValue);

// printf-style text of a figure's value (at most 199 characters); the
// compiler checks the arguments against the format.
std::string Formatted(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qvr::bench
