// The data module's folders and version text: where the folders go, when they
// are created, what happens when something is in the way, and the version of
// the running program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <set>

#include "client/dBaseCliente.h"
#include "client/uVersionInfo.h"
#include "platform/ExePath.h"
#include "support/ConfigFolder.h"
#include "support/ScopedEnv.h"

namespace qvr::client {
namespace {

namespace fs = std::filesystem;

bool IsFolder(const std::string& APath) {
  struct stat st {};
  return stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Everything under APath, to show that a read created nothing.
std::set<std::string> Tree(const std::string& APath) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(APath)) names.insert(e.path().string());
  return names;
}

// A data module whose config.ini and application-data folder lie in one
// temporary folder: XDG_DATA_HOME points at <tmp>/data, which exists.
class TRutasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppData = Tmp("data");
    ASSERT_TRUE(fs::create_directory(AppData));
    FXdg.Set(AppData);
    Module = std::make_unique<TdmBaseCliente>();
  }

  // <tmp>/AName, in the folder that also holds the module's config.ini.
  std::string Tmp(const std::string& AName) const { return FConfig.Folder() + "/" + AName; }

  test::TConfigFolder FConfig;
  test::TScopedEnv FXdg{"XDG_DATA_HOME", std::nullopt};
  std::string AppData;
  std::unique_ptr<TdmBaseCliente> Module;
};

TEST_F(TRutasTest, FoldersLieUnderTheApplicationDataFolder) {
  EXPECT_EQ(Module->RutaDatos(), AppData + "/QVR/");
  EXPECT_EQ(Module->RutaImagenes(), AppData + "/QVR/imagenes/");
  EXPECT_EQ(Module->RutaRegistros(), AppData + "/QVR/registros/");
  EXPECT_TRUE(IsFolder(AppData + "/QVR/registros"));
}

TEST_F(TRutasTest, FirstReadOfASubFolderCreatesBothLevels) {
  ASSERT_FALSE(test::PathExists(AppData + "/QVR"));
  EXPECT_EQ(Module->RutaImagenes(), AppData + "/QVR/imagenes/");
  EXPECT_TRUE(IsFolder(AppData + "/QVR"));
  EXPECT_TRUE(IsFolder(AppData + "/QVR/imagenes"));
  // Only what was asked for.
  EXPECT_FALSE(test::PathExists(AppData + "/QVR/registros"));
}

TEST_F(TRutasTest, SecondReadGivesTheSameTextAndCreatesNothing) {
  const std::string first = Module->RutaDatos();
  Module->RutaImagenes();
  test::WriteFileBytes(AppData + "/QVR/imagenes/foto.jpg", "jpeg");
  const auto before = Tree(FConfig.Folder());
  EXPECT_EQ(Module->RutaDatos(), first);
  EXPECT_EQ(Module->RutaImagenes(), first + "imagenes/");
  EXPECT_EQ(Tree(FConfig.Folder()), before);
  EXPECT_EQ(test::ReadFileBytes(AppData + "/QVR/imagenes/foto.jpg"), "jpeg");
}

TEST_F(TRutasTest, FolderIsReadAgainOnEveryCall) {
  EXPECT_EQ(Module->RutaDatos(), AppData + "/QVR/");
  const std::string other = Tmp("other");
  ASSERT_TRUE(fs::create_directory(other));
  FXdg.Set(other);
  EXPECT_EQ(Module->RutaRegistros(), other + "/QVR/registros/");
  EXPECT_TRUE(IsFolder(other + "/QVR/registros"));
}

TEST_F(TRutasTest, AFileInTheWayIsLeftAloneAndThePathStillReturned) {
  test::WriteFileBytes(AppData + "/QVR", "not a folder");
  EXPECT_EQ(Module->RutaDatos(), AppData + "/QVR/");
  EXPECT_EQ(Module->RutaImagenes(), AppData + "/QVR/imagenes/");
  EXPECT_EQ(test::ReadFileBytes(AppData + "/QVR"), "not a folder");

  // The same one level down.
  fs::remove(AppData + "/QVR");
  Module->RutaDatos();
  test::WriteFileBytes(AppData + "/QVR/registros", "in the way");
  EXPECT_EQ(Module->RutaRegistros(), AppData + "/QVR/registros/");
  EXPECT_EQ(test::ReadFileBytes(AppData + "/QVR/registros"), "in the way");
}

TEST_F(TRutasTest, LinksAreFollowed) {
  const std::string elsewhere = Tmp("elsewhere");
  ASSERT_TRUE(fs::create_directory(elsewhere));
  fs::create_directory_symlink(elsewhere, AppData + "/QVR");
  EXPECT_EQ(Module->RutaImagenes(), AppData + "/QVR/imagenes/");
  EXPECT_TRUE(IsFolder(elsewhere + "/imagenes"));
  EXPECT_TRUE(fs::is_symlink(AppData + "/QVR"));

  // A link to nowhere cannot be replaced by a folder; the path is returned.
  fs::remove(AppData + "/QVR");
  fs::create_directory_symlink(Tmp("nowhere"), AppData + "/QVR");
  EXPECT_EQ(Module->RutaDatos(), AppData + "/QVR/");
  EXPECT_TRUE(fs::is_symlink(AppData + "/QVR"));
  EXPECT_FALSE(test::PathExists(Tmp("nowhere")));
}

TEST_F(TRutasTest, OnlyOneLevelIsCreated) {
  const std::string missing = Tmp("missing/share");
  FXdg.Set(missing);
  EXPECT_EQ(Module->RutaImagenes(), missing + "/QVR/imagenes/");
  EXPECT_FALSE(test::PathExists(Tmp("missing")));
}

TEST_F(TRutasTest, AFolderThatCannotBeCreatedIsReturnedWithoutError) {
  if (test::RunningAsRoot()) GTEST_SKIP() << "root writes into read-only folders";
  ASSERT_EQ(chmod(AppData.c_str(), 0500), 0);
  EXPECT_EQ(Module->RutaRegistros(), AppData + "/QVR/registros/");
  EXPECT_FALSE(test::PathExists(AppData + "/QVR"));
}

TEST_F(TRutasTest, UnknownApplicationDataFolderGivesTheRootFolder) {
  // Creating /QVR must fail here, so that the test leaves nothing behind.
  if (test::RunningAsRoot() || access("/", W_OK) == 0 || test::PathExists("/QVR")) {
    GTEST_SKIP() << "the root folder is writable or already holds QVR";
  }
  FXdg.Set("/");
  EXPECT_EQ(Module->RutaDatos(), "/QVR/");
  EXPECT_EQ(Module->RutaImagenes(), "/QVR/imagenes/");
}

TEST_F(TRutasTest, VersionIsThatOfTheRunningProgram) {
  EXPECT_EQ(Module->Version(), std::string("v") + QVR_PROJECT_VERSION);
  TVorelFileVersion reader(ExecutablePath());
  reader.SetPrefijo("v");
  EXPECT_EQ(Module->Version(), reader.Version());
}

}  // namespace
}  // namespace qvr::client
