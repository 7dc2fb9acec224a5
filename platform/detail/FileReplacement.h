// Replacing a file that several programs and users share, for the INI
// profile service: where a write goes when the name is a symbolic link, the
// advisory lock that serialises writers across processes, and the temporary
// file renamed over the target. Readers take no lock: the rename makes them
// see either the whole old or the whole new file.
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

// The folder part of APath ("." when there is none).
std::string FolderOf(const std::string& APath);

// The file that a write of APath replaces: APath itself, or the last target
// of the chain of symbolic links at APath, which need not exist yet (a write
// then creates it). Its folder is given as a canonical path, so that every
// name of one file shares one lock. std::nullopt when the links loop or the
// folder does not exist.
std::optional<std::string> WriteTarget(const std::string& APath);

// The lock of the writers of one file: flock on "<target>.lock" beside it.
// The lock file is never removed (removing it would let two writers hold
// "the" lock on two different files); a new one gets the read permissions
// and the owner and group of the target (as far as the writer may give
// them), so that everyone who may write the target can take it.
class TWriteLock {
 public:
  // Takes the lock of ATarget, waiting at most LockWait() for another
  // writer. ALike is the target's status, or null when it does not exist yet.
  // std::nullopt when the wait ends, or when the lock path cannot be opened
  // or is not a regular file (a FIFO or a link planted there is never
  // followed or waited on).
  static std::optional<TWriteLock> Acquire(const std::string& ATarget, const struct stat* ALike);

  TWriteLock(TWriteLock&& AOther) noexcept : FFd(AOther.FFd) { AOther.FFd = -1; }
  TWriteLock& operator=(TWriteLock&&) = delete;
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;
  ~TWriteLock();

 private:
  explicit TWriteLock(int AFd) : FFd(AFd) {}
  int FFd;
};

// Removes what crashed writes left beside ATarget: regular files named
// "<target name>.tmp-" followed by six letters or digits. Only safe with the
// lock held, since then no other write is using one.
void RemoveLeftovers(const std::string& ATarget);

// Writes ABytes to a new temporary file beside ATarget, flushes it to disk and
// renames it over ATarget. AOld is the status of the file replaced (null for
// a new file, which then gets 0666 less the umask, as any new file). The new
// file gets AOld's mode; root also gives it AOld's owner and group, anyone
// else its group when a member of it. A writer that cannot give the group
// gets false when the group held rights that others do not (the group would
// lose them). False, with ATarget untouched, when any step fails.
bool ReplaceFile(const std::string& ATarget, const std::string& ABytes, const struct stat* AOld);

}  // namespace qvr::detail
