// Running the qvr program this build made, for the tests of the program as
// a user meets it: a folder of its own with the config.ini it reads (through
// --config, or beside a copy of the program), and the checks every error
// must pass (nothing on standard output, one line on standard error).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/HttpTestServers.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace qvr::test {

inline std::string QvrPath() { return QVR_EXE; }

inline TProgramOptions InFolder(const std::string& AFolder) {
  TProgramOptions options;
  options.WorkingFolder = AFolder;
  return options;
}

inline TProgramOptions WithInput(const std::string& AInput) {
  TProgramOptions options;
  options.Input = AInput;
  return options;
}

// A folder with the config.ini that every run names with --config.
class TQvrFolder {
 public:
  const std::string& Folder() const { return FDir.Path(); }
  std::string ConfigPath() const { return FDir.File("config.ini"); }
  std::string File(const std::string& AName) const { return FDir.File(AName); }
  std::string Read() const { return ReadFileBytes(ConfigPath()); }
  void Write(const std::string& AContent) const { WriteFileBytes(ConfigPath(), AContent); }
  // A config.ini for the server on 127.0.0.1:APort and the UID AUid.
  void PointAt(int APort, const std::string& AUid = "kiosco") const {
    Write("[rest]\nIP=127.0.0.1\nPuerto=" + std::to_string(APort) + "\nUID=" + AUid + "\n");
  }

  TProgramResult Run(std::vector<std::string> AArgs, TProgramOptions AOptions = {}) const {
    AArgs.insert(AArgs.begin(), {"--config", ConfigPath()});
    if (AOptions.WorkingFolder.empty()) AOptions.WorkingFolder = Folder();
    return RunProgram(QvrPath(), AArgs, AOptions);
  }

 private:
  TTempDir FDir;
  // The environment's proxies would divert loopback requests of the program.
  TNoProxyEnvironment FNoProxy;
};

// Whether AText has the form APattern: "#" stands for one or more decimal
// digits, "%" for one or more lower-case hexadecimal digits, "*" for any
// run of characters, everything else for itself. (std::regex does not build
// cleanly under the sanitizers.)
inline bool Like(std::string_view AText, std::string_view APattern) {
  if (APattern.empty()) return AText.empty();
  const char p = APattern.front();
  const auto rest = APattern.substr(1);
  if (p == '*') {
    for (std::size_t n = 0; n <= AText.size(); ++n) {
      if (Like(AText.substr(n), rest)) return true;
    }
    return false;
  }
  if (p == '#' || p == '%') {
    const auto fits = [p](char c) {
      return (c >= '0' && c <= '9') || (p == '%' && c >= 'a' && c <= 'f');
    };
    for (std::size_t n = 0; n < AText.size() && fits(AText[n]); ++n) {
      if (Like(AText.substr(n + 1), rest)) return true;
    }
    return false;
  }
  return !AText.empty() && AText.front() == p && Like(AText.substr(1), rest);
}

// The lines of a text, without their line breaks.
inline std::vector<std::string> Lines(const std::string& AText) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < AText.size()) {
    const auto end = AText.find('\n', start);
    lines.push_back(AText.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

// A run that succeeded and printed nothing on standard error.
inline ::testing::AssertionResult Succeeded(const TProgramResult& AResult) {
  if (AResult.Status == 0 && AResult.Err.empty() && !AResult.TimedOut) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "status " << AResult.Status << ", stderr: " << AResult.Err;
}

// A run that failed with AStatus, printed nothing on standard output, and
// one line on standard error: "qvr: " followed by AMessage (or, with
// APrefixOnly, a line that starts so).
inline ::testing::AssertionResult FailedWith(const TProgramResult& AResult, int AStatus,
                                             const std::string& AMessage,
                                             bool APrefixOnly = false) {
  const std::string expected = "qvr: " + AMessage;
  const bool oneLine = !AResult.Err.empty() && AResult.Err.back() == '\n' &&
                       AResult.Err.find('\n') == AResult.Err.size() - 1 &&
                       AResult.Err.find('\r') == std::string::npos;
  const std::string line = oneLine ? AResult.Err.substr(0, AResult.Err.size() - 1) : "";
  const bool matches = APrefixOnly ? line.starts_with(expected) : line == expected;
  if (AResult.Status == AStatus && AResult.Out.empty() && oneLine && matches) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "status " << AResult.Status << " (expected " << AStatus << "), stdout '" << AResult.Out
         << "', stderr '" << AResult.Err << "', expected '" << expected << "'";
}

}  // namespace qvr::test
