// The stand-in server that every REST test talks to: the order in which it
// picks answers, what it records and the answers its helpers build, checked
// with a plain cpp-httplib client so that a fault here cannot hide behind one
// in the HTTP layer.
#include "support/StandInServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <string>

namespace qvr::test {
namespace {

class StandInServerTest : public ::testing::Test {
 protected:
  StandInServerTest() : Client("127.0.0.1", Server.Port()) {
    Client.set_connection_timeout(5);
    Client.set_read_timeout(5);
  }
  TStandInServer Server;
  httplib::Client Client;
};

TEST_F(StandInServerTest, AnswersQueueThenFixedThenHandlerThenDefault) {
  Server.SetHandler([](const TRecordedRequest& R) { return JsonAnswer(200, "handler:" + R.Path); });
  Server.On("GET", "/fixed", JsonAnswer(200, "fixed"));
  Server.Enqueue(JsonAnswer(200, "queued"));
  EXPECT_EQ(Client.Get("/fixed")->body, "queued");
  EXPECT_EQ(Client.Get("/fixed")->body, "fixed");
  EXPECT_EQ(Client.Get("/fixed")->body, "fixed");
  EXPECT_EQ(Client.Get("/other")->body, "handler:/other");
  EXPECT_EQ(Client.Post("/fixed", "", "text/plain")->body, "handler:/fixed");
  Server.Reset();
  auto r = Client.Get("/any");
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "{\"result\":[]}");
  EXPECT_EQ(Server.RequestCount(), 1u);
}

TEST_F(StandInServerTest, RecordsMethodTargetHeadersAndBody) {
  httplib::Headers headers = {{"Pragma", "sessionid=A"}, {"X-Two", "1"}, {"X-Two", "2"}};
  Client.Put("/a%20b/c?x=1", headers, "body bytes", "text/plain;charset=UTF-8");
  const TRecordedRequest r = Server.LastRequest();
  EXPECT_EQ(r.Method, "PUT");
  EXPECT_EQ(r.Target, "/a%20b/c?x=1");
  EXPECT_EQ(r.Path, "/a b/c");
  EXPECT_EQ(r.Body, "body bytes");
  EXPECT_EQ(r.Header("pragma"), "sessionid=A");
  EXPECT_EQ(r.Header("Content-Type"), "text/plain;charset=UTF-8");
  EXPECT_EQ(r.HeaderCount("X-Two"), 2u);
  EXPECT_FALSE(r.HasHeader("REMOTE_ADDR"));
  EXPECT_EQ(r.Header("Missing"), "");
}

TEST_F(StandInServerTest, HelpersBuildTheServersAnswers) {
  Server.Enqueue(ResultAnswer("\"x\",true").WithSessionID("S1", "dssessionexpires=5"));
  auto r = Client.Get("/");
  EXPECT_EQ(r->body, "{\"result\":[\"x\",true]}");
  EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
  EXPECT_EQ(r->get_header_value("Pragma"), "sessionid=S1,dssessionexpires=5");

  Server.Enqueue(ErrorAnswer(500, "a \"quoted\"\n text"));
  r = Client.Get("/");
  EXPECT_EQ(r->status, 500);
  EXPECT_EQ(r->body, "{\"error\":\"a \\\"quoted\\\"\\u000A text\"}");

  Server.Enqueue(SessionExpiredAnswer("gone"));
  r = Client.Get("/");
  EXPECT_EQ(r->status, 403);
  EXPECT_EQ(r->body, "{\"SessionExpired\":\"gone\"}");

  Server.Enqueue(RedirectAnswer(302, "/there"));
  r = Client.Get("/");
  EXPECT_EQ(r->status, 302);
  EXPECT_EQ(r->get_header_value("Location"), "/there");

  Server.Enqueue(BytesAnswer(200, "\xE9", ""));
  r = Client.Get("/");
  EXPECT_EQ(r->body, "\xE9");
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain");  // added by cpp-httplib

  Server.Enqueue(ResultAnswer().WithPragma("a").WithPragma("b"));
  r = Client.Get("/");
  EXPECT_EQ(r->get_header_value_count("Pragma"), 2u);
}

TEST_F(StandInServerTest, RecordingCanBeSwitchedOff) {
  Server.SetRecording(false);
  Client.Get("/");
  EXPECT_EQ(Server.RequestCount(), 0u);
  Server.SetRecording(true);
  Client.Get("/");
  EXPECT_EQ(Server.RequestCount(), 1u);
}

}  // namespace
}  // namespace qvr::test
