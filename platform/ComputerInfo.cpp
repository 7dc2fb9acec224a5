// Special folders from the environment and the password database; see
// ComputerInfo.h.
#include "platform/ComputerInfo.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace qvr {

namespace {

// The value of an environment variable when it is an absolute path, else empty
// (a relative value would depend on the current folder, so it is ignored).
std::string AbsoluteFromEnv(const char* AName) {
  const char* value = std::getenv(AName);
  if (value == nullptr || value[0] != '/') return {};
  return value;
}

std::string HomeFromPasswd() {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<std::size_t>(hint) : 1024);
  passwd entry{};
  passwd* found = nullptr;
  // Grows the buffer on ERANGE, with a bound so that a broken name service
  // cannot make this loop forever.
  while (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) == ERANGE &&
         buf.size() < (1u << 20)) {
    buf.resize(buf.size() * 2);
  }
  if (found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') return {};
  return found->pw_dir;
}

std::string WithoutTrailingSlashes(std::string APath) {
  while (!APath.empty() && APath.back() == '/') APath.pop_back();
  return APath;
}

}  // namespace

std::string TComputerInfo::SpecialFolder(int ANumber) const {
  if (ANumber != sfAppData) return {};
  if (std::string data = AbsoluteFromEnv("XDG_DATA_HOME"); !data.empty()) {
    return WithoutTrailingSlashes(std::move(data));
  }
  std::string home = AbsoluteFromEnv("HOME");
  if (home.empty()) home = HomeFromPasswd();
  if (home.empty()) return {};
  return WithoutTrailingSlashes(std::move(home)) + "/.local/share";
}

}  // namespace qvr
