// Replacing a shared file under an advisory lock; see FileReplacement.h.
#include "platform/detail/FileReplacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

namespace qvr::detail {

namespace {

using namespace std::chrono_literals;

std::atomic<std::chrono::milliseconds::rep> gLockWaitMs{10000};

// Beyond this many links in a chain the kernel itself gives up (ELOOP).
constexpr int kMaxLinks = 40;

constexpr char kTempInfix[] = ".tmp-";
constexpr std::size_t kTempRandom = 6;
constexpr char kTempLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string BaseName(const std::string& APath) {
  const auto slash = APath.rfind('/');
  return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

bool IsTempLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Creates a new temporary file beside ATarget with AMode (less the umask);
// -1 when none can be created.
int CreateTemp(const std::string& ATarget, mode_t AMode, std::string& APath) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[kTempRandom] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
    APath = ATarget + kTempInfix;
    for (const unsigned char r : random) APath += kTempLetters[r % (sizeof kTempLetters - 1)];
    const int fd =
        ::open(APath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, AMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteWhole(int fd, const std::string& ABytes) {
  std::size_t done = 0;
  while (done < ABytes.size()) {
    const ssize_t n = ::write(fd, ABytes.data() + done, ABytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Gives the new file AOld's owner (root only) and group. A writer outside
// AOld's group cannot give the file that group; that is acceptable only when
// the group's rights are no more than everyone else's.
bool TakeOwnerAndGroup(int fd, const struct stat& AOld) {
  if (::geteuid() == 0) return ::fchown(fd, AOld.st_uid, AOld.st_gid) == 0;
  struct stat now {};
  if (::fstat(fd, &now) != 0) return false;
  if (now.st_gid == AOld.st_gid) return true;
  if (::fchown(fd, static_cast<uid_t>(-1), AOld.st_gid) == 0) return true;
  const mode_t group = (AOld.st_mode >> 3) & 07;
  const mode_t others = AOld.st_mode & 07;
  return (group & ~others) == 0;
}

}  // namespace

std::chrono::milliseconds LockWait() { return std::chrono::milliseconds(gLockWaitMs.load()); }

void SetLockWait(std::chrono::milliseconds AWait) { gLockWaitMs = AWait.count(); }

std::string FolderOf(const std::string& APath) {
  const auto slash = APath.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return APath.substr(0, slash);
}

std::optional<std::string> WriteTarget(const std::string& APath) {
  std::string path = APath;
  for (int links = 0;; ++links) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return std::nullopt;
      break;  // a file yet to be created
    }
    if (!S_ISLNK(st.st_mode)) break;
    if (links == kMaxLinks) return std::nullopt;
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return std::nullopt;
    const std::string target(buf, static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
  }
  char* folder = ::realpath(FolderOf(path).c_str(), nullptr);
  if (folder == nullptr) return std::nullopt;
  std::string result(folder);
  std::free(folder);
  if (result != "/") result += '/';
  return result + BaseName(path);
}

std::optional<TWriteLock> TWriteLock::Acquire(const std::string& ATarget,
                                              const struct stat* ALike) {
  const std::string path = ATarget + ".lock";
  // O_NONBLOCK: opening a FIFO planted there must not wait for a writer;
  // O_NOFOLLOW and O_EXCL: a link planted there is neither followed nor
  // created through. Read access is all that flock needs.
  constexpr int kOpen = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = -1;
  for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
    fd = ::open(path.c_str(), kOpen | O_CREAT | O_EXCL, 0444);
    if (fd >= 0) {
      if (ALike != nullptr) {
        // Whoever may read the target may take the lock. Best effort: a
        // writer outside the target's group keeps its own.
        if (::geteuid() == 0) {
          (void)!::fchown(fd, ALike->st_uid, ALike->st_gid);
        } else {
          (void)!::fchown(fd, static_cast<uid_t>(-1), ALike->st_gid);
        }
        (void)!::fchmod(fd, (ALike->st_mode & 0444) | 0400);
      }
      break;
    }
    if (errno != EEXIST) return std::nullopt;
    fd = ::open(path.c_str(), kOpen);
    if (fd < 0 && errno != ENOENT) return std::nullopt;
  }
  if (fd < 0) return std::nullopt;
  TWriteLock lock(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;

  // Polled rather than blocking, so that a writer that never lets go (hung,
  // or hostile) makes this write fail instead of hanging the program.
  const auto deadline = std::chrono::steady_clock::now() + LockWait();
  auto pause = 1ms;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return std::nullopt;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return std::nullopt;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(16));
  }
  return lock;
}

TWriteLock::~TWriteLock() {
  if (FFd >= 0) ::close(FFd);  // releases the lock
}

void RemoveLeftovers(const std::string& ATarget) {
  const std::string prefix = BaseName(ATarget) + kTempInfix;
  DIR* dir = ::opendir(FolderOf(ATarget).c_str());
  if (dir == nullptr) return;
  const int dirfd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.size() != prefix.size() + kTempRandom || !name.starts_with(prefix) ||
        !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     IsTempLetter)) {
      continue;
    }
    struct stat st {};
    if (::fstatat(dirfd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
      ::unlinkat(dirfd, entry->d_name, 0);  // best effort: a leftover harms nobody
    }
  }
  ::closedir(dir);
}

bool ReplaceFile(const std::string& ATarget, const std::string& ABytes, const struct stat* AOld) {
  std::string temp;
  // A new file gets the umask applied by the kernel as it is created (the
  // process-wide mask is never changed). A replacement starts private and
  // gets the old file's mode before any byte is written.
  const int fd = CreateTemp(ATarget, AOld != nullptr ? 0600 : 0666, temp);
  if (fd < 0) return false;
  bool ok = true;
  if (AOld != nullptr) {
    // Owner and group first: changing them clears set-id bits of the mode.
    ok = TakeOwnerAndGroup(fd, *AOld) && ::fchmod(fd, AOld->st_mode & 07777) == 0;
  }
  ok = ok && WriteWhole(fd, ABytes);
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), ATarget.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  const int dirfd = ::open(FolderOf(ATarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd >= 0) {
    ::fsync(dirfd);  // makes the rename itself durable; best effort
    ::close(dirfd);
  }
  return true;
}

}  // namespace qvr::detail
