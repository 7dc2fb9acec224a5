// A temporary folder for one test, removed with everything in it when the
// object goes away, and small file helpers the tests share.
#pragma once

#include <string>

namespace qvr::test {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The folder, without a trailing "/".
  const std::string& Path() const { return FPath; }
  // Path() + "/" + AName.
  std::string File(const std::string& AName) const;

 private:
  std::string FPath;
};

std::string ReadFileBytes(const std::string& APath);
void WriteFileBytes(const std::string& APath, const std::string& ABytes);
bool PathExists(const std::string& APath);
// True when the process runs as root (permission bits do not stop it).
bool RunningAsRoot();

}  // namespace qvr::test
