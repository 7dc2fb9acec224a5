// Every method of the server methods client against the real qvr-server,
// through a data module that config.ini in a temporary folder points at:
// typed results of the plain calls, the cached variants with GetValue,
// GetCommand and DeleteCommand, and an upload read back from the database.
// Each case runs with the data module's own proxy (InstanceOwner true: the
// results stay with the proxy) and with a proxy made with InstanceOwner
// false on the module's connection (the results belong to the caller).
#include <gtest/gtest.h>

#include <memory>

#include "client/dBaseCliente.h"
#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"
#include "server/DatabaseReader.h"
#include "server/ServerCalls.h"
#include "support/ConfigFolder.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

using data::TAdaptedDataSet;
using data::TFieldType;
using rest::IRestCachedCommand;
using rest::IRestCachedDataSetList;
using rest::IRestCachedItem;
using rest::IRestCachedJSONObject;
using rest::TDataSetList;
using rest::TJSONObject;
using rest::TMaybeOwned;
using rest::TQVRServerMethodsClient;

std::string Member(const TJSONObject& AObject, const char* AName) {
  const rest::TJSONValue* value = AObject.GetValue(AName);
  return value != nullptr && value->AsString() != nullptr ? value->AsString()->Value() : "<none>";
}

// The column names of a dataset, with their types.
std::string Columns(const TAdaptedDataSet& ADataSet) {
  std::string columns;
  for (const auto& def : ADataSet.ColumnDefs()) {
    if (!columns.empty()) columns += ",";
    columns += def.Name + ":" + data::FieldTypeName(def.DataType);
  }
  return columns;
}

// What the four lists hold on a fresh server with the default seed.
struct TListCase {
  const char* Method;
  TMaybeOwned<TDataSetList> (TQVRServerMethodsClient::*Plain)(const std::string&);
  std::shared_ptr<IRestCachedDataSetList> (TQVRServerMethodsClient::*Cached)(const std::string&);
  const char* Names;  // dataset names and row counts
  const char* FirstColumns;
};

const TListCase kLists[] = {
    {"ListaRelojes", &TQVRServerMethodsClient::ListaRelojes,
     &TQVRServerMethodsClient::ListaRelojes_Cache, "Relojes:7",
     "IDReloj:Integer,Nombre:String,Ubicacion:String,IDEmpresa:Integer"},
    {"ListaEmpresas", &TQVRServerMethodsClient::ListaEmpresas,
     &TQVRServerMethodsClient::ListaEmpresas_Cache, "Empresas:4",
     "IDEmpresa:Integer,Nombre:String,CIF:String"},
    {"ListaPersonalParcial", &TQVRServerMethodsClient::ListaPersonalParcial,
     &TQVRServerMethodsClient::ListaPersonalParcial_Cache, "Personal:300",
     "Codigo:Integer,Nombre:String,Apellidos:String,Tarjeta:String,IDReloj:Integer,"
     "IDStatus:Integer"},
    {"ListaPersonalCompleta", &TQVRServerMethodsClient::ListaPersonalCompleta,
     &TQVRServerMethodsClient::ListaPersonalCompleta_Cache, "Personal:300,Status:5",
     "Codigo:Integer,Nombre:String,Apellido1:String,Apellido2:String,DNI:String,"
     "Tarjeta:String,Email:String,Telefono:String,IDEmpresa:Integer,IDReloj:Integer,"
     "IDStatus:Integer,FechaAlta:DateTime,Activo:Boolean"},
};

std::string NamesAndCounts(const TDataSetList& AList) {
  std::string text;
  for (int i = 0; i < AList.Count(); ++i) {
    if (!text.empty()) text += ",";
    text += AList.Names()[static_cast<std::size_t>(i)] + ":" +
            std::to_string(AList.DataSet(i).RecordCount());
  }
  return text;
}

class ServerProxyTest : public ::testing::TestWithParam<bool> {
 protected:
  ServerProxyTest() {
    FFolder.Write("[rest]\nIP=127.0.0.1\nPuerto=" + std::to_string(FServer.Port()) +
                  "\nUID=kiosco\n");
    FModule = std::make_unique<client::TdmBaseCliente>();
    if (!InstanceOwner()) {
      FOwnProxy = std::make_unique<TQVRServerMethodsClient>(FModule->rest(), false);
    }
  }

  bool InstanceOwner() const { return GetParam(); }
  TQVRServerMethodsClient& Proxy() { return FOwnProxy ? *FOwnProxy : FModule->Client(); }
  rest::TRestConnection& Connection() { return FModule->rest(); }

  // Declared first: the server outlives the module's open connection.
  TServerProcess FServer;
  TConfigFolder FFolder;
  std::unique_ptr<client::TdmBaseCliente> FModule;
  std::unique_ptr<TQVRServerMethodsClient> FOwnProxy;
};

TEST_P(ServerProxyTest, TextsComeBackAsTheServerMadeThem) {
  EXPECT_EQ(Proxy().EchoString("hola mundo"), "hola mundo");
  EXPECT_EQ(Proxy().EchoString("a/b?c#d %e"), "a/b?c#d %e");
  EXPECT_EQ(Proxy().ReverseString("ñandú"), "údnañ");
  EXPECT_EQ(Proxy().ReverseString("hola", "ss.r=1"), "aloh");
  EXPECT_EQ(Proxy().EchoString(""), "");
}

TEST_P(ServerProxyTest, OptionsAsAnObjectAndThroughCargarOpciones) {
  TMaybeOwned<TJSONObject> options = Proxy().Opciones();
  ASSERT_TRUE(options);
  EXPECT_EQ(options.IsOwned(), !InstanceOwner());
  EXPECT_EQ(rest::WriteJSON(*options),
            R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":1}})");
  FModule->CargarOpciones();
  EXPECT_EQ(FModule->Opciones().IDStatusDefault, 1);
}

TEST_P(ServerProxyTest, ListsAreTypedTables) {
  for (const auto& c : kLists) {
    TMaybeOwned<TDataSetList> list = (Proxy().*c.Plain)({});
    ASSERT_TRUE(list) << c.Method;
    EXPECT_EQ(list.IsOwned(), !InstanceOwner()) << c.Method;
    EXPECT_EQ(NamesAndCounts(*list), c.Names) << c.Method;
    TAdaptedDataSet& first = list->DataSet(0);
    EXPECT_EQ(Columns(first), c.FirstColumns) << c.Method;
    first.First();
    EXPECT_EQ(first.Fields(0).AsInteger(), first.FieldDefs()[0].Name == "Codigo" ? 1001 : 1)
        << c.Method;
  }
  TMaybeOwned<TDataSetList> staff = Proxy().ListaPersonalCompleta();
  TAdaptedDataSet& personal = *staff->FindDataSet("Personal");
  personal.First();
  EXPECT_EQ(personal.FieldByName("Nombre").AsString(), "Beatriz");
  EXPECT_EQ(personal.FieldByName("FechaAlta").AsString(), "2019-07-09 00:00:00");
  EXPECT_EQ(personal.FieldByName("DNI").AsString(), "91058559H");
}

TEST_P(ServerProxyTest, AListOfTheCallerOutlivesTheNextCall) {
  TMaybeOwned<TDataSetList> first = Proxy().ListaRelojes();
  std::unique_ptr<TDataSetList> kept = first.TakeOwnership();
  EXPECT_EQ(kept != nullptr, !InstanceOwner());
  TMaybeOwned<TDataSetList> second = Proxy().ListaRelojes();
  EXPECT_EQ(NamesAndCounts(*second), "Relojes:7");
  if (kept) {
    EXPECT_EQ(NamesAndCounts(*kept), "Relojes:7");
  }
}

TEST_P(ServerProxyTest, EmployeesAreLookedUpAndChanged) {
  EXPECT_TRUE(Proxy().ExisteEmpleado(1001));
  EXPECT_FALSE(Proxy().ExisteEmpleado(1));
  EXPECT_FALSE(Proxy().ExisteEmpleado(-5, "x=1"));

  TMaybeOwned<TJSONObject> employee = Proxy().InfoEmpleado(1001);
  ASSERT_TRUE(employee);
  EXPECT_EQ(employee.IsOwned(), !InstanceOwner());
  EXPECT_EQ(Member(*employee, "Codigo"), "1001");
  EXPECT_EQ(Member(*employee, "Nombre"), "Beatriz");
  EXPECT_EQ(Member(*employee, "Status"), "Excedencia");
  TMaybeOwned<TJSONObject> nobody = Proxy().InfoEmpleado(1);
  ASSERT_TRUE(nobody);
  EXPECT_EQ(nobody->Count(), 0u);

  // An InfoEmpleado answer, changed, goes back as it is.
  std::unique_ptr<rest::TJSONValue> copy = Proxy().InfoEmpleado(1002)->Clone();
  std::unique_ptr<TJSONObject> datos(static_cast<TJSONObject*>(copy.release()));
  datos->RemovePair("Nombre");
  datos->AddPair("Nombre", "Ángela");
  if (InstanceOwner()) {
    EXPECT_TRUE(Proxy().ActualizarEmpleado(std::move(datos)));
  } else {
    EXPECT_TRUE(Proxy().ActualizarEmpleado(rest::Borrow(*datos)));
    EXPECT_EQ(Member(*datos, "Nombre"), "Ángela") << "lent, so still the caller's";
  }
  EXPECT_EQ(Member(*Proxy().InfoEmpleado(1002), "Nombre"), "Ángela");

  auto unknown = std::make_unique<TJSONObject>();
  unknown->AddPair("Codigo", std::make_unique<rest::TJSONNumber>(std::int32_t{99999}));
  EXPECT_FALSE(Proxy().ActualizarEmpleado(std::move(unknown)));

  auto refused = std::make_unique<TJSONObject>();
  refused->AddPair("Codigo", std::make_unique<rest::TJSONNumber>(std::int32_t{1001}));
  refused->AddPair("Sueldo", "mucho");
  try {
    Proxy().ActualizarEmpleado(std::move(refused));
    ADD_FAILURE() << "not refused";
  } catch (const rest::TRestProtocolException& AError) {
    EXPECT_EQ(AError.Status(), 400);
  }
  // The proxy stays usable after a refusal.
  EXPECT_EQ(Proxy().EchoString("sigue"), "sigue");
}

TEST_P(ServerProxyTest, AnUploadIsStoredAsSent) {
  std::unique_ptr<TDataSetList> list = AttendanceList(2, 25, 1001);
  if (InstanceOwner()) {
    EXPECT_TRUE(Proxy().SubirAsistencia("marzo.csv", std::move(list)));
  } else {
    EXPECT_TRUE(Proxy().SubirAsistencia("marzo.csv", rest::Borrow(*list)));
    EXPECT_EQ(list->Count(), 2) << "lent, so still the caller's";
  }
  EXPECT_FALSE(Proxy().SubirAsistencia("vacio.csv", nullptr));

  TDatabaseReader db(FServer.DatabasePath());
  EXPECT_EQ(db.One("SELECT count(*), min(codigo), max(codigo) FROM asistencia"), "50|1001|1050");
  EXPECT_EQ(db.Rows("SELECT DISTINCT archivo, conjunto, usuario FROM asistencia ORDER BY 2"),
            (std::vector<std::string>{"marzo.csv|Fichajes1|kiosco", "marzo.csv|Fichajes2|kiosco"}));
  EXPECT_EQ(db.One("SELECT fecha_hora, id_reloj, tipo FROM asistencia WHERE codigo = 1002"),
            "2024-02-02 01:01:07|2|1");
}

TEST_P(ServerProxyTest, CachedObjectsAreFetchedAndDeleted) {
  const struct {
    const char* Method;
    std::shared_ptr<IRestCachedJSONObject> Item;
    const char* Expected;  // a member and its value
  } kCases[] = {
      {"TQVRServerMethods.Opciones", Proxy().Opciones_Cache(), "type=uGral.TOpciones"},
      {"TQVRServerMethods.InfoEmpleado", Proxy().InfoEmpleado_Cache(1001), "Nombre=Beatriz"},
  };
  for (const auto& c : kCases) {
    ASSERT_TRUE(c.Item) << c.Method;
    EXPECT_FALSE(c.Item->ItemPath().empty());
    const std::string expected = c.Expected;
    const std::string name = expected.substr(0, expected.find('='));
    const std::string value = expected.substr(expected.find('=') + 1);

    TMaybeOwned<TJSONObject> kept = c.Item->GetValue(Connection(), true);
    TMaybeOwned<TJSONObject> mine = c.Item->GetValue(Connection(), false, "x=1");
    ASSERT_TRUE(kept && mine) << c.Method;
    EXPECT_FALSE(kept.IsOwned());
    EXPECT_TRUE(mine.IsOwned());
    EXPECT_EQ(Member(*kept, name.c_str()), value) << c.Method;
    EXPECT_EQ(rest::WriteJSON(*kept), rest::WriteJSON(*mine));

    const auto command = Supports<IRestCachedCommand>(c.Item);
    ASSERT_TRUE(command);
    TMaybeOwned<TJSONObject> cached = command->GetCommand(Connection(), false);
    ASSERT_TRUE(cached);
    EXPECT_EQ(Member(*cached, "command"), c.Method);
    command->DeleteCommand(Connection());
    try {
      c.Item->GetValue(Connection(), false);
      ADD_FAILURE() << c.Method << ": still cached";
    } catch (const rest::TRestProtocolException& AError) {
      EXPECT_EQ(AError.Status(), 404);
    }
  }
}

TEST_P(ServerProxyTest, CachedListsAreFetchedAndDeleted) {
  for (const auto& c : kLists) {
    const std::shared_ptr<IRestCachedDataSetList> item = (Proxy().*c.Cached)({});
    ASSERT_TRUE(item) << c.Method;
    TMaybeOwned<TDataSetList> kept = item->GetValue(Connection(), true);
    TMaybeOwned<TDataSetList> mine = item->GetValue(Connection(), false);
    ASSERT_TRUE(kept && mine) << c.Method;
    EXPECT_FALSE(kept.IsOwned());
    EXPECT_TRUE(mine.IsOwned());
    EXPECT_EQ(NamesAndCounts(*kept), c.Names) << c.Method;
    EXPECT_EQ(NamesAndCounts(*mine), c.Names) << c.Method;
    EXPECT_EQ(Columns(mine->DataSet(0)), c.FirstColumns) << c.Method;

    const auto path = Supports<IRestCachedItem>(item);
    const auto command = Supports<IRestCachedCommand>(item);
    ASSERT_TRUE(path && command) << c.Method;
    TMaybeOwned<TJSONObject> cached = command->GetCommand(Connection(), true);
    ASSERT_TRUE(cached);
    EXPECT_EQ(Member(*cached, "command"), std::string("TQVRServerMethods.") + c.Method);
    const auto* items = cached->GetValue("items");
    ASSERT_TRUE(items && items->AsArray() && items->AsArray()->Count() == 1);
    EXPECT_EQ(StringOf(items->AsArray()->Items(0)), path->ItemPath());
    command->DeleteCommand(Connection());
    EXPECT_THROW(item->GetValue(Connection(), false), rest::TRestProtocolException);
  }
}

INSTANTIATE_TEST_SUITE_P(InstanceOwner, ServerProxyTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& AInfo) {
                           return AInfo.param ? std::string("OwnedByTheProxy")
                                              : std::string("OwnedByTheCaller");
                         });

}  // namespace
}  // namespace qvr::test
