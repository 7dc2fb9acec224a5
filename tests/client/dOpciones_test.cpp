// Creating the options utility's data module: the connection takes its host,
// port and user name from config.ini, never the module's design-time values.
#include "client/dOpciones.h"

#include <gtest/gtest.h>

#include "support/ConfigFolder.h"

namespace qvr::client {
namespace {

using test::TConfigFolder;

TEST(TdmOpcionesTest, WithoutConfigFile) {
  TConfigFolder folder;
  TdmOpciones dm;
  EXPECT_TRUE(dm.InstanceOwner());
  EXPECT_EQ(dm.Opciones().IDStatusDefault, 0);
  EXPECT_EQ(dm.rest().Host(), "127.0.0.1");
  EXPECT_EQ(dm.rest().Port(), 8080);
  EXPECT_EQ(dm.rest().UserName(), "");
  EXPECT_FALSE(dm.rest().LoginPrompt());
  EXPECT_EQ(dm.rest().SessionID(), "");
  EXPECT_EQ(dm.config().FileConfig(), folder.ConfigPath());
  EXPECT_FALSE(test::PathExists(folder.ConfigPath())) << "creation writes nothing";
}

struct TConfigCase {
  const char* Content;
  const char* Host;
  std::int32_t Port;
  const char* UserName;
};

const TConfigCase kCases[] = {
    {"[rest]\nIP=10.0.0.5\nPuerto=211\nUID=kiosco\n", "10.0.0.5", 211, "kiosco"},
    {"[rest]\nPuerto=abc\n", "127.0.0.1", 8080, ""},
    {"[rest]\nPuerto=0x1F91\nIP=\"servidor.local\"\n", "servidor.local", 8081, ""},
};

TEST(TdmOpcionesTest, ConnectionFromConfigFile) {
  for (const auto& c : kCases) {
    TConfigFolder folder;
    folder.Write(c.Content);
    TdmOpciones dm;
    EXPECT_EQ(dm.rest().Host(), c.Host) << c.Content;
    EXPECT_EQ(dm.rest().Port(), c.Port) << c.Content;
    EXPECT_EQ(dm.rest().UserName(), c.UserName) << c.Content;
    EXPECT_EQ(dm.rest().LoginProperties().UserName(), c.UserName) << c.Content;
  }
}

TEST(TdmOpcionesTest, AModuleToldWhichFileToUseReadsThatOne) {
  TConfigFolder beside;
  beside.Write("[rest]\nIP=10.0.0.9\nPuerto=9\nUID=junto\n");
  const test::TTempDir other;
  const std::string path = other.File("otro.ini");
  test::WriteFileBytes(path, "[rest]\nIP=10.0.0.5\nPuerto=211\nUID=kiosco\n");
  TdmBaseCliente dm(path);
  EXPECT_EQ(dm.config().FileConfig(), path);
  EXPECT_EQ(dm.rest().Host(), "10.0.0.5");
  EXPECT_EQ(dm.rest().Port(), 211);
  EXPECT_EQ(dm.rest().UserName(), "kiosco");
}

TEST(TdmOpcionesTest, MakesBothStorageFormatsAvailableWhileItLives) {
  TConfigFolder folder;
  {
    TdmOpciones dm;
    EXPECT_TRUE(data::IsStorageFormatRegistered(data::TStorageFormat::sfBinary));
    EXPECT_TRUE(data::IsStorageFormatRegistered(data::TStorageFormat::sfJSON));
  }
  EXPECT_FALSE(data::IsStorageFormatRegistered(data::TStorageFormat::sfBinary));
  EXPECT_FALSE(data::IsStorageFormatRegistered(data::TStorageFormat::sfJSON));
}

// The program entry owns the module and sets dmOpciones for the time it lives;
// the module itself neither sets nor clears it, so that creating or releasing
// another module (a test, a second client) leaves the program's one alone.
TEST(TdmOpcionesTest, GlobalIsSetByTheOwner) {
  TConfigFolder folder;
  ASSERT_EQ(dmOpciones, nullptr);
  {
    TdmOpciones dm;
    EXPECT_EQ(dmOpciones, nullptr) << "the module set the global itself";
    dmOpciones = &dm;  // as the program entry does
    {
      TdmOpciones other;
      EXPECT_EQ(dmOpciones, &dm) << "creating another module changed the global";
    }
    EXPECT_EQ(dmOpciones, &dm) << "releasing another module changed the global";
    EXPECT_EQ(&dmOpciones->config(), &dm.config());
    dmOpciones = nullptr;  // the owner clears it before releasing the module
  }
  EXPECT_EQ(dmOpciones, nullptr);
}

}  // namespace
}  // namespace qvr::client
