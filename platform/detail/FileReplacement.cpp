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
#include <vector>

namespace qvr::detail {

namespace {

using namespace std::chrono_literals;

std::atomic<std::chrono::milliseconds::rep> gLockWaitMs{10000};

// Beyond this many links in a chain the kernel itself gives up (ELOOP).
constexpr int kMaxLinks = 40;

constexpr char kTempInfix[] = ".tmp-";
constexpr std::size_t kTempRandom = 6;
constexpr char kTempLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool IsTempLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Creates a new temporary file beside AName in AFolder with AMode (less the
// umask); -1 when none can be created.
int CreateTemp(int AFolder, const std::string& AName, mode_t AMode, std::string& ATemp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[kTempRandom] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
    ATemp = AName + kTempInfix;
    for (const unsigned char r : random) ATemp += kTempLetters[r % (sizeof kTempLetters - 1)];
    const int fd = ::openat(AFolder, ATemp.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, AMode);
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

std::optional<TWriteTarget> WriteTarget(const std::string& APath) {
  if (APath.empty()) return std::nullopt;
  // The folder reached so far, canonical ("" is the root), and its status.
  std::string folder;
  if (APath.front() != '/') {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) return std::nullopt;
    folder = cwd;
    std::free(cwd);
    if (folder == "/") folder.clear();
  }
  struct stat folderStatus {};
  const auto enter = [&](std::string AFolder) {
    folder = std::move(AFolder);
    return ::stat(folder.empty() ? "/" : folder.c_str(), &folderStatus) == 0 &&
           S_ISDIR(folderStatus.st_mode);
  };
  if (!enter(folder)) return std::nullopt;
  // The names still to walk, the next one last.
  std::vector<std::string> pending;
  const auto push = [&pending](const std::string& APathText) {
    std::size_t end = APathText.size();
    while (end > 0) {
      const auto slash = APathText.rfind('/', end - 1);
      const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
      if (end > begin) pending.emplace_back(APathText.substr(begin, end - begin));
      if (slash == std::string::npos) break;
      end = slash;
    }
  };
  push(APath);
  const auto found = [&](const std::string& AName) {
    return TWriteTarget{folder.empty() ? "/" : folder, AName, folderStatus.st_dev,
                        folderStatus.st_ino};
  };
  int links = 0;
  while (!pending.empty()) {
    const std::string name = std::move(pending.back());
    pending.pop_back();
    if (name == ".") continue;
    if (name == "..") {
      if (!enter(folder.substr(0, folder.empty() ? 0 : folder.rfind('/')))) return std::nullopt;
      continue;
    }
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT || !pending.empty()) return std::nullopt;
      return found(name);  // a file yet to be created
    }
    if (S_ISLNK(st.st_mode)) {
      // What fs.protected_symlinks asks in sticky world-writable folders,
      // asked in every folder that others than its owner may write (group
      // bits stand for ACL entries too). The kernel trusts the folder's
      // owner as well; here only root, so that a user who owns a shared
      // folder cannot send root's write elsewhere either.
      const bool shared = (folderStatus.st_mode & (S_IWGRP | S_IWOTH)) != 0;
      if (shared && st.st_uid != 0 && st.st_uid != ::geteuid()) return std::nullopt;
      if (++links > kMaxLinks) return std::nullopt;
      char buf[PATH_MAX];
      const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
      if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return std::nullopt;
      const std::string target(buf, static_cast<std::size_t>(n));
      if (target.front() == '/' && !enter("")) return std::nullopt;
      push(target);
      continue;
    }
    if (pending.empty()) {
      return found(name);
    }
    if (!S_ISDIR(st.st_mode) || !enter(path)) return std::nullopt;
  }
  // The path names a folder ("/", "etc/."): nothing a write can replace.
  return std::nullopt;
}

std::optional<TWriteLock> TWriteLock::Acquire(const TWriteTarget& AFolder) {
  // O_NOFOLLOW and the identity check: the lock and every later step act in
  // the folder that WriteTarget checked, not in one put in its place since.
  const int fd = ::open(AFolder.Folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  TWriteLock lock(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_dev != AFolder.FolderDevice ||
      st.st_ino != AFolder.FolderInode) {
    return std::nullopt;
  }

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

void RemoveLeftovers(const TWriteLock& AFolder, const std::string& AName) {
  const std::string prefix = AName + kTempInfix;
  // A descriptor of its own for the listing: closing it leaves the lock,
  // which belongs to the lock's open file, in place.
  const int listing = ::openat(AFolder.Folder(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    ::close(listing);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.size() != prefix.size() + kTempRandom || !name.starts_with(prefix) ||
        !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     IsTempLetter)) {
      continue;
    }
    struct stat st {};
    if (::fstatat(AFolder.Folder(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode)) {
      ::unlinkat(AFolder.Folder(), entry->d_name, 0);  // best effort: a leftover harms nobody
    }
  }
  ::closedir(dir);
}

bool ReplaceFile(const TWriteLock& AFolder, const std::string& AName, const std::string& ABytes,
                 const struct stat* AOld) {
  const int folder = AFolder.Folder();
  std::string temp;
  // A new file gets the umask applied by the kernel as it is created (the
  // process-wide mask is never changed). A replacement starts private and
  // gets the old file's mode before any byte is written.
  const int fd = CreateTemp(folder, AName, AOld != nullptr ? 0600 : 0666, temp);
  if (fd < 0) return false;
  bool ok = true;
  if (AOld != nullptr) {
    // Owner and group first: changing them clears set-id bits of the mode.
    ok = TakeOwnerAndGroup(fd, *AOld) && ::fchmod(fd, AOld->st_mode & 07777) == 0;
  }
  ok = ok && WriteWhole(fd, ABytes);
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::renameat(folder, temp.c_str(), folder, AName.c_str()) == 0;
  if (!ok) {
    ::unlinkat(folder, temp.c_str(), 0);
    return false;
  }
  ::fsync(folder);  // makes the rename itself durable; best effort
  return true;
}

}  // namespace qvr::detail
