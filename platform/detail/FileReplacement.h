// Replacing a file that several programs and users share, for the INI
// profile service: where a write goes when the name is a symbolic link (and
// which links a write may follow), the advisory lock that serialises writers
// across processes, and the temporary file renamed over the target. Readers
// take no lock: the rename makes them see either the whole old or the whole
// new file. The lock is taken on the folder itself, so writing leaves no file
// of its own anywhere.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <optional>
#include <string>

namespace qvr::detail {

// How long a write waits for another writer's lock before it gives up: 10
// seconds unless set (tests shorten it).
std::chrono::milliseconds LockWait();
void SetLockWait(std::chrono::milliseconds AWait);

// The file that a write of a path replaces: its folder, as a canonical path
// (no link, "." or ".." in it) and as the device and inode found there, and
// its name in that folder.
struct TWriteTarget {
  std::string Folder;
  std::string Name;
  dev_t FolderDevice = 0;
  ino_t FolderInode = 0;
};

// Resolves APath as the kernel does, one name at a time, following the
// symbolic links met on the way (of the folders and of the file itself); the
// last name need not exist yet (a write then creates it). A link is followed
// only when the writer can trust it: a link that lies in a folder that its
// group or others may write (sticky or not) must belong to root or to the
// writing user, the rule that fs.protected_symlinks applies in sticky
// world-writable folders (where the kernel trusts the folder's owner too,
// and this rule root only). Otherwise whoever may only add names to such a
// folder could send the write of another user, root included, to any file
// that user may write. std::nullopt when a link may not be followed, when the
// links loop, or when a folder on the way does not exist.
std::optional<TWriteTarget> WriteTarget(const std::string& APath);

// The lock of the writers of the files of one folder: flock on a descriptor
// of the folder itself (opened O_RDONLY | O_DIRECTORY), which every program
// of the suite takes before it reads a file to change it, so that writers
// never lose each other's keys. It needs no file of its own, so nothing is
// ever created beside the file or beside a link's target. The descriptor
// also serves the steps of the write (openat, renameat), so that they act in
// the very folder that WriteTarget found even if a name on its path is
// changed meanwhile. Anyone who may read the folder may take the lock (flock
// asks no more), so a reader holding it makes writes wait; each write waits
// at most LockWait() and then fails.
class TWriteLock {
 public:
  // Opens AFolder's folder and takes its lock, waiting at most LockWait() for
  // another writer. std::nullopt when the wait ends, when the folder cannot
  // be opened, or when it is no longer the folder WriteTarget found.
  static std::optional<TWriteLock> Acquire(const TWriteTarget& AFolder);

  // The folder, for the *at calls of the write.
  int Folder() const { return FFd; }

  TWriteLock(TWriteLock&& AOther) noexcept : FFd(AOther.FFd) { AOther.FFd = -1; }
  TWriteLock& operator=(TWriteLock&&) = delete;
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;
  ~TWriteLock();

 private:
  explicit TWriteLock(int AFd) : FFd(AFd) {}
  int FFd;
};

// Removes what crashed writes left beside the file AName in the locked
// folder: regular files named "<AName>.tmp-" followed by six letters or
// digits. Only safe with the lock held, since then no other write is using
// one.
void RemoveLeftovers(const TWriteLock& AFolder, const std::string& AName);

// Writes ABytes to a new temporary file beside AName in the locked folder,
// flushes it to disk and renames it over AName. AOld is the status of the
// file replaced (null for a new file, which then gets 0666 less the umask, as
// any new file). The new file gets AOld's mode; root also gives it AOld's
// owner and group, anyone else its group when a member of it. A writer that
// cannot give the group gets false when the group held rights that others do
// not (the group would lose them). False, with AName untouched, when any step
// fails.
bool ReplaceFile(const TWriteLock& AFolder, const std::string& AName, const std::string& ABytes,
                 const struct stat* AOld);

}  // namespace qvr::detail
