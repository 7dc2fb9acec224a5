// The client's settings in config.ini: read defaults, the written forms, and
// the window-geometry section.
#include "config/uConfigClient.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/ConfigFolder.h"

namespace qvr::config {
namespace {

using test::TConfigFolder;

TEST(TConfigClientTest, DefaultsWithoutFileCreateNothing) {
  TConfigFolder folder;
  const TConfigClient config;
  EXPECT_EQ(config.FileConfig(), folder.ConfigPath());
  EXPECT_EQ(config.IP(), "127.0.0.1");
  EXPECT_EQ(config.Puerto(), 8080);
  EXPECT_EQ(config.UID(), "");
  EXPECT_FALSE(config.RelojWebSobreEscribir());
  EXPECT_FALSE(test::PathExists(folder.ConfigPath()));
}

TEST(TConfigClientTest, SavingIntoANewFileGivesTheDocumentedText) {
  TConfigFolder folder;
  TConfigClient config;
  config.SetIP("192.168.1.20");
  config.SetPuerto(8080);
  config.SetUID("caja1");
  EXPECT_EQ(folder.Read(), "[rest]\nIP=192.168.1.20\nPuerto=8080\nUID=caja1\n");
}

struct TPortCase {
  const char* Stored;
  std::int32_t Expected;
};

const TPortCase kPortCases[] = {
    {"0x1F90", 8080}, {"$1F90", 8080},   {"   8080", 8080},    {"9090a", 8080}, {"9090 ", 9090},
    {"211", 211},     {"-1", -1},        {"abc", 8080},        {"", 8080},      {"0X1f90", 8080},
    {"0x", 8080},     {"$FFFFFFFF", -1}, {"4294967296", 8080},
};

TEST(TConfigClientTest, PuertoFollowsTheIntegerRule) {
  TConfigFolder folder;
  const TConfigClient config;
  for (const auto& c : kPortCases) {
    folder.Write(std::string("[rest]\nPuerto=") + c.Stored + "\n");
    // Blanks after the digits are removed with the value's surrounding blanks,
    // so "9090 " stored in the file reads 9090.
    EXPECT_EQ(config.Puerto(), c.Expected) << c.Stored;
  }
}

TEST(TConfigClientTest, QuotedPortWithTrailingBlankIsMalformed) {
  TConfigFolder folder;
  folder.Write("[rest]\nPuerto=\"9090 \"\n");
  EXPECT_EQ(TConfigClient().Puerto(), 8080);
}

TEST(TConfigClientTest, RelojWebSobreEscribir) {
  TConfigFolder folder;
  TConfigClient config;
  const std::pair<const char*, bool> cases[] = {
      {"2", true}, {"abc", false}, {"0", false}, {"1", true}, {"-1", true}};
  for (const auto& [stored, expected] : cases) {
    folder.Write(std::string("[SYNC]\nreloj web sobreescribir=") + stored + "\n");
    EXPECT_EQ(config.RelojWebSobreEscribir(), expected) << stored;
  }
  folder.Write("");
  config.SetRelojWebSobreEscribir(true);
  EXPECT_EQ(folder.Read(), "[sync]\nReloj Web Sobreescribir=1\n");
  config.SetRelojWebSobreEscribir(false);
  EXPECT_EQ(folder.Read(), "[sync]\nReloj Web Sobreescribir=0\n");
}

TEST(TConfigClientTest, TextValues) {
  TConfigFolder folder;
  TConfigClient config;
  config.SetUID("");
  EXPECT_EQ(folder.Read(), "[rest]\nUID=\n");
  EXPECT_EQ(config.UID(), "");
  config.SetUID("  caja 2  ");
  config.SetIP(" servidor ");
  EXPECT_EQ(config.UID(), "caja 2");
  EXPECT_EQ(config.IP(), "servidor");
  config.SetPuerto(-1);
  EXPECT_EQ(config.Puerto(), -1);
  EXPECT_EQ(folder.Read(), "[rest]\nUID=  caja 2  \nIP= servidor \nPuerto=-1\n");
}

TEST(TConfigClientTest, NothingIsCached) {
  TConfigFolder folder;
  const TConfigClient config;
  folder.Write("[rest]\nIP=10.0.0.5\n");
  EXPECT_EQ(config.IP(), "10.0.0.5");
  folder.Write("[rest]\nIP=10.0.0.6\n");
  EXPECT_EQ(config.IP(), "10.0.0.6");
}

TEST(TConfigClientTest, FileConfigIsComputedOnEveryRead) {
  TConfigFolder first;
  const TConfigClient config;
  EXPECT_EQ(config.FileConfig(), first.ConfigPath());
  TConfigFolder second;
  EXPECT_EQ(config.FileConfig(), second.ConfigPath());
}

TEST(TConfigClientTest, ARefusedWriteNamesTheFile) {
  TConfigFolder folder;
  folder.Write("[rest]\nIP=a\n");
  ASSERT_EQ(::chmod(folder.ConfigPath().c_str(), 0444), 0);
  TConfigClient config;
  try {
    config.SetIP("b");
    FAIL() << "not refused";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + folder.ConfigPath());
  }
  EXPECT_EQ(folder.Read(), "[rest]\nIP=a\n");
}

TEST(TConfigClientTest, AConfigurationOnAFileOfItsOwnUsesThatFileAlone) {
  TConfigFolder beside;
  const test::TTempDir other;
  const std::string path = other.File("sitio.ini");
  TConfigClient config(path);
  EXPECT_EQ(config.FileConfig(), path);
  EXPECT_EQ(config.Puerto(), 8080);
  EXPECT_FALSE(test::PathExists(path)) << "reading creates nothing";
  config.SetIP("10.1.1.1");
  config.SetPuerto(211);
  config.SetUID("caja1");
  EXPECT_EQ(test::ReadFileBytes(path), "[rest]\nIP=10.1.1.1\nPuerto=211\nUID=caja1\n");
  EXPECT_FALSE(test::PathExists(beside.ConfigPath()));
  // The path does not follow the executable's folder.
  const TConfigFolder moved;
  EXPECT_EQ(config.FileConfig(), path);
  EXPECT_EQ(TConfigClient(std::string()).FileConfig(), moved.ConfigPath());

  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  try {
    config.SetUID("kiosco");
    FAIL() << "not refused";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + path);
  }
  EXPECT_EQ(config.UID(), "caja1");
}

// A window whose manager moves it down when it moves sideways, to show that
// every default is taken after the earlier values were applied.
class TFakeWindow : public IWindowGeometry {
 public:
  std::string Name() const override { return "frmPrueba"; }
  std::int32_t Left() const override { return FLeft; }
  void SetLeft(std::int32_t AValue) override {
    Calls.push_back("Left");
    if (AValue != FLeft) FTop += 100;
    FLeft = AValue;
  }
  std::int32_t Top() const override { return FTop; }
  void SetTop(std::int32_t AValue) override {
    Calls.push_back("Top");
    FTop = AValue;
  }
  std::int32_t Width() const override { return FWidth; }
  void SetWidth(std::int32_t AValue) override {
    Calls.push_back("Width");
    FWidth = AValue;
  }
  std::int32_t Height() const override { return FHeight; }
  void SetHeight(std::int32_t AValue) override {
    Calls.push_back("Height");
    FHeight = AValue;
  }
  std::vector<std::string> Calls;

 private:
  std::int32_t FLeft = 10, FTop = 20, FWidth = 300, FHeight = 200;
};

TEST(TConfigClientTest, GuardarYRestaurarPosicion) {
  TConfigFolder folder;
  TConfigClient config;
  TFakeWindow window;
  config.RestaurarPosicion(window);
  EXPECT_EQ(window.Left(), 10);
  EXPECT_EQ(window.Top(), 20);
  EXPECT_EQ(window.Width(), 300);
  EXPECT_EQ(window.Height(), 200);
  EXPECT_FALSE(test::PathExists(folder.ConfigPath()));

  config.GuardarPosicion(window);
  EXPECT_EQ(folder.Read(), "[frmPrueba]\nLeft=10\nTop=20\nWidth=300\nHeight=200\n");

  folder.Write("[FRMPRUEBA]\nLeft=50\nWidth=640\n");
  TFakeWindow moved;
  config.RestaurarPosicion(moved);
  EXPECT_EQ(moved.Calls, (std::vector<std::string>{"Left", "Top", "Width", "Height"}));
  EXPECT_EQ(moved.Left(), 50);
  EXPECT_EQ(moved.Top(), 120) << "the Top default is read after Left moved the window";
  EXPECT_EQ(moved.Width(), 640);
  EXPECT_EQ(moved.Height(), 200);
}

}  // namespace
}  // namespace qvr::config
