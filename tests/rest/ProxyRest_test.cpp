// The REST proxy base classes: the instance-owner flag of both constructors,
// the administrative commands made once and reused, and the administration
// client's calls, against a stand-in server on 127.0.0.1 (what goes on the
// wire, answers of every shape) and against the real qvr-server (its
// catalogue is the description of the remote interface, commands prepared
// from it call its methods, and an ended session is refused).
#include "rest/ProxyRest.h"

#include <gtest/gtest.h>

#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"
#include "support/ServerProcess.h"
#include "support/StandInServer.h"

namespace qvr::rest {
namespace {

using test::JsonAnswer;
using test::ResultAnswer;
using test::TStandInServer;

// A catalogue of two classes, as the server's JSON form writes it.
constexpr const char* kCatalogue =
    R"([{"name":"TQVRServerMethods","methods":[{"name":"EchoString","parameters":[)"
    R"({"name":"Value","direction":1,"type":26,"typeName":"string"},)"
    R"({"name":"","direction":4,"type":26,"typeName":"string"}]}]},)"
    R"({"name":"Admin","methods":[{"name":"ClearSession","parameters":[]}]}])";

class AdminRestClientTest : public ::testing::Test {
 protected:
  AdminRestClientTest() {
    Connection.SetHost("127.0.0.1");
    Connection.SetPort(Server.Port());
    Connection.SetLoginPrompt(false);
  }

  TStandInServer Server;
  TRestConnection Connection;
};

TEST(RestClient, TheInstanceOwnerFlagIsTrueUnlessSaidOtherwise) {
  TRestConnection connection;
  EXPECT_TRUE(TRestClient(connection).InstanceOwner());
  EXPECT_FALSE(TRestClient(connection, false).InstanceOwner());
  EXPECT_TRUE(TAdminRestClient(connection).InstanceOwner());
  EXPECT_FALSE(TAdminRestClient(connection, false).InstanceOwner());
  EXPECT_EQ(&TAdminRestClient(connection).Connection(), &connection);
}

TEST_F(AdminRestClientTest, GetPlatformNameReusesItsCommand) {
  {
    TAdminRestClient admin(Connection);
    Server.Enqueue(ResultAnswer("\"Linux\""));
    EXPECT_EQ(admin.GetPlatformName(), "Linux");
    Server.Enqueue(ResultAnswer("\"Debian\""));
    EXPECT_EQ(admin.GetPlatformName("x=1"), "Debian");
    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Target, "/rpc/rest/Admin/GetPlatformName/");
    EXPECT_EQ(requests[1].Target, "/rpc/rest/Admin/GetPlatformName/?x=1");
    EXPECT_EQ(requests[1].Method, "GET");
  }
  // The client went; the connection it borrowed is still there and usable.
  Server.Enqueue(ResultAnswer("\"Linux\""));
  Connection.TestConnection({});
}

TEST_F(AdminRestClientTest, GetServerMethodParametersReadsTheCatalogue) {
  TAdminRestClient admin(Connection);
  Server.Enqueue(ResultAnswer(kCatalogue));
  const TRestProxyMetaData catalogue = admin.GetServerMethodParameters();
  EXPECT_EQ(Server.LastRequest().Target, "/rpc/rest/Admin/GetServerMethodParameters/");
  EXPECT_EQ(Server.LastRequest().Method, "GET");
  ASSERT_EQ(catalogue.Classes.size(), 2u);
  EXPECT_EQ(catalogue.Classes[0].Name, "TQVRServerMethods");
  ASSERT_EQ(catalogue.Classes[0].Methods.size(), 1u);
  const TRestProxyMethod& echo = catalogue.Classes[0].Methods[0];
  EXPECT_EQ(echo.Name, "EchoString");
  ASSERT_EQ(echo.Parameters.size(), 2u);
  EXPECT_EQ(echo.Parameters[0].Name, "Value");
  EXPECT_EQ(echo.Parameters[0].Direction, TParameterDirections::In);
  EXPECT_EQ(echo.Parameters[0].ValueType, TValueTypes::WideString);
  EXPECT_EQ(echo.Parameters[0].TypeName, "string");
  EXPECT_EQ(echo.Parameters[1].Name, "");
  EXPECT_EQ(echo.Parameters[1].Direction, TParameterDirections::Return);
  EXPECT_EQ(catalogue.Classes[1].Methods[0].Name, "ClearSession");
  EXPECT_TRUE(catalogue.Classes[1].Methods[0].Parameters.empty());
  // Written back, it is the server's text again.
  EXPECT_EQ(WriteJSON(*MethodCatalogueJSON(catalogue)), kCatalogue);
  EXPECT_EQ(catalogue.FindMethod("tqvrservermethods", "ECHOSTRING"), &echo);
  EXPECT_EQ(catalogue.FindMethod("Admin", "EchoString"), nullptr);

  // An answer that stored nothing is no catalogue, even after one that did:
  // the command's slot still holds that earlier one.
  Server.Enqueue(JsonAnswer(200, "<html>"));
  try {
    admin.GetServerMethodParameters();
    ADD_FAILURE() << "an answer without a catalogue was read as one";
  } catch (const TRestException& AError) {
    EXPECT_EQ(AError.Message(), "The server's answer holds no method catalogue");
  }
  Server.Enqueue(ResultAnswer("[]"));
  EXPECT_TRUE(admin.GetServerMethodParameters().Classes.empty());
}

TEST_F(AdminRestClientTest, ACatalogueOfAnotherFormSaysWhereItGoesWrong) {
  // Each answer differs from the form in one place.
  const struct {
    const char* Result;
    const char* Where;
  } kCases[] = {
      {R"({"name":"C"})", "it is not a JSON array"},
      {R"(null)", "it is not a JSON array"},
      {R"([1])", "class 1 is not a JSON object"},
      {R"([{"methods":[]}])", R"(class 1 has no text "name")"},
      {R"([{"name":"C","methods":[]},{"name":2,"methods":[]}])", R"(class 2 has no text "name")"},
      {R"([{"name":"C"}])", R"(class 1 has no array "methods")"},
      {R"([{"name":"C","methods":[[]]}])", "method 1 of C is not a JSON object"},
      {R"([{"name":"C","methods":[{"name":"M","parameters":{}}]}])",
       R"(C.M has no array "parameters")"},
      {R"([{"name":"C","methods":[{"name":"M","parameters":[)"
       R"({"name":"A","direction":"1","type":26,"typeName":"string"}]}]}])",
       R"(parameter 1 of C.M has no integer "direction")"},
      {R"([{"name":"C","methods":[{"name":"M","parameters":[)"
       R"({"name":"A","direction":1,"type":2.5,"typeName":"string"}]}]}])",
       R"(parameter 1 of C.M has no integer "type")"},
      {R"([{"name":"C","methods":[{"name":"M","parameters":[)"
       R"({"name":"A","direction":1,"type":99999999999,"typeName":"string"}]}]}])",
       R"(parameter 1 of C.M has no integer "type")"},
      {R"([{"name":"C","methods":[{"name":"M","parameters":[)"
       R"({"name":"A","direction":1,"type":26}]}]}])",
       R"(parameter 1 of C.M has no text "typeName")"},
  };
  TAdminRestClient admin(Connection);
  for (const auto& c : kCases) {
    Server.Enqueue(ResultAnswer(c.Result));
    try {
      admin.GetServerMethodParameters();
      ADD_FAILURE() << c.Result;
    } catch (const TRestException& AError) {
      EXPECT_EQ(AError.Message(), std::string("The method catalogue is not valid: ") + c.Where)
          << c.Result;
    }
  }
  // Members the form does not know are left alone.
  Server.Enqueue(ResultAnswer(
      R"([{"name":"C","version":2,"methods":[{"name":"M","verb":"GET","parameters":[]}]}])"));
  EXPECT_EQ(admin.GetServerMethodParameters().Classes.at(0).Methods.at(0).Name, "M");
}

TEST_F(AdminRestClientTest, ClearSessionForgetsTheSessionId) {
  TAdminRestClient admin(Connection);
  Connection.SetSessionID("S1");
  // The server names no session in its answer: the one it ran in is gone.
  Server.Enqueue(ResultAnswer());
  admin.ClearSession();
  EXPECT_EQ(Server.LastRequest().Target, "/rpc/rest/Admin/ClearSession/");
  EXPECT_EQ(Server.LastRequest().Header("Pragma"), "sessionid=S1");
  EXPECT_EQ(Connection.SessionID(), "");
  // Whatever the answer says, the id is not kept; the command is reused.
  Connection.SetSessionID("S2");
  Server.Enqueue(ResultAnswer().WithSessionID("S2"));
  admin.ClearSession("x=1");
  EXPECT_EQ(Server.LastRequest().Target, "/rpc/rest/Admin/ClearSession/?x=1");
  EXPECT_EQ(Connection.SessionID(), "");
  EXPECT_EQ(Server.RequestCount(), 2u);
}

// Against the real server: the catalogue is the description, in its order.
class AdminRestClientServerTest : public ::testing::Test {
 protected:
  AdminRestClientServerTest() {
    Connection.SetHost("127.0.0.1");
    Connection.SetPort(Server.Port());
    Connection.SetUserName("kiosco");
    Connection.SetLoginPrompt(false);
  }

  test::TServerProcess Server;
  TRestConnection Connection;
};

TEST_F(AdminRestClientServerTest, TheCatalogueIsTheDescriptionAndPreparesItsCommands) {
  TAdminRestClient admin(Connection);
  const TRestProxyMetaData catalogue = admin.GetServerMethodParameters();
  std::vector<std::string> answered;
  for (const TRestProxyClass& proxyClass : catalogue.Classes) {
    for (const TRestProxyMethod& method : proxyClass.Methods) {
      answered.push_back(proxyClass.Name + "." + method.Name);
    }
  }
  std::vector<std::string> described;
  for (const TRemoteMethod* method : RemoteMethods()) {
    described.push_back(method->QualifiedName());
    SCOPED_TRACE(described.back());
    // A command prepared from the catalogue by the method's own text and
    // verb gets the method's table, as the proxy prepares it.
    TRestCommand command(Connection);
    command.SetText(std::string(method->CommandText));
    command.SetRequestType(std::string(method->Verb));
    command.Prepare(catalogue);
    const std::vector<TRestParameterMetaData> table = MetaDataOf(method->Parameters);
    ASSERT_EQ(command.Parameters()->Count(), static_cast<std::int32_t>(table.size()));
    for (std::int32_t i = 0; i < command.Parameters()->Count(); ++i) {
      const TParameter& parameter = command.Parameters()->GetParameterByOrdinal(i);
      EXPECT_EQ(parameter.Name(), table[static_cast<std::size_t>(i)].Name);
      EXPECT_EQ(parameter.ParameterDirection(), table[static_cast<std::size_t>(i)].Direction);
      EXPECT_EQ(parameter.DataType(), table[static_cast<std::size_t>(i)].ValueType);
      EXPECT_EQ(parameter.TypeName(), table[static_cast<std::size_t>(i)].TypeName);
    }
  }
  EXPECT_EQ(answered, described);

  // Prepared from the server's catalogue, with no verb: the command
  // chooses it and calls the method.
  TRestCommand echo(Connection);
  echo.SetText("TQVRServerMethods.ReverseString");
  echo.Prepare();
  EXPECT_EQ(echo.RequestType(), "GET");
  echo.Parameters()->GetParameterByOrdinal(0).Value().SetWideString("hola");
  echo.Execute();
  EXPECT_TRUE(echo.ResultStored());
  EXPECT_EQ(echo.Parameters()->GetParameterByOrdinal(1).Value().GetWideString(), "aloh");
}

TEST_F(AdminRestClientServerTest, AnEndedSessionIsRefusedAndTheNextCallOpensAnother) {
  TAdminRestClient admin(Connection);
  EXPECT_EQ(admin.GetPlatformName(), "Linux");
  const std::string ended = Connection.SessionID();
  ASSERT_FALSE(ended.empty());
  // Prepare() loads the catalogue in the session, and leaves it as it was.
  TRestCommand command(Connection);
  command.SetText("Admin.GetPlatformName");
  command.Prepare();
  EXPECT_EQ(Connection.SessionID(), ended);

  admin.ClearSession();
  EXPECT_EQ(Connection.SessionID(), "");
  // The ended id, sent again, is refused as expired.
  Connection.SetSessionID(ended);
  try {
    admin.GetPlatformName();
    ADD_FAILURE() << "the ended session was accepted";
  } catch (const TRestProtocolException& AError) {
    EXPECT_EQ(AError.Status(), 403);
    EXPECT_EQ(AError.Message(), "HTTP/1.1 403 Forbidden:\r\nSession has expired");
  }
  EXPECT_EQ(admin.GetPlatformName(), "Linux");
  EXPECT_NE(Connection.SessionID(), ended);
  EXPECT_FALSE(Connection.SessionID().empty());
}

}  // namespace
}  // namespace qvr::rest
