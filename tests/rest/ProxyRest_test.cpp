// The REST proxy base classes: the instance-owner flag of both constructors,
// the administrative command made once and reused, and the administration
// client's own call against a stand-in server on 127.0.0.1.
#include "rest/ProxyRest.h"

#include <gtest/gtest.h>

#include "support/StandInServer.h"

namespace qvr::rest {
namespace {

using test::ResultAnswer;
using test::TStandInServer;

TEST(RestClient, TheInstanceOwnerFlagIsTrueUnlessSaidOtherwise) {
  TRestConnection connection;
  EXPECT_TRUE(TRestClient(connection).InstanceOwner());
  EXPECT_FALSE(TRestClient(connection, false).InstanceOwner());
  EXPECT_TRUE(TAdminRestClient(connection).InstanceOwner());
  EXPECT_FALSE(TAdminRestClient(connection, false).InstanceOwner());
  EXPECT_EQ(&TAdminRestClient(connection).Connection(), &connection);
}

TEST(AdminRestClient, GetPlatformNameReusesItsCommand) {
  TStandInServer server;
  TRestConnection connection;
  connection.SetHost("127.0.0.1");
  connection.SetPort(server.Port());
  connection.SetLoginPrompt(false);
  {
    TAdminRestClient admin(connection);
    server.Enqueue(ResultAnswer("\"Linux\""));
    EXPECT_EQ(admin.GetPlatformName(), "Linux");
    server.Enqueue(ResultAnswer("\"Debian\""));
    EXPECT_EQ(admin.GetPlatformName("x=1"), "Debian");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Target, "/rpc/rest/Admin/GetPlatformName/");
    EXPECT_EQ(requests[1].Target, "/rpc/rest/Admin/GetPlatformName/?x=1");
    EXPECT_EQ(requests[1].Method, "GET");
  }
  // The client went; the connection it borrowed is still there and usable.
  server.Enqueue(ResultAnswer("\"Linux\""));
  connection.TestConnection({});
}

}  // namespace
}  // namespace qvr::rest
