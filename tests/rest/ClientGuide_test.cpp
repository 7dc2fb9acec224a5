// The examples of docs/client-programming.md, compiled and run against a
// stand-in server on 127.0.0.1, so that the guide for the suite's client
// programmers stays true. Each test is one example; the code between the
// "example" markers is what the guide shows.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "client/dBaseCliente.h"
#include "data/DataSetSamples.h"
#include "rest/json/JSONText.h"
#include "rest/uClientClasses.h"
#include "support/ConfigFolder.h"
#include "support/StandInServer.h"

namespace qvr {
namespace {

using namespace qvr::rest;
using test::JsonAnswer;
using test::ResultAnswer;

std::string DataSetListJSON() {
  TDataSetList list;
  list.AddDataSet("Relojes", test::MakeMixedTable(3));
  return WriteJSON(*TJSONConverters::GetJSONMarshaler()->Marshal(&list));
}

class ClientGuide : public ::testing::Test {
 protected:
  ClientGuide() {
    Folder.Write("[rest]\nIP=127.0.0.1\nPuerto=" + std::to_string(Server.Port()) + "\n");
  }
  test::TStandInServer Server;
  test::TConfigFolder Folder;
};

TEST_F(ClientGuide, PlainCallsThroughTheDataModule) {
  Server.Enqueue(ResultAnswer("\"aloh\""));
  Server.Enqueue(ResultAnswer("true"));
  Server.Enqueue(ResultAnswer(R"({"Codigo":7,"Nombre":"Ana"})"));
  Server.Enqueue(
      ResultAnswer(R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3}})"));
  // example: plain calls
  client::TdmBaseCliente dm;  // reads config.ini beside the executable
  TQVRServerMethodsClient& server = dm.Client();

  std::string reversed = server.ReverseString("hola");  // "aloh"
  bool exists = server.ExisteEmpleado(7);

  // InstanceOwner is true in the data module: the object stays with the
  // proxy until the next InfoEmpleado call; the handle only borrows it.
  TMaybeOwned<TJSONObject> employee = server.InfoEmpleado(7);
  if (employee) {
    std::string name = employee->GetValue("Nombre")->AsString()->Value();
    EXPECT_EQ(name, "Ana");
  }

  dm.CargarOpciones();  // the server's options into dm.Opciones()
  std::int32_t status = dm.Opciones().IDStatusDefault;
  // end example
  EXPECT_EQ(reversed, "aloh");
  EXPECT_TRUE(exists);
  EXPECT_FALSE(employee.IsOwned());
  EXPECT_EQ(status, 3);
}

TEST_F(ClientGuide, DataSetListsWithEitherFlag) {
  Server.SetDefaultAnswer(ResultAnswer(DataSetListJSON()));
  client::TdmBaseCliente dm;
  // example: dataset lists
  // With the data module's proxy (InstanceOwner true) the list belongs to the
  // proxy: it lives until the next ListaRelojes call.
  TMaybeOwned<TDataSetList> clocks = dm.Client().ListaRelojes();
  for (int i = 0; clocks && i < clocks->Count(); ++i) {
    const data::TAdaptedDataSet& table = clocks->DataSet(i);
    EXPECT_EQ(clocks->Names()[static_cast<std::size_t>(i)], "Relojes");
    EXPECT_EQ(table.RecordCount(), 3);
  }

  // A proxy of one's own with InstanceOwner false: every list belongs to the
  // caller, and can be kept as a unique_ptr.
  TQVRServerMethodsClient mine(dm.rest(), false);
  std::unique_ptr<TDataSetList> kept = mine.ListaRelojes().TakeOwnership();
  // end example
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->Count(), 1);
}

TEST_F(ClientGuide, HandingObjectsIn) {
  Server.SetDefaultAnswer(ResultAnswer("true"));
  client::TdmBaseCliente dm;
  // example: handing objects in
  // Give the object to the proxy (what InstanceOwner true expects)...
  auto datos = std::make_unique<TJSONObject>();
  datos->AddPair("Codigo", std::make_unique<TJSONNumber>(std::int32_t{7}));
  datos->AddPair("Nombre", "Ana Ruiz");
  bool updated = dm.Client().ActualizarEmpleado(std::move(datos));

  // ...or lend it and keep it (it must live until the next call of the method).
  auto list = std::make_unique<TDataSetList>();
  list->AddDataSet("Asistencia", test::MakeMixedTable(2));
  bool uploaded = dm.Client().SubirAsistencia("marzo.csv", Borrow(*list));
  // end example
  EXPECT_TRUE(updated);
  EXPECT_TRUE(uploaded);
  EXPECT_EQ(list->Count(), 1);
}

TEST_F(ClientGuide, ACachedCall) {
  Server.Enqueue(ResultAnswer("\"S1/0/0\""));
  Server.Enqueue(JsonAnswer(200, R"({"result":{"Codigo":7}})"));
  Server.Enqueue(JsonAnswer(200, R"({"result":{"Codigo":7}})"));
  Server.Enqueue(JsonAnswer(200, "{}"));
  client::TdmBaseCliente dm;
  // example: a cached call
  std::shared_ptr<IRestCachedJSONObject> cached = dm.Client().InfoEmpleado_Cache(7);
  TMaybeOwned<TJSONObject> first = cached->GetValue(dm.rest(), true);    // kept by the item
  TMaybeOwned<TJSONObject> second = cached->GetValue(dm.rest(), false);  // the caller's
  Supports<IRestCachedCommand>(cached)->DeleteCommand(dm.rest());
  cached.reset();  // the item and what it kept go; nothing is sent
  // end example
  EXPECT_FALSE(first.IsOwned());
  ASSERT_TRUE(second);
  EXPECT_EQ(second->ToJSON(), R"({"Codigo":7})");
  EXPECT_EQ(Server.LastRequest().Method, "DELETE");
}

TEST_F(ClientGuide, AnyMethodFromTheCatalogue) {
  const std::string kCatalogue =
      R"([{"name":"TQVRServerMethods","methods":[{"name":"EchoString","parameters":[)"
      R"({"name":"Value","direction":1,"type":26,"typeName":"string"},)"
      R"({"name":"","direction":4,"type":26,"typeName":"string"}]}]},)"
      R"({"name":"Admin","methods":[{"name":"ClearSession","parameters":[]}]}])";
  Server.Enqueue(ResultAnswer(kCatalogue).WithSessionID("S9"));
  Server.Enqueue(ResultAnswer("\"hola\"").WithSessionID("S1"));
  Server.Enqueue(ResultAnswer(kCatalogue).WithSessionID("S1"));
  Server.Enqueue(ResultAnswer());
  client::TdmBaseCliente dm;
  std::vector<std::string> names;
  std::string echoedOut;
  // example: any method from the catalogue
  TRestCommand command(dm.rest());
  command.SetText("TQVRServerMethods.EchoString");
  command.Prepare();  // asks for the catalogue; the session id stays as it was
  command.Parameters()->GetParameterByOrdinal(0).Value().SetWideString("hola");
  command.Execute();
  // An answer without a JSON result is no error for the command: ask.
  if (command.ResultStored()) {
    std::string echoed = command.Parameters()->GetParameterByOrdinal(1).Value().GetWideString();
    echoedOut = echoed;
  }

  // The catalogue itself, and the end of the session.
  TAdminRestClient admin(dm.rest());
  TRestProxyMetaData catalogue = admin.GetServerMethodParameters();
  for (const TRestProxyClass& serverClass : catalogue.Classes) {
    for (const TRestProxyMethod& method : serverClass.Methods) {
      // serverClass.Name + "." + method.Name; method.Parameters is its table
      names.push_back(serverClass.Name + "." + method.Name);
    }
  }
  admin.ClearSession();  // the server forgets the session; so does the connection
  // end example
  EXPECT_EQ(echoedOut, "hola");
  EXPECT_EQ(names,
            (std::vector<std::string>{"TQVRServerMethods.EchoString", "Admin.ClearSession"}));
  EXPECT_EQ(dm.rest().SessionID(), "");
  const auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].Target, "/rpc/rest/TQVRServerMethods/EchoString/hola/");
  EXPECT_EQ(requests[1].Header("Pragma"), "") << "the catalogue's session was not kept";
  EXPECT_EQ(requests[3].Header("Pragma"), "sessionid=S1");
}

}  // namespace
}  // namespace qvr
