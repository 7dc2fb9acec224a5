// The file-version reader on executables of this build (the probe carries
// 10.2.0.117, this program the project's version), on files without a
// version, and on files that cannot be read.
#include "client/uVersionInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/ElfTestImage.h"
#include "platform/SysUtils.h"
#include "support/TempDir.h"

namespace qvr::client {
namespace {

using test::TTempDir;

std::string SystemError(int ACode) {
  return Format("System Error.  Code: %d.", ACode) + "\n" + std::strerror(ACode);
}

// Runs AAction and checks that it raises EOSError with ACode and its message.
void ExpectOSError(const std::function<void()>& AAction, int ACode) {
  try {
    AAction();
    ADD_FAILURE() << "no error raised";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), ACode);
    EXPECT_EQ(e.Message(), SystemError(ACode));
  }
}

TEST(TVorelFileVersion, CreatedEmptyReadsNothing) {
  TVorelFileVersion v;
  EXPECT_EQ(v.FileName(), "");
  EXPECT_EQ(v.Prefijo(), "");
  EXPECT_EQ(v.FileVersion(), TFileVersion{});
  EXPECT_EQ(v.Version(), "0.0.0.0");
}

TEST(TVorelFileVersion, ReadsTheVersionWithoutLeadingZeros) {
  TVorelFileVersion v(QVR_VERSION_PROBE);
  EXPECT_EQ(v.FileName(), QVR_VERSION_PROBE);
  EXPECT_EQ(v.FileVersion(), (TFileVersion{10, 2, 0, 117}));
  EXPECT_EQ(v.Prefijo(), "");
  EXPECT_EQ(v.Version(), "10.2.0.117");
  v.SetPrefijo("v");
  EXPECT_EQ(v.Version(), "v10.2.0.117");
}

TEST(TVorelFileVersion, ReadsTheProjectVersionOfThisProgram) {
  TVorelFileVersion v("/proc/self/exe");
  EXPECT_EQ(v.Version(), QVR_PROJECT_VERSION);
}

TEST(TVorelFileVersion, SettingFileNameReadsAgain) {
  TVorelFileVersion v(QVR_VERSION_PROBE);
  v.SetPrefijo("v");
  v.SetFileName("/proc/self/exe");
  EXPECT_EQ(v.Version(), std::string("v") + QVR_PROJECT_VERSION);

  // A name that cannot be read is kept; the version read before stays.
  TTempDir dir;
  ExpectOSError([&] { v.SetFileName(dir.File("missing")); }, ENOENT);
  EXPECT_EQ(v.FileName(), dir.File("missing"));
  EXPECT_EQ(v.Version(), std::string("v") + QVR_PROJECT_VERSION);
}

TEST(TVorelFileVersion, ActualizarReadsTheFileAsItIsNow) {
  TTempDir dir;
  const std::string path = dir.File("program");
  test::WriteFileBytes(path, test::ReadFileBytes(QVR_VERSION_PROBE));
  TVorelFileVersion v(path);
  EXPECT_EQ(v.Version(), "10.2.0.117");
  test::WriteFileBytes(path, test::ReadFileBytes("/proc/self/exe"));
  v.Actualizar();
  EXPECT_EQ(v.Version(), QVR_PROJECT_VERSION);
}

TEST(TVorelFileVersion, FilesWithoutAReadableVersionRaise) {
  TTempDir dir;
  const std::string probe = test::ReadFileBytes(QVR_VERSION_PROBE);
  // A copy of the probe patched by AChange.
  const auto patched = [&](const std::function<void(test::TElfTestImage&)>& AChange) {
    test::TElfTestImage img(probe);
    AChange(img);
    return img.Bytes;
  };
  struct TCase {
    const char* Name;
    std::optional<std::string> Bytes;  // none: the path is used as it is
    std::string Path;
    int Errno;
    bool NeedsNonRoot = false;
  };
  const std::vector<TCase> cases = {
      {"missing file", std::nullopt, dir.File("missing"), ENOENT},
      {"folder", std::nullopt, dir.Path(), EISDIR},
      {"empty name", std::nullopt, "", ENOENT},
      {"empty file", "", dir.File("empty"), ENODATA},
      {"text file", "just text\n", dir.File("text"), ENODATA},
      {"executable without the version note",
       patched([](auto& i) { i.Bytes[i.VersionNote() + 12] = 'X'; }), dir.File("nonote"), ENODATA},
      {"version note with a short description",
       patched([](auto& i) { i.Set(i.VersionNote() + 4, 4, 4); }), dir.File("short"), ENODATA},
      {"truncated executable", probe.substr(0, probe.size() / 2), dir.File("cut"), ENODATA},
      {"unreadable file", probe, dir.File("locked"), EACCES, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.NeedsNonRoot && test::RunningAsRoot()) continue;  // root reads it anyway
    if (c.Bytes) test::WriteFileBytes(c.Path, *c.Bytes);
    if (c.Errno == EACCES) {
      ASSERT_EQ(chmod(c.Path.c_str(), 0), 0);
    }
    ExpectOSError([&] { TVorelFileVersion v(c.Path); }, c.Errno);
    // Through Actualizar the version read before is kept.
    TVorelFileVersion v(QVR_VERSION_PROBE);
    ExpectOSError([&] { v.SetFileName(c.Path); }, c.Errno);
    EXPECT_EQ(v.Version(), "10.2.0.117");
  }
}

}  // namespace
}  // namespace qvr::client
