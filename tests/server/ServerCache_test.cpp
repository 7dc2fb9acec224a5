// The cache area of qvr-server: a call in cache mode, the value and command
// fetches, DELETE, the binding to the session and the bound on the number of
// cached commands.
#include <gtest/gtest.h>

#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"
#include "server/ServerCalls.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

using rest::WriteJSON;

// The item path a cache-mode call answers.
std::string CacheCall(TServerClient& AClient, const TMethodRequest& ARequest) {
  const auto answer = AClient.Call(ARequest, true);
  const auto* result = answer->AsObject()->GetValue("result");
  EXPECT_TRUE(result && result->AsArray() && result->AsArray()->Count() == 1) << WriteJSON(*answer);
  return StringOf(result->AsArray()->Items(0));
}

int CacheStatus(TServerClient& AClient, const std::string& AVerb, const std::string& APath) {
  try {
    AClient.CacheRequest(AVerb, APath);
    return 200;
  } catch (const rest::TRestProtocolException& AError) {
    return AError.Status();
  }
}

TEST(ServerCacheTest, FromTheCacheModeCallToDelete) {
  TServerProcess server;
  TServerClient client(server.Port());
  const std::string item = CacheCall(client, calls::InfoEmpleado(1001));
  const auto slash = item.rfind('/');
  ASSERT_NE(slash, std::string::npos) << item;
  const std::string command = item.substr(0, slash);
  ASSERT_FALSE(command.empty());

  // The value is the plain call's result, as the "result" member itself.
  const auto plain = client.Result(calls::InfoEmpleado(1001));
  const auto value = client.CacheRequest("GET", item);
  EXPECT_EQ(WriteJSON(*value), R"({"result":)" + WriteJSON(*plain) + "}");
  // A request filter after the item path, as the client appends it.
  EXPECT_EQ(WriteJSON(*client.CacheRequest("GET", item + "/?x=1")), WriteJSON(*value));

  const auto cached = client.CacheRequest("GET", command);
  EXPECT_EQ(WriteJSON(*cached), R"({"result":{"command":"TQVRServerMethods.InfoEmpleado",)"
                                R"("parameters":[1001],"items":[")" +
                                    rest::WriteJSON(rest::TJSONString(item)).substr(1) + "]}}");

  EXPECT_EQ(CacheStatus(client, "DELETE", command), 200);
  EXPECT_EQ(CacheStatus(client, "GET", item), 404);
  EXPECT_EQ(CacheStatus(client, "GET", command), 404);
  EXPECT_EQ(CacheStatus(client, "DELETE", command), 404);
  // A refused cache request leaves the session.
  EXPECT_FALSE(client.Connection().SessionID().empty());
}

TEST(ServerCacheTest, EveryCachedVariantKeepsItsValue) {
  TServerProcess server;
  TServerClient client(server.Port());
  const TMethodRequest kRequests[] = {calls::Opciones(),
                                      calls::ListaRelojes(),
                                      calls::ListaEmpresas(),
                                      calls::ListaPersonalParcial(),
                                      calls::ListaPersonalCompleta(),
                                      calls::InfoEmpleado(1005)};
  for (const auto& request : kRequests) {
    const std::string item = CacheCall(client, request);
    const auto value = client.CacheRequest("GET", item);
    EXPECT_EQ(WriteJSON(*value->AsObject()->GetValue("result")), WriteJSON(*client.Result(request)))
        << request.Path;
  }
  const auto list =
      UnmarshalList(*client.CacheRequest("GET", CacheCall(client, calls::ListaRelojes()))
                         ->AsObject()
                         ->GetValue("result"));
  EXPECT_EQ(list->Names(), std::vector<std::string>{"Relojes"});
}

TEST(ServerCacheTest, ItemsBelongToTheirSession) {
  TServerProcess server;
  TServerClient owner(server.Port()), other(server.Port());
  const std::string item = CacheCall(owner, calls::ListaEmpresas());
  ASSERT_EQ(other.Result(calls::EchoString("x"))->Kind(), rest::TJSONValue::TKind::String);
  EXPECT_EQ(CacheStatus(other, "GET", item), 404);
  EXPECT_EQ(CacheStatus(other, "DELETE", item.substr(0, item.rfind('/'))), 404);
  EXPECT_EQ(CacheStatus(owner, "GET", item), 200);
}

TEST(ServerCacheTest, TheOldestCommandsGoBeyondTheBound) {
  TServerProcess server({"--cache-commands", "2"});
  TServerClient client(server.Port());
  const std::string first = CacheCall(client, calls::InfoEmpleado(1001));
  const std::string second = CacheCall(client, calls::InfoEmpleado(1002));
  const std::string third = CacheCall(client, calls::InfoEmpleado(1003));
  EXPECT_EQ(CacheStatus(client, "GET", first), 404);
  EXPECT_EQ(CacheStatus(client, "GET", second), 200);
  EXPECT_EQ(CacheStatus(client, "GET", third), 200);
}

TEST(ServerCacheTest, AResultLargerThanTheAreaIsRefused) {
  TServerProcess server({"--cache-size", "1K"});
  TServerClient client(server.Port());
  try {
    client.Call(calls::ListaPersonalCompleta(), true);
    FAIL() << "a list larger than the cache area was cached";
  } catch (const rest::TRestProtocolException& AError) {
    EXPECT_EQ(AError.Status(), 507);
  }
  EXPECT_FALSE(CacheCall(client, calls::EchoString("small")).empty());
}

TEST(ServerCacheTest, MalformedCachePathsAreRefused) {
  TServerProcess server;
  TServerClient client(server.Port());
  const std::string item = CacheCall(client, calls::EchoString("x"));
  EXPECT_EQ(CacheStatus(client, "DELETE", item), 400);  // an item path, not a command path
  for (const char* path :
       {"", "abc", "1/x", "x/0", "99/0", "1/0/0", "-1", "184467440737095516150"}) {
    EXPECT_EQ(CacheStatus(client, "GET", path), 404) << path;
  }
}

}  // namespace
}  // namespace qvr::test
