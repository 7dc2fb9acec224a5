// Points the configuration of the code under test at a temporary folder, so
// that each test gets a config.ini of its own instead of the one beside the
// test executable.
#pragma once

#include <string>

#include "platform/ExePath.h"
#include "support/TempDir.h"

namespace qvr::test {

class TConfigFolder {
 public:
  TConfigFolder() { SetExecutableFolderOverride(FDir.Path()); }
  ~TConfigFolder() { SetExecutableFolderOverride(""); }
  TConfigFolder(const TConfigFolder&) = delete;
  TConfigFolder& operator=(const TConfigFolder&) = delete;

  const std::string& Folder() const { return FDir.Path(); }
  std::string ConfigPath() const { return FDir.File("config.ini"); }
  std::string Read() const { return ReadFileBytes(ConfigPath()); }
  void Write(const std::string& AContent) const { WriteFileBytes(ConfigPath(), AContent); }

 private:
  TTempDir FDir;
};

}  // namespace qvr::test
