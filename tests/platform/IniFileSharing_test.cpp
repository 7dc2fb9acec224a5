// config.ini as the suite shares it: several programs writing at once (real
// processes and threads), the lock on the folder of the file a write
// replaces, readers that never wait, what an administrator set up (group,
// mode, umask) surviving the replacement, and links in a folder that others
// may write. Leftovers of a crashed write are cleaned up by the next write.
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/IniFile.h"
#include "platform/detail/FileReplacement.h"
#include "support/TempDir.h"

// Every call of umask in this executable is counted: a write must not change
// the process-wide mask even for a moment (another thread creating a file at
// that moment would get the wrong permissions).
namespace {
std::atomic<int> gUmaskCalls{0};
}
extern "C" mode_t umask(mode_t AMask) {
  ++gUmaskCalls;
  using TUmask = mode_t (*)(mode_t);
  static const auto real = reinterpret_cast<TUmask>(::dlsym(RTLD_NEXT, "umask"));
  return real(AMask);
}

namespace qvr {
namespace {

using namespace std::chrono_literals;
using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

struct stat StatOf(const std::string& APath) {
  struct stat st {};
  EXPECT_EQ(::lstat(APath.c_str(), &st), 0) << APath;
  return st;
}

std::string KeyName(int AWriter, int AKey) {
  // Appended piece by piece: g++ 12 warns wrongly about a chain of + here.
  std::string name = "K";
  name += std::to_string(AWriter);
  name += '_';
  name += std::to_string(AKey);
  return name;
}

std::string SectionOf(int AWriter, int AKey) {
  return AKey % 2 == 0 ? std::string("rest") : "w" + std::to_string(AWriter);
}

// Waits for the child processes, at most ASeconds in all; the ones still
// running then are killed. True when every child exited with status 0.
bool WaitForChildren(const std::vector<pid_t>& AChildren, int ASeconds) {
  bool allOk = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(ASeconds);
  for (const pid_t pid : AChildren) {
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    if (done == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      allOk = false;
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      allOk = false;
    }
  }
  return allOk;
}

// The writers wait for each other without a time limit that a slow disk could
// reach: what is checked here is that no key is lost.
class IniFileSharingTest : public ::testing::Test {
 protected:
  IniFileSharingTest() { detail::SetLockWait(std::chrono::minutes(2)); }
  ~IniFileSharingTest() override { detail::SetLockWait(FSavedWait); }
  std::chrono::milliseconds FSavedWait = detail::LockWait();
};

TEST_F(IniFileSharingTest, ConcurrentWritingProcessesLoseNoKey) {
  constexpr int kWriters = 4;
  constexpr int kKeys = 100;
  TTempDir dir;
  const std::string path = dir.File("config.ini");
  WriteFileBytes(path, "; shared\n[rest]\nIP=host\n");
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int code = 0;
      try {
        TIniFile ini(path);
        // Half the keys into a shared section, half into one of each writer.
        for (int k = 0; k < kKeys; ++k) {
          ini.WriteString(SectionOf(w, k), KeyName(w, k), "v");
        }
      } catch (...) {
        code = 1;
      }
      ::_exit(code);
    }
    children.push_back(pid);
  }
  EXPECT_TRUE(WaitForChildren(children, 240)) << "a writer failed or did not finish";
  const TIniFile ini(path);
  int missing = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int k = 0; k < kKeys; ++k) {
      if (!ini.ValueExists(SectionOf(w, k), KeyName(w, k))) ++missing;
    }
  }
  EXPECT_EQ(missing, 0) << "of " << kWriters * kKeys << " keys";
  EXPECT_EQ(ini.ReadString("rest", "IP", ""), "host");
  EXPECT_TRUE(ReadFileBytes(path).starts_with("; shared\n[rest]\nIP=host\n"));
}

TEST_F(IniFileSharingTest, ConcurrentWritingThreadsLoseNoKey) {
  constexpr int kWriters = 4;
  constexpr int kKeys = 50;
  TTempDir dir;
  const std::string path = dir.File("config.ini");
  std::vector<std::future<void>> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(std::async(std::launch::async, [&, w]() {
      TIniFile ini(path);
      for (int k = 0; k < kKeys; ++k) ini.WriteString("rest", KeyName(w, k), "v");
    }));
  }
  for (auto& f : writers) f.get();
  const TIniFile ini(path);
  int missing = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int k = 0; k < kKeys; ++k) missing += ini.ValueExists("rest", KeyName(w, k)) ? 0 : 1;
  }
  EXPECT_EQ(missing, 0) << "of " << kWriters * kKeys << " keys";
}

// The names in AFolder, sorted.
std::vector<std::string> NamesIn(const std::string& AFolder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(AFolder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The lock is flock on the folder of the file that a write replaces, which is
// what another program of the suite does too.
class IniFileLockTest : public ::testing::Test {
 protected:
  // Takes the lock as another writer would and holds it until Release.
  void Hold(const std::string& AFolder) {
    FLockFd = ::open(AFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(FLockFd, 0);
    ASSERT_EQ(::flock(FLockFd, LOCK_EX), 0);
  }
  void Release() {
    if (FLockFd >= 0) ::close(FLockFd);
    FLockFd = -1;
  }
  ~IniFileLockTest() override {
    Release();
    detail::SetLockWait(FSavedWait);
  }

  TTempDir FDir;
  std::string FPath = FDir.File("config.ini");
  int FLockFd = -1;
  std::chrono::milliseconds FSavedWait = detail::LockWait();
};

TEST_F(IniFileLockTest, AWriteWaitsForTheLockAndReadersDoNot) {
  WriteFileBytes(FPath, "[rest]\nIP=a\n");
  Hold(FDir.Path());
  TIniFile ini(FPath);
  auto write = std::async(std::launch::async, [&]() { ini.WriteString("rest", "IP", "b"); });
  EXPECT_EQ(write.wait_for(300ms), std::future_status::timeout) << "the write did not wait";
  auto read = std::async(std::launch::async, [&]() { return ini.ReadString("rest", "IP", ""); });
  ASSERT_EQ(read.wait_for(5s), std::future_status::ready) << "a reader waited for the lock";
  EXPECT_EQ(read.get(), "a");
  Release();
  ASSERT_EQ(write.wait_for(10s), std::future_status::ready);
  write.get();
  EXPECT_EQ(ReadFileBytes(FPath), "[rest]\nIP=b\n");
}

TEST_F(IniFileLockTest, ALockHeldTooLongRefusesTheWrite) {
  WriteFileBytes(FPath, "[rest]\nIP=a\n");
  Hold(FDir.Path());
  detail::SetLockWait(200ms);
  TIniFile ini(FPath);
  try {
    ini.WriteString("rest", "IP", "b");
    FAIL() << "the write did not give up";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + FPath);
  }
  EXPECT_EQ(ReadFileBytes(FPath), "[rest]\nIP=a\n");
}

// Through a link, the lock is that of the target's folder, whatever name the
// writers use, and neither folder gets a file of the lock's.
TEST_F(IniFileLockTest, TheLockIsTheFolderOfALinksTarget) {
  std::filesystem::create_directory(FDir.File("etc"));
  const std::string real = FDir.File("etc/real.ini");
  WriteFileBytes(real, "[rest]\nIP=a\n");
  std::filesystem::create_symlink(real, FPath);
  detail::SetLockWait(200ms);

  Hold(FDir.Path());
  TIniFile(FPath).WriteString("rest", "IP", "b");
  Release();
  EXPECT_EQ(ReadFileBytes(real), "[rest]\nIP=b\n");

  Hold(FDir.File("etc"));
  EXPECT_THROW(TIniFile(FPath).WriteString("rest", "IP", "c"), EIniFileException);
  EXPECT_THROW(TIniFile(real).WriteString("rest", "IP", "c"), EIniFileException);
  Release();
  EXPECT_EQ(ReadFileBytes(real), "[rest]\nIP=b\n");

  EXPECT_EQ(NamesIn(FDir.Path()), (std::vector<std::string>{"config.ini", "etc"}));
  EXPECT_EQ(NamesIn(FDir.File("etc")), (std::vector<std::string>{"real.ini"}));
}

// The lock file of an earlier version, or anything planted under its name (a
// FIFO, a link), is neither used, followed nor waited on.
TEST_F(IniFileLockTest, AnythingNamedLikeAnOldLockFileIsLeftAlone) {
  WriteFileBytes(FPath, "[rest]\nIP=a\n");
  const std::string lock = FPath + ".lock";
  const std::string elsewhere = FDir.File("elsewhere");
  for (const bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "FIFO" : "link to a missing file");
    std::filesystem::remove(lock);
    if (fifo) {
      ASSERT_EQ(::mkfifo(lock.c_str(), 0644), 0);
    } else {
      std::filesystem::create_symlink(elsewhere, lock);
    }
    TIniFile ini(FPath);
    auto write = std::async(std::launch::async, [&]() { ini.WriteString("rest", "IP", "b"); });
    ASSERT_EQ(write.wait_for(5s), std::future_status::ready) << "the write waited";
    write.get();
    EXPECT_EQ(ReadFileBytes(FPath), "[rest]\nIP=b\n");
    EXPECT_FALSE(test::PathExists(elsewhere));
    WriteFileBytes(FPath, "[rest]\nIP=a\n");
  }
  EXPECT_TRUE(std::filesystem::is_symlink(lock));
}

TEST(IniFileReplacementTest, NewFilesFollowTheUmaskWhichStaysUntouched) {
  TTempDir dir;
  for (const mode_t mask : {mode_t{027}, mode_t{002}}) {
    const mode_t saved = ::umask(mask);
    gUmaskCalls = 0;
    const std::string path = dir.File("config" + std::to_string(mask) + ".ini");
    TIniFile ini(path);
    ini.WriteString("rest", "IP", "a");
    ini.WriteString("rest", "UID", "b");
    EXPECT_EQ(gUmaskCalls, 0) << "a write changed the process-wide umask";
    ::umask(saved);
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0666u & ~mask);
  }
}

// A supplementary group of this process other than its effective group, or
// -1 (tests/run-as-user.sh gives the ordinary user one).
gid_t OtherGroup() {
  std::vector<gid_t> groups(static_cast<std::size_t>(::getgroups(0, nullptr)) + 1);
  const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
  for (int i = 0; i < n; ++i) {
    if (groups[static_cast<std::size_t>(i)] != ::getegid())
      return groups[static_cast<std::size_t>(i)];
  }
  return static_cast<gid_t>(-1);
}

TEST(IniFileReplacementTest, AGroupSharedFileKeepsItsGroupAndMode) {
  TTempDir dir;
  const std::string path = dir.File("config.ini");
  WriteFileBytes(path, "[rest]\nIP=a\n");
  ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
  if (test::RunningAsRoot()) {
    // Root gives the new file the old one's owner as well.
    ASSERT_EQ(::chown(path.c_str(), 65534, 100), 0);
  } else {
    const gid_t group = OtherGroup();
    if (group == static_cast<gid_t>(-1)) GTEST_SKIP() << "no supplementary group to share with";
    ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), group), 0);
  }
  const struct stat before = StatOf(path);
  TIniFile(path).WriteString("rest", "IP", "b");
  const struct stat after = StatOf(path);
  EXPECT_NE(after.st_ino, before.st_ino) << "the file was not replaced";
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_mode & 07777, 0664u);
  EXPECT_EQ(ReadFileBytes(path), "[rest]\nIP=b\n");
}

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
constexpr uid_t kDaemon = 1;   // a third user
constexpr gid_t kUsers = 100;  // a group nobody is not in

// How a write of "[rest] IP=b" into APath by AUser ended: 0 written, 3 refused
// with "Unable to write to <APath>", anything else a fault. A user other than
// this process's is played by a child process (root only) that becomes AUser
// with group nogroup and no supplementary groups.
int WriteAs(uid_t AUser, const std::string& APath) {
  const auto write = [&APath]() {
    try {
      TIniFile(APath).WriteString("rest", "IP", "b");
      return 0;
    } catch (const EIniFileException& e) {
      return e.Message() == "Unable to write to " + APath ? 3 : 5;
    }
  };
  if (AUser == ::geteuid()) return write();
  const pid_t pid = ::fork();
  if (pid < 0) return 6;
  if (pid == 0) {
    int code = 4;
    if (::setgroups(0, nullptr) == 0 && ::setresgid(kNogroup, kNogroup, kNogroup) == 0 &&
        ::setresuid(AUser, AUser, AUser) == 0) {
      code = write();
    }
    ::_exit(code);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return 7;
  return WEXITSTATUS(status);
}

// What an ordinary user may replace, checked as root with the user nobody
// writing a file that root prepared: the writer must be allowed to write the
// file itself, and the group may not lose access because the writer cannot
// give the new file that group.
TEST(IniFileReplacementTest, AWriterOutsideTheFilesGroupOrRights) {
  if (!test::RunningAsRoot()) GTEST_SKIP() << "needs root to prepare other users' files";
  struct TCase {
    const char* Note;
    uid_t Owner;
    gid_t Group;
    mode_t Mode;
    bool Written;
  };
  const TCase cases[] = {
      {"owner, group has more rights than others", kNobody, kUsers, 0664, false},
      {"owner, group has no more rights than others", kNobody, kUsers, 0644, true},
      {"world-writable file of root", 0, kUsers, 0666, true},
      {"another owner's file without write rights for others", 0, 0, 0644, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Note);
    TTempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    const std::string path = dir.File("config.ini");
    WriteFileBytes(path, "[rest]\nIP=a\n");
    ASSERT_EQ(::chown(path.c_str(), c.Owner, c.Group), 0);
    ASSERT_EQ(::chmod(path.c_str(), c.Mode), 0);
    EXPECT_EQ(WriteAs(kNobody, path), c.Written ? 0 : 3);
    const struct stat after = StatOf(path);
    if (c.Written) {
      EXPECT_EQ(ReadFileBytes(path), "[rest]\nIP=b\n");
      EXPECT_EQ(after.st_mode & 07777, c.Mode);
    } else {
      EXPECT_EQ(ReadFileBytes(path), "[rest]\nIP=a\n");
      EXPECT_EQ(after.st_uid, c.Owner);
      EXPECT_EQ(after.st_gid, c.Group);
    }
  }
}

// A folder that others than its owner may write, as the package makes
// /etc/qvr (root:qvr 2775): whoever may add names to it could replace
// config.ini by a link to any file. A write follows such a link only when it
// belongs to root or to the writer, as the kernel does in sticky
// world-writable folders; otherwise it is refused and touches nothing.
// Reads follow any link.
class IniFileSharedFolderTest : public ::testing::Test {
 protected:
  // How the file a write reaches is named.
  enum class TVia {
    Link,    // shared/config.ini, a link to etc/real.ini
    Chain,   // config.ini, root's link to shared/second.ini, a link to etc/real.ini
    Folder,  // config.ini, root's link to shared/sub/real.ini, where shared/sub links to etc
  };

  // Lays out the folders for AVia: the link in "shared" (mode ASharedMode)
  // belongs to ALinkOwner; etc/real.ini, "[rest] IP=a", is a file of root
  // that anyone may write, in a folder anyone may write, so that only the
  // link decides. Returns the name to write; empty (with a failure) when the
  // folders could not be laid out.
  std::string LayOut(TVia AVia, mode_t ASharedMode, uid_t ALinkOwner) {
    // Every user may reach the folders.
    if (::chmod(FDir.Path().c_str(), 0755) != 0) return Failed("chmod");
    std::filesystem::create_directory(FShared);
    std::filesystem::create_directory(FEtc);
    if (::chmod(FShared.c_str(), ASharedMode) != 0 || ::chmod(FEtc.c_str(), 0777) != 0) {
      return Failed("chmod");
    }
    WriteFileBytes(FReal, "[rest]\nIP=a\n");
    if (::chmod(FReal.c_str(), 0666) != 0) return Failed("chmod");
    std::string link;
    switch (AVia) {
      case TVia::Link:
        link = FShared + "/config.ini";
        std::filesystem::create_symlink(FReal, link);
        break;
      case TVia::Chain:
        link = FShared + "/second.ini";
        std::filesystem::create_symlink(FReal, link);
        std::filesystem::create_symlink(link, FDir.File("config.ini"));
        break;
      case TVia::Folder:
        link = FShared + "/sub";
        std::filesystem::create_symlink("../etc", link);
        std::filesystem::create_symlink(FShared + "/sub/real.ini", FDir.File("config.ini"));
        break;
    }
    if (ALinkOwner != ::geteuid() && ::lchown(link.c_str(), ALinkOwner, kNogroup) != 0) {
      return Failed("lchown");
    }
    FLinkName = std::filesystem::path(link).filename().string();
    return AVia == TVia::Link ? link : FDir.File("config.ini");
  }

  // Checks the outcome of a write of APath that AWritten says went through
  // or was refused, with nothing else touched either way.
  void ExpectWritten(const std::string& APath, bool AWritten) {
    EXPECT_EQ(ReadFileBytes(FReal), AWritten ? "[rest]\nIP=b\n" : "[rest]\nIP=a\n");
    EXPECT_TRUE(std::filesystem::is_symlink(FShared + "/" + FLinkName));
    EXPECT_EQ(NamesIn(FShared), std::vector<std::string>{FLinkName}) << "a file beside the link";
    EXPECT_EQ(NamesIn(FEtc), std::vector<std::string>{"real.ini"}) << "a file beside the target";
    // The kernel itself may refuse to follow another user's link in a sticky
    // folder (fs.protected_symlinks); the file then reads as absent.
    const struct stat shared = StatOf(FShared);
    if ((shared.st_mode & S_ISVTX) == 0) {
      EXPECT_EQ(TIniFile(APath).ReadString("rest", "IP", ""), AWritten ? "b" : "a");
    }
  }

  std::string Failed(const char* AStep) {
    ADD_FAILURE() << AStep << ": " << std::strerror(errno);
    return {};
  }

  TTempDir FDir;
  std::string FShared = FDir.File("shared");
  std::string FEtc = FDir.File("etc");
  std::string FReal = FDir.File("etc/real.ini");
  std::string FLinkName;
};

TEST_F(IniFileSharedFolderTest, TheWritersOwnLinksAreFollowed) {
  for (const mode_t mode : {mode_t{0755}, mode_t{02775}, mode_t{0777}, mode_t{01777}}) {
    SCOPED_TRACE(mode);
    for (const TVia via : {TVia::Link, TVia::Chain, TVia::Folder}) {
      std::filesystem::remove_all(FShared);
      std::filesystem::remove_all(FEtc);
      std::filesystem::remove(FDir.File("config.ini"));
      const std::string path = LayOut(via, mode, ::geteuid());
      ASSERT_FALSE(path.empty());
      EXPECT_EQ(WriteAs(::geteuid(), path), 0);
      ExpectWritten(path, true);
    }
  }
}

TEST_F(IniFileSharedFolderTest, OtherUsersLinksAreNotFollowedForWriting) {
  if (!test::RunningAsRoot()) {
    GTEST_SKIP() << "needs root to make links of other users and to write as another user";
  }
  struct TCase {
    const char* Note;
    TVia Via;
    mode_t SharedMode;
    uid_t LinkOwner;
    uid_t Writer;
    bool Written;
  };
  const TCase cases[] = {
      {"root's link in a group-writable folder", TVia::Link, 02775, 0, 0, true},
      {"another user's link in a folder only root writes", TVia::Link, 0755, kNobody, 0, true},
      {"another user's link in a group-writable folder", TVia::Link, 02775, kNobody, 0, false},
      {"another user's link in a group-writable sticky folder", TVia::Link, 01775, kNobody, 0,
       false},
      {"another user's link in a world-writable folder", TVia::Link, 0777, kNobody, 0, false},
      {"another user's link in a sticky world-writable folder", TVia::Link, 01777, kNobody, 0,
       false},
      {"a user writing through root's link", TVia::Link, 0777, 0, kNobody, true},
      {"a user writing through a third user's link", TVia::Link, 0777, kDaemon, kNobody, false},
      {"root's link to another user's link", TVia::Chain, 02775, kNobody, 0, false},
      {"root's link to root's link", TVia::Chain, 02775, 0, 0, true},
      {"another user's link as a folder on the way", TVia::Folder, 02775, kNobody, 0, false},
      {"root's link as a folder on the way", TVia::Folder, 02775, 0, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Note);
    std::filesystem::remove_all(FShared);
    std::filesystem::remove_all(FEtc);
    std::filesystem::remove(FDir.File("config.ini"));
    const std::string path = LayOut(c.Via, c.SharedMode, c.LinkOwner);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(WriteAs(c.Writer, path), c.Written ? 0 : 3);
    ExpectWritten(path, c.Written);
  }
}

TEST(IniFileReplacementTest, LeftoversOfACrashedWriteAreRemovedByTheNextWrite) {
  TTempDir dir;
  const std::string path = dir.File("config.ini");
  WriteFileBytes(path, "[rest]\nIP=a\n");
  const std::vector<std::string> leftovers = {"config.ini.tmp-Ab12Cd", "config.ini.tmp-zzzzzz"};
  // Names that only look alike, and a folder of the temporary files' name.
  const std::vector<std::string> kept = {"config.ini.tmp-Ab12C", "config.ini.tmp-Ab12Cd.bak",
                                         "other.ini.tmp-Ab12Cd", "config.ini.tmp-Ab-2Cd"};
  for (const auto& name : leftovers) WriteFileBytes(dir.File(name), "[rest]\nIP=half");
  for (const auto& name : kept) WriteFileBytes(dir.File(name), "mine");
  std::filesystem::create_directory(dir.File("config.ini.tmp-Dir123"));

  TIniFile(path).WriteString("rest", "IP", "b");
  for (const auto& name : leftovers) EXPECT_FALSE(test::PathExists(dir.File(name))) << name;
  for (const auto& name : kept) EXPECT_EQ(ReadFileBytes(dir.File(name)), "mine") << name;
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("config.ini.tmp-Dir123")));
  EXPECT_EQ(ReadFileBytes(path), "[rest]\nIP=b\n");
}

}  // namespace
}  // namespace qvr
