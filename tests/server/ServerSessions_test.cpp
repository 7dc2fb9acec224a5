// Sessions and authentication of qvr-server: the session id in Pragma, its
// idle expiry, and who may call with and without --anonymous.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "rest/RestExceptions.h"
#include "server/ServerCalls.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

// The status of one EchoString call by AClient (200 when it succeeds) and,
// for a refusal, the body.
std::pair<int, std::string> Echo(TServerClient& AClient) {
  try {
    AClient.Call(calls::EchoString("x"));
    return {200, ""};
  } catch (const rest::TRestProtocolException& AError) {
    return {AError.Status(), AError.ResponseText()};
  }
}

TEST(ServerSessionsTest, EveryAnswerCarriesTheSessionAndTheClientKeepsIt) {
  TServerProcess server;
  TServerClient first(server.Port()), second(server.Port(), "caja1");
  ASSERT_EQ(Echo(first).first, 200);
  const std::string id = first.Connection().SessionID();
  EXPECT_EQ(id.size(), 32u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
  ASSERT_EQ(Echo(first).first, 200);
  EXPECT_EQ(first.Connection().SessionID(), id);
  ASSERT_EQ(Echo(second).first, 200);
  EXPECT_NE(second.Connection().SessionID(), id);

  // A session id the server never gave, and one of another user.
  first.Connection().SetSessionID("0123456789abcdef0123456789abcdef");
  EXPECT_EQ(Echo(first),
            std::make_pair(403, std::string(R"({"SessionExpired":"Session has expired"})")));
  EXPECT_EQ(first.Connection().SessionID(), "");
  first.Connection().SetSessionID(second.Connection().SessionID());
  EXPECT_EQ(Echo(first).first, 403);
  // The next call, without a session, opens a new one.
  EXPECT_EQ(Echo(first).first, 200);
  EXPECT_FALSE(first.Connection().SessionID().empty());
}

TEST(ServerSessionsTest, AnIdleSessionExpires) {
  TServerProcess server({"--session-timeout", "0.3"});
  TServerClient client(server.Port());
  ASSERT_EQ(Echo(client).first, 200);
  const std::string id = client.Connection().SessionID();
  // Used within the time-out, it lives on.
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_EQ(Echo(client).first, 200);
    EXPECT_EQ(client.Connection().SessionID(), id);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  try {
    client.Call(calls::EchoString("x"));
    FAIL() << "the expired session was accepted";
  } catch (const rest::TRestProtocolException& AError) {
    EXPECT_EQ(AError.Status(), 403);
    EXPECT_NE(AError.Message().find("Session has expired"), std::string::npos) << AError.Message();
  }
  EXPECT_EQ(client.Connection().SessionID(), "");
  ASSERT_EQ(Echo(client).first, 200);
  EXPECT_NE(client.Connection().SessionID(), id);
}

TEST(ServerSessionsTest, OnlyTheUsersOfTheDatabaseMayCall) {
  const struct {
    bool Anonymous;
    std::string UserName;
    std::string Password;
    int Status;
  } kCases[] = {
      {false, "kiosco", "", 200},    {false, "caja1", "", 200},   {false, "", "", 401},
      {false, "nadie", "", 401},     {false, "kiosco", "x", 401}, {false, "KIOSCO", "", 401},
      {true, "", "", 200},           {true, "kiosco", "", 200},   {true, "nadie", "", 401},
      {true, "caja1", "clave", 401},
  };
  TServerProcess closed;
  TServerProcess open({"--anonymous"});
  for (const auto& c : kCases) {
    TServerClient client((c.Anonymous ? open : closed).Port(), c.UserName);
    client.Connection().SetPassword(c.Password);
    const auto [status, body] = Echo(client);
    EXPECT_EQ(status, c.Status) << c.Anonymous << " '" << c.UserName << "'";
    if (status == 401) {
      EXPECT_NE(body.find("\"error\":"), std::string::npos) << body;
    }
  }
}

TEST(ServerSessionsTest, TheNumberOfSessionsIsBounded) {
  TServerProcess server({"--max-sessions", "2"});
  TServerClient a(server.Port()), b(server.Port()), c(server.Port());
  ASSERT_EQ(Echo(a).first, 200);
  ASSERT_EQ(Echo(b).first, 200);
  ASSERT_EQ(Echo(c).first, 200);  // the least recently used, a's, goes
  EXPECT_EQ(Echo(b).first, 200);
  EXPECT_EQ(Echo(c).first, 200);
  EXPECT_EQ(Echo(a).first, 403);
}

}  // namespace
}  // namespace qvr::test
