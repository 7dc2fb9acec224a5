// The client data module, configured by a config.ini in a temporary folder,
// against the real qvr-server: its connection reaches the server with the
// UID of the file, and the server's options unmarshal into the client's own
// TOpciones.
#include <gtest/gtest.h>

#include "client/dOpciones.h"
#include "client/uGral.h"
#include "rest/RestExceptions.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"
#include "server/ServerCalls.h"
#include "support/ConfigFolder.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

using client::TdmOpciones;
using client::TOpciones;

void WriteConfig(const TConfigFolder& AFolder, int APort, const std::string& AUid) {
  AFolder.Write("[rest]\r\nIP=127.0.0.1\r\nPuerto=" + std::to_string(APort) + "\r\nUID=" + AUid +
                "\r\n");
}

TEST(ServerDataModuleTest, TheDataModulesConnectionReachesTheServerWithTheUidOfConfigIni) {
  TServerProcess open({"--anonymous"});
  TServerProcess closed;
  const struct {
    TServerProcess* Server;
    std::string Uid;
    int Status;  // 0: reached
  } kCases[] = {
      {&open, "", 0},     {&open, "kiosco", 0},    {&closed, "caja1", 0},
      {&closed, "", 401}, {&closed, "nadie", 401}, {&open, "nadie", 401},
  };
  for (const auto& c : kCases) {
    TConfigFolder folder;
    WriteConfig(folder, c.Server->Port(), c.Uid);
    TdmOpciones dm;
    int status = 0;
    try {
      dm.rest().TestConnection({});
    } catch (const rest::TRestProtocolException& AError) {
      status = AError.Status();
    }
    EXPECT_EQ(status, c.Status) << "UID '" << c.Uid << "'";
  }
}

TEST(ServerDataModuleTest, TheOptionsUnmarshalIntoTheClientsRecord) {
  TServerProcess server({"--anonymous"});
  TConfigFolder folder;
  WriteConfig(folder, server.Port(), "");
  TdmOpciones dm;
  auto response =
      dm.rest().SessionExchange("GET", dm.rest().RestBaseURL() + calls::Opciones().Path,
                                "application/JSON", "", rest::TSessionRule::ClearOnProtocolError);
  const auto answer = rest::ParseJSON(response->StringValue());
  const auto* options = answer->AsObject()->GetValue("result")->AsArray()->Items(0);
  rest::TJSONUnMarshal unmarshal;
  const auto object = unmarshal.Unmarshal(*options);
  const auto* record = dynamic_cast<const TOpciones*>(object.get());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->IDStatusDefault, 1);
  EXPECT_FALSE(dm.rest().SessionID().empty());
}

}  // namespace
}  // namespace qvr::test
