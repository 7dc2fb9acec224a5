// The save rule of the connection settings that the options window and qvr
// config set share: the port converted first by the integer rule, nothing
// written when it does not convert, then IP, Puerto and UID in this order.
#include "client/uGuardarConexion.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/IniFile.h"
#include "support/ConfigFolder.h"

namespace qvr::client {
namespace {

using config::TConfigClient;
using test::TConfigFolder;

struct TSaveCase {
  const char* Note;
  const char* Before;  // nullptr: no file
  TConexionTextos Textos;
  bool Saved;
  const char* After;  // nullptr: no file
};

// The port texts are those of the window's rule: leading blanks, a sign and
// hexadecimal forms convert; anything after the digits does not.
const TSaveCase kCases[] = {
    {"a new file",
     nullptr,
     {"192.168.1.20", "8080", "caja1"},
     true,
     "[rest]\nIP=192.168.1.20\nPuerto=8080\nUID=caja1\n"},
    {"leading blanks", nullptr, {"a", "   8080", "u"}, true, "[rest]\nIP=a\nPuerto=8080\nUID=u\n"},
    {"hexadecimal", nullptr, {"a", "0x1F90", "u"}, true, "[rest]\nIP=a\nPuerto=8080\nUID=u\n"},
    {"negative, no range check",
     nullptr,
     {"a", "-1", "u"},
     true,
     "[rest]\nIP=a\nPuerto=-1\nUID=u\n"},
    {"blank after the digits", nullptr, {"a", "8080 ", "u"}, false, nullptr},
    {"blank between digits", "[rest]\nIP=x\n", {"a", "80 80", "u"}, false, "[rest]\nIP=x\n"},
    {"empty port", nullptr, {"a", "", "u"}, false, nullptr},
    {"letters", nullptr, {"a", "abc", "u"}, false, nullptr},
    {"above 32 bits", nullptr, {"a", "4294967296", "u"}, false, nullptr},
    {"the write order shows in the appended keys",
     "[rest]\nUID=old\n",
     {"10.0.0.1", "211", "k"},
     true,
     "[rest]\nUID=k\nIP=10.0.0.1\nPuerto=211\n"},
    {"only the UID",
     "[rest]\nIP=x\nPuerto=1\n",
     {std::nullopt, std::nullopt, "kiosco"},
     true,
     "[rest]\nIP=x\nPuerto=1\nUID=kiosco\n"},
    {"only the port, still checked",
     "[rest]\nIP=x\n",
     {std::nullopt, "9o", std::nullopt},
     false,
     "[rest]\nIP=x\n"},
    {"an empty UID keeps its key",
     nullptr,
     {std::nullopt, std::nullopt, ""},
     true,
     "[rest]\nUID=\n"},
    {"nothing to save", nullptr, {}, true, nullptr},
};

TEST(GuardarConexionTest, ConvertsThePortFirstThenWritesInOrder) {
  for (const auto& c : kCases) {
    TConfigFolder folder;
    if (c.Before != nullptr) folder.Write(c.Before);
    TConfigClient config;
    EXPECT_EQ(GuardarConexion(config, c.Textos), c.Saved) << c.Note;
    if (c.After == nullptr) {
      EXPECT_FALSE(test::PathExists(folder.ConfigPath())) << c.Note;
    } else {
      EXPECT_EQ(folder.Read(), c.After) << c.Note;
    }
  }
}

TEST(GuardarConexionTest, AReadOnlyFileRefusesTheFirstWriteAndStaysAsItWas) {
  TConfigFolder folder;
  const std::string before = "[rest]\nIP=a\nPuerto=1\nUID=b\n";
  folder.Write(before);
  ASSERT_EQ(::chmod(folder.ConfigPath().c_str(), 0444), 0);
  TConfigClient config;
  try {
    GuardarConexion(config, {"c", "2", "d"});
    FAIL() << "not refused";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + folder.ConfigPath());
  }
  EXPECT_EQ(folder.Read(), before);
}

}  // namespace
}  // namespace qvr::client
