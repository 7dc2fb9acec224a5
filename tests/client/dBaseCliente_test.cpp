// The data module's proxy and options: Client is created on first use on the
// module's connection and flag, a module that never uses it sends nothing, and
// CargarOpciones replaces Opciones only when the server answered an options
// record, against a stand-in server on 127.0.0.1 that config.ini points at.
#include "client/dBaseCliente.h"

#include <gtest/gtest.h>

#include <string>

#include "support/ConfigFolder.h"
#include "support/StandInServer.h"

namespace qvr::client {
namespace {

using test::JsonAnswer;
using test::ResultAnswer;
using test::TConfigFolder;
using test::TStandInServer;

class DataModuleClient : public ::testing::Test {
 protected:
  DataModuleClient() {
    Folder.Write("[rest]\nIP=127.0.0.1\nPuerto=" + std::to_string(Server.Port()) +
                 "\nUID=kiosco\n");
  }
  // Declared first so that it outlives the module's open socket.
  TStandInServer Server;
  TConfigFolder Folder;
};

TEST_F(DataModuleClient, WithoutClientNothingIsCreatedOrSent) {
  {
    TdmBaseCliente module;
    EXPECT_FALSE(module.HasClient());
    EXPECT_FALSE(module.rest().HasHTTP());
  }
  EXPECT_EQ(Server.RequestCount(), 0u);
}

TEST_F(DataModuleClient, ClientIsCreatedOnceOnTheModulesConnection) {
  TdmBaseCliente module;
  rest::TQVRServerMethodsClient& client = module.Client();
  EXPECT_TRUE(module.HasClient());
  EXPECT_EQ(&module.Client(), &client);
  EXPECT_EQ(&client.Connection(), &module.rest());
  EXPECT_TRUE(client.InstanceOwner());
  Server.Enqueue(ResultAnswer("\"aloh\""));
  EXPECT_EQ(client.ReverseString("hola"), "aloh");
  const auto request = Server.LastRequest();
  EXPECT_EQ(request.Target, "/rpc/rest/TQVRServerMethods/ReverseString/hola/");
  EXPECT_EQ(request.Header("Authorization"), "Basic a2lvc2NvOg==") << "kiosco with no password";
}

TEST_F(DataModuleClient, CargarOpcionesReplacesTheRecordOnlyOnSuccess) {
  TdmBaseCliente module;
  Server.Enqueue(
      ResultAnswer(R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3}})"));
  module.CargarOpciones();
  EXPECT_EQ(module.Opciones().IDStatusDefault, 3);
  EXPECT_EQ(Server.LastRequest().Target, "/rpc/rest/TQVRServerMethods/Opciones/");

  struct TCase {
    std::string Answer;  // a whole body
    const char* Message;
  };
  const TCase kCases[] = {
      {R"({"result":[{"type":"System.JSON.TJSONObject","id":1,"fields":{}}]})",
       "Invalid class typecast"},
      {R"({"result":[null]})", "The input value is not a valid Object"},
      {R"({"result":["texto"]})", "The input value is not a valid Object"},
      {R"({"result":[{"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":"x"}}]})",
       "'x' is not a valid integer value"},
      {R"({"result":[{"type":"uGral.TOtra","id":1,"fields":{}}]})",
       "Internal: Cannot instantiate type uGral.TOtra"},
  };
  for (const TCase& k : kCases) {
    Server.Enqueue(JsonAnswer(200, k.Answer));
    try {
      module.CargarOpciones();
      FAIL() << k.Answer;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), k.Message) << k.Answer;
    }
    EXPECT_EQ(module.Opciones().IDStatusDefault, 3) << "unchanged after " << k.Answer;
  }
  Server.Enqueue(test::ErrorAnswer(503, "mantenimiento"));
  EXPECT_THROW(module.CargarOpciones(), rest::TRestProtocolException);
  EXPECT_EQ(module.Opciones().IDStatusDefault, 3);
}

}  // namespace
}  // namespace qvr::client
