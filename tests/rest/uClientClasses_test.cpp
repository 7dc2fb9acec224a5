// The server methods client against a stand-in server on 127.0.0.1: the exact
// request of every method (verb, path, body), the typed result it reads back,
// who owns what with the instance-owner flag true and false, and the edge
// cases of dataset-list results and uploads.
#include "rest/uClientClasses.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/DataSetSamples.h"
#include "rest/json/JSONText.h"
#include "support/StandInServer.h"

namespace qvr::rest {
namespace {

using test::JsonAnswer;
using test::ResultAnswer;
using test::TStandInServer;

// A marshalled dataset list with one table of ARows rows named AName.
std::string DataSetListJSON(const char* AName, int ARows) {
  TDataSetList list;
  list.AddDataSet(AName, test::MakeMixedTable(ARows));
  return WriteJSON(*TJSONConverters::GetJSONMarshaler()->Marshal(&list));
}

class ServerMethodsTest : public ::testing::TestWithParam<bool> {
 protected:
  ServerMethodsTest() {
    Conn.SetHost("127.0.0.1");
    Conn.SetPort(Server.Port());
    Conn.SetLoginPrompt(false);
    Client = std::make_unique<TQVRServerMethodsClient>(Conn, GetParam());
  }
  bool InstanceOwner() const { return GetParam(); }
  std::string LastPath() const { return Server.LastRequest().Target.substr(10); }

  // Declared first so that it outlives the connection's open socket.
  TStandInServer Server;
  TRestConnection Conn;
  std::unique_ptr<TQVRServerMethodsClient> Client;
};

INSTANTIATE_TEST_SUITE_P(InstanceOwner, ServerMethodsTest, ::testing::Bool(),
                         [](const auto& AInfo) { return AInfo.param ? "True" : "False"; });

TEST_P(ServerMethodsTest, EveryMethodSendsItsRequestAndReadsItsResult) {
  const std::string relojes = DataSetListJSON("Relojes", 2);
  struct TCase {
    const char* Name;
    std::string Answer;  // the "result" elements
    std::function<void(TQVRServerMethodsClient&)> Call;
    const char* Verb;
    const char* Path;  // after /rpc/rest/
    std::string Body;
  };
  const std::vector<TCase> kCases = {
      {"EchoString", "\"hola\"", [](auto& C) { EXPECT_EQ(C.EchoString("hola mundo"), "hola"); },
       "GET", "TQVRServerMethods/EchoString/hola%20mundo/", ""},
      {"ReverseString", "\"aloh\"", [](auto& C) { EXPECT_EQ(C.ReverseString("hola"), "aloh"); },
       "GET", "TQVRServerMethods/ReverseString/hola/", ""},
      {"Opciones", R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3}})",
       [](auto& C) {
         auto o = C.Opciones();
         ASSERT_TRUE(o);
         EXPECT_EQ(o->ToJSON(),
                   R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3}})");
       },
       "GET", "TQVRServerMethods/Opciones/", ""},
      {"ListaRelojes", relojes,
       [](auto& C) {
         auto l = C.ListaRelojes("ss.r=1");
         ASSERT_TRUE(l);
         EXPECT_EQ(l->Names(), std::vector<std::string>{"Relojes"});
         EXPECT_EQ(l->DataSet(0).RecordCount(), 2);
         EXPECT_TRUE(l->OwnsDataSets());
       },
       "GET", "TQVRServerMethods/ListaRelojes/?ss.r=1", ""},
      {"ListaEmpresas", relojes, [](auto& C) { EXPECT_TRUE(C.ListaEmpresas()); }, "GET",
       "TQVRServerMethods/ListaEmpresas/", ""},
      {"ListaPersonalParcial", relojes, [](auto& C) { EXPECT_TRUE(C.ListaPersonalParcial()); },
       "GET", "TQVRServerMethods/ListaPersonalParcial/", ""},
      {"ListaPersonalCompleta", relojes, [](auto& C) { EXPECT_TRUE(C.ListaPersonalCompleta()); },
       "GET", "TQVRServerMethods/ListaPersonalCompleta/", ""},
      {"ExisteEmpleado", "true", [](auto& C) { EXPECT_TRUE(C.ExisteEmpleado(-5)); }, "GET",
       "TQVRServerMethods/ExisteEmpleado/-5/", ""},
      {"InfoEmpleado", R"({"Codigo":7,"Nombre":"Ana"})",
       [](auto& C) {
         auto e = C.InfoEmpleado(7);
         ASSERT_TRUE(e);
         EXPECT_EQ(e->GetValue("Nombre")->AsString()->Value(), "Ana");
       },
       "GET", "TQVRServerMethods/InfoEmpleado/7/", ""},
      {"ActualizarEmpleado", "true",
       [](auto& C) {
         auto datos = std::make_unique<TJSONObject>();
         datos->AddPair("Nombre", "Jos\xC3\xA9/A");
         EXPECT_TRUE(C.ActualizarEmpleado(std::move(datos)));
       },
       "POST", "TQVRServerMethods/%22ActualizarEmpleado%22/", R"({"Nombre":"Jos\u00E9\/A"})"},
      {"SubirAsistencia", "false",
       [](auto& C) {
         auto list = std::make_unique<TDataSetList>();
         list->AddDataSet("Relojes", test::MakeMixedTable(2));
         EXPECT_FALSE(C.SubirAsistencia("marzo.csv", std::move(list)));
       },
       "POST", "TQVRServerMethods/%22SubirAsistencia%22/marzo%2Ecsv/", relojes},
  };
  for (const TCase& k : kCases) {
    SCOPED_TRACE(k.Name);
    Server.Enqueue(ResultAnswer(k.Answer));
    k.Call(*Client);
    const auto request = Server.LastRequest();
    EXPECT_EQ(request.Method, k.Verb);
    EXPECT_EQ(LastPath(), k.Path);
    EXPECT_EQ(request.Body, k.Body);
    EXPECT_EQ(request.Header("Accept"), "application/JSON");
  }
  EXPECT_EQ(Server.RequestCount(), kCases.size());
}

TEST_P(ServerMethodsTest, CachedVariantsReturnItemsForTheirPaths) {
  struct TCase {
    const char* Name;
    std::function<std::shared_ptr<IInterface>(TQVRServerMethodsClient&)> Call;
    const char* Path;
    bool JSONObject;
  };
  const std::vector<TCase> kCases = {
      {"Opciones_Cache", [](auto& C) { return C.Opciones_Cache(); }, "TQVRServerMethods/Opciones/",
       true},
      {"InfoEmpleado_Cache", [](auto& C) { return C.InfoEmpleado_Cache(12, "x=1"); },
       "TQVRServerMethods/InfoEmpleado/12/?x=1", true},
      {"ListaRelojes_Cache", [](auto& C) { return C.ListaRelojes_Cache(); },
       "TQVRServerMethods/ListaRelojes/", false},
      {"ListaEmpresas_Cache", [](auto& C) { return C.ListaEmpresas_Cache(); },
       "TQVRServerMethods/ListaEmpresas/", false},
      {"ListaPersonalParcial_Cache", [](auto& C) { return C.ListaPersonalParcial_Cache(); },
       "TQVRServerMethods/ListaPersonalParcial/", false},
      {"ListaPersonalCompleta_Cache", [](auto& C) { return C.ListaPersonalCompleta_Cache(); },
       "TQVRServerMethods/ListaPersonalCompleta/", false},
  };
  int n = 0;
  for (const TCase& k : kCases) {
    SCOPED_TRACE(k.Name);
    const std::string itemPath = "S1/" + std::to_string(n++) + "/0";
    Server.Enqueue(ResultAnswer(test::JsonString(itemPath)));
    std::shared_ptr<IInterface> item = k.Call(*Client);
    ASSERT_TRUE(item);
    EXPECT_EQ(item.use_count(), 1) << "the caller's is the only reference";
    const auto request = Server.LastRequest();
    EXPECT_EQ(request.Method, "GET");
    EXPECT_EQ(LastPath(), k.Path);
    EXPECT_EQ(request.Header("Accept"), "application/rest");
    EXPECT_EQ(Supports<IRestCachedItem>(item)->ItemPath(), itemPath);
    EXPECT_EQ(Supports<IRestCachedJSONObject>(item) != nullptr, k.JSONObject);
  }
}

TEST_P(ServerMethodsTest, ACachedDataSetListFetchesItsValue) {
  Server.Enqueue(ResultAnswer("\"S1/4/0\""));
  std::shared_ptr<IRestCachedDataSetList> item = Client->ListaRelojes_Cache();
  Server.Enqueue(JsonAnswer(200, "{\"result\":" + DataSetListJSON("Relojes", 4) + "}"));
  TMaybeOwned<TDataSetList> list = item->GetValue(Conn, InstanceOwner());
  ASSERT_TRUE(list);
  EXPECT_EQ(list->DataSet(0).RecordCount(), 4);
  EXPECT_EQ(Server.LastRequest().Target, "/rpc/cache/S1/4/0");
}

TEST_P(ServerMethodsTest, TwoListsInARow) {
  Server.Enqueue(ResultAnswer(DataSetListJSON("Uno", 1)));
  TMaybeOwned<TDataSetList> first = Client->ListaRelojes();
  ASSERT_TRUE(first);
  EXPECT_EQ(first.IsOwned(), !InstanceOwner());
  Server.Enqueue(ResultAnswer(DataSetListJSON("Dos", 2)));
  TMaybeOwned<TDataSetList> second = Client->ListaRelojes();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Names(), std::vector<std::string>{"Dos"});
  // With the flag true the first list went at the start of the second call
  // (AddressSanitizer would flag a use); with it false the caller still has it.
  if (!InstanceOwner()) {
    EXPECT_EQ(first->Names(), std::vector<std::string>{"Uno"});
  }
}

TEST_P(ServerMethodsTest, DataSetListResultEdgeCases) {
  // The first call's answer stores nothing: no object.
  Server.Enqueue(JsonAnswer(200, "{\"other\":1}"));
  EXPECT_FALSE(Client->ListaEmpresas());
  // A JSON null element is not an object.
  Server.Enqueue(ResultAnswer("null"));
  try {
    Client->ListaEmpresas();
    FAIL() << "no exception";
  } catch (const EConversionError& e) {
    EXPECT_EQ(e.Message(), "The input value is not a valid Object");
  }
  // The object of another class.
  Server.Enqueue(ResultAnswer(R"({"type":"System.JSON.TJSONObject","id":1,"fields":{}})"));
  EXPECT_THROW(Client->ListaEmpresas(), EInvalidCast);
  // The command is still ready.
  Server.Enqueue(ResultAnswer(DataSetListJSON("Empresas", 1)));
  EXPECT_TRUE(Client->ListaEmpresas());
}

TEST_P(ServerMethodsTest, ObjectResultsFollowTheFlag) {
  Server.Enqueue(ResultAnswer(R"({"n":1})"));
  TMaybeOwned<TJSONObject> first = Client->InfoEmpleado(1);
  EXPECT_EQ(first.IsOwned(), !InstanceOwner());
  Server.Enqueue(ResultAnswer(R"({"n":2})"));
  TMaybeOwned<TJSONObject> second = Client->InfoEmpleado(2);
  EXPECT_EQ(second->ToJSON(), R"({"n":2})");
  if (!InstanceOwner()) {
    EXPECT_EQ(first->ToJSON(), R"({"n":1})");
  }
  // Results that are no object give none.
  for (const char* element : {"null", "\"texto\"", "[1]", "3"}) {
    Server.Enqueue(ResultAnswer(element));
    EXPECT_FALSE(Client->InfoEmpleado(3)) << element;
  }
}

TEST_P(ServerMethodsTest, UploadsAndTheirHandles) {
  // No list: a null second parameter.
  Server.Enqueue(ResultAnswer("true"));
  EXPECT_TRUE(Client->SubirAsistencia("vacio.csv", nullptr));
  EXPECT_EQ(Server.LastRequest().Body, "null");

  // A borrowed list stays with its owner, whatever the flag.
  TDataSetList mine;
  mine.AddDataSet("Asistencia", test::MakeMixedTable(1));
  Server.Enqueue(ResultAnswer("true"));
  EXPECT_TRUE(Client->SubirAsistencia("mio.csv", Borrow(mine)));
  EXPECT_EQ(mine.Count(), 1);

  // A list without its dataset list cannot be marshalled: nothing is sent.
  const std::size_t sent = Server.RequestCount();
  EXPECT_THROW(Client->SubirAsistencia("roto.csv", std::make_unique<TDataSetList>()),
               EConversionError);
  EXPECT_EQ(Server.RequestCount(), sent);

  // A borrowed object for ActualizarEmpleado is left with its owner.
  TJSONObject datos;
  datos.AddPair("Codigo", std::make_unique<TJSONNumber>(std::int32_t{9}));
  Server.Enqueue(ResultAnswer("false"));
  EXPECT_FALSE(Client->ActualizarEmpleado(Borrow(datos)));
  EXPECT_EQ(Server.LastRequest().Body, R"({"Codigo":9})");
  EXPECT_EQ(datos.Count(), 1u);
}

TEST_P(ServerMethodsTest, OpcionesAndItsCachedVariantAreTwoCommands) {
  Server.Enqueue(ResultAnswer(R"({"type":"uGral.TOpciones","id":1,"fields":{}})"));
  EXPECT_TRUE(Client->Opciones());
  Server.Enqueue(ResultAnswer("\"S1/9/0\""));
  EXPECT_EQ(Supports<IRestCachedItem>(Client->Opciones_Cache())->ItemPath(), "S1/9/0");
  // The plain command kept its JSON return parameter: an object is read again.
  Server.Enqueue(ResultAnswer(R"({"type":"uGral.TOpciones","id":1,"fields":{}})"));
  EXPECT_TRUE(Client->Opciones());
  const auto requests = Server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].Target, requests[1].Target);
  EXPECT_EQ(requests[0].Header("Accept"), "application/JSON");
  EXPECT_EQ(requests[1].Header("Accept"), "application/rest");
}

TEST_P(ServerMethodsTest, AFailedCallLeavesTheMethodReady) {
  Server.Enqueue(test::ErrorAnswer(500, "sin base de datos"));
  EXPECT_THROW(Client->ExisteEmpleado(1), TRestProtocolException);
  Server.Enqueue(ResultAnswer("\"1\""));
  EXPECT_TRUE(Client->ExisteEmpleado(1));
  EXPECT_EQ(LastPath(), "TQVRServerMethods/ExisteEmpleado/1/");
}

}  // namespace
}  // namespace qvr::rest
