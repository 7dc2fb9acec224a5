// Path of the running executable; see ExePath.h.
#include "platform/ExePath.h"

#include <unistd.h>

#include <mutex>
#include <vector>

namespace qvr {

namespace {

std::mutex& OverrideLock() {
  static std::mutex m;
  return m;
}

std::string& OverrideFolder() {
  static std::string folder;
  return folder;
}

}  // namespace

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size())
      return std::string(buf.data(), static_cast<std::size_t>(n));
    if (buf.size() >= (1u << 20)) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string ExecutableFolder() {
  {
    std::scoped_lock lock(OverrideLock());
    if (!OverrideFolder().empty()) return OverrideFolder();
  }
  const std::string path = ExecutablePath();
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

void SetExecutableFolderOverride(const std::string& AFolder) {
  std::scoped_lock lock(OverrideLock());
  OverrideFolder() = AFolder.empty() || AFolder.back() == '/' ? AFolder : AFolder + "/";
}

}  // namespace qvr
