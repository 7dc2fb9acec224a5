// Temporary folders and file helpers for tests; see TempDir.h.
#include "support/TempDir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qvr::test {

namespace fs = std::filesystem;

TTempDir::TTempDir() {
  std::string pattern = (fs::temp_directory_path() / "qvrtest-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; give the owner write access back
  // so that everything can be removed.
  for (auto it = fs::recursive_directory_iterator(FPath, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(FPath, ec);
}

std::string TTempDir::File(const std::string& AName) const { return FPath + "/" + AName; }

std::string ReadFileBytes(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::string& APath, const std::string& ABytes) {
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
}

bool PathExists(const std::string& APath) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(APath, ec));
}

bool RunningAsRoot() { return geteuid() == 0; }

}  // namespace qvr::test
