// Runs a program the build made, as a user would from a shell: its
// arguments, what it reads on standard input, what it writes on standard
// output and standard error, and its exit status. The run is bounded in
// time: a program still running at the limit is killed.
//
//   const TProgramResult r = RunProgram(QvrPath(), {"config", "show"});
//   EXPECT_EQ(r.Status, 0);
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace qvr::test {

struct TProgramResult {
  // The exit status; 128 + the signal for a program a signal ended (SIGKILL
  // at the time limit).
  int Status = -1;
  std::string Out;
  std::string Err;
  bool TimedOut = false;
};

struct TProgramOptions {
  std::string Input;
  // The folder the program starts in; empty: the test's own.
  std::string WorkingFolder;
  // Extra "NAME=value" entries on top of the test's environment.
  std::vector<std::string> Environment;
  std::chrono::milliseconds Limit{60000};
};

TProgramResult RunProgram(const std::string& AProgram, const std::vector<std::string>& AArgs,
                          const TProgramOptions& AOptions = {});

}  // namespace qvr::test
