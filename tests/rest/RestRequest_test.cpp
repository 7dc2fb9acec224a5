// One REST exchange: the request's calling order and header preparation, the
// status handling into TRestProtocolException with its message, and the
// response's decoding and stream ownership. Network cases talk to a stand-in
// server on 127.0.0.1.
#include "rest/RestRequest.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/SysUtils.h"
#include "rest/http/NetHTTPExceptions.h"
#include "support/StandInServer.h"

namespace qvr::rest {
namespace {

using test::BytesAnswer;
using test::EmptyAnswer;
using test::ErrorAnswer;
using test::JsonAnswer;
using test::ResultAnswer;
using test::SessionExpiredAnswer;
using test::TStandInServer;

// ---------------------------------------------------------------- response

TEST(RestRequestResponse, RewindsAndDecodesOnceKeepingThePosition) {
  auto stream = std::make_unique<TMemoryStream>(std::string("caf\xE9"));
  stream->SetPosition(3);
  TRestRequestResponse response(std::move(stream), "", "S", false);
  EXPECT_EQ(response.GetStream().Position(), 0);
  response.GetStream().SetPosition(2);
  EXPECT_EQ(response.StringValue(), "caf\xC3\xA9");  // ISO-8859-1 without a charset
  EXPECT_EQ(response.GetStream().Position(), 2);
  // Remembered: a later change of the stream does not change the text.
  response.GetStream().Write("zz", 2);
  EXPECT_EQ(response.StringValue(), "caf\xC3\xA9");
  EXPECT_EQ(response.SessionID(), "S");
  EXPECT_FALSE(response.SessionExpired());
}

// A body that decodes to itself becomes the text without a copy; the stream
// asked for afterwards has the same bytes and position, and is the caller's
// to change without touching the text.
TEST(RestRequestResponse, StreamAfterTheTextHoldsTheSameBody) {
  struct TCase {
    std::string Body;
    const char* Charset;
    std::string Text;
  };
  const TCase cases[] = {
      {"{\"result\":[1]}", "", "{\"result\":[1]}"},         // ASCII, ISO-8859-1
      {"\xC3\xA9t\xC3\xA9", "UTF-8", "\xC3\xA9t\xC3\xA9"},  // valid UTF-8
      {"caf\xE9", "", "caf\xC3\xA9"},                       // decoded: a copy
      {"a\xFF", "utf-8", "a\xEF\xBF\xBD"},                  // repaired: a copy
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Body);
    for (bool take : {false, true}) {
      TRestRequestResponse response(std::make_unique<TMemoryStream>(c.Body), c.Charset, "", false);
      EXPECT_EQ(response.StringValue(), c.Text);
      std::unique_ptr<TStream> taken;
      TStream& stream = take ? *(taken = response.TakeStream()) : response.GetStream();
      EXPECT_EQ(stream.Position(), 0);
      EXPECT_EQ(ReadToEnd(stream), c.Body);
      stream.Write("zz", 2);
      EXPECT_EQ(response.StringValue(), c.Text);
      if (!take) {
        EXPECT_EQ(&response.GetStream(), &stream);
        EXPECT_EQ(response.GetStream().Position(), static_cast<std::int64_t>(c.Body.size()) + 2);
      }
    }
  }
  // A stream lent out before the text was read stays the one lent.
  TRestRequestResponse lent(std::make_unique<TMemoryStream>(std::string("abc")), "", "", false);
  TStream& before = lent.GetStream();
  before.SetPosition(1);
  EXPECT_EQ(lent.StringValue(), "abc");
  EXPECT_EQ(&lent.GetStream(), &before);
  EXPECT_EQ(before.Position(), 1);
  EXPECT_EQ(before.Size(), 3);
}

TEST(RestRequestResponse, DecodesWithItsCharset) {
  TRestRequestResponse response(std::make_unique<TMemoryStream>(std::string("\xC3\xA9")), "utf-8",
                                "", false);
  EXPECT_EQ(response.StringValue(), "\xC3\xA9");
  EXPECT_EQ(response.ResponseCharSet(), "utf-8");
}

TEST(RestRequestResponse, UnknownCharsetRaisesOnEveryRead) {
  TRestRequestResponse response(std::make_unique<TMemoryStream>(std::string("x")), "klingon", "",
                                false);
  for (int i = 0; i < 2; ++i) {
    try {
      response.StringValue();
      ADD_FAILURE() << "no exception";
    } catch (const EEncodingError& E) {
      EXPECT_EQ(E.Message(), "Invalid encoding name");
    }
  }
}

TEST(RestRequestResponse, TakeStreamHandsTheBodyOver) {
  TRestRequestResponse response(std::make_unique<TMemoryStream>(std::string("abc")), "", "", false);
  EXPECT_EQ(response.StringValue(), "abc");
  std::unique_ptr<TStream> body = response.TakeStream();
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(body->Size(), 3);
  EXPECT_EQ(response.TakeStream(), nullptr);
  EXPECT_EQ(response.StringValue(), "abc");  // decoded before the hand-over
  EXPECT_THROW(response.GetStream(), TRestException);

  TRestRequestResponse undecoded(std::make_unique<TMemoryStream>(std::string("abc")), "", "",
                                 false);
  undecoded.TakeStream();
  EXPECT_THROW(undecoded.StringValue(), TRestException);
}

TEST(RestRequestResponse, NullStreamIsAnEmptyBody) {
  TRestRequestResponse response(nullptr, "", "", false);
  EXPECT_EQ(response.StringValue(), "");
  EXPECT_EQ(response.GetStream().Size(), 0);
}

// --------------------------------------------------------------- exchanges

class RestRequestExchange : public ::testing::Test {
 protected:
  std::string Url(const std::string& APath = "/rpc/rest/M/") const {
    return Server.Origin() + APath;
  }

  std::unique_ptr<TRestRequestResponse> Send(const std::string& AType,
                                             const std::string& ABody = {},
                                             const std::string& APragma = {},
                                             const std::string& AUser = {}) {
    TRestRequest request(HTTP);
    request.open(AType, Url(), AUser, "pw");
    request.SetAccept("application/JSON");
    request.setRequestPragma(APragma);
    return request.send(ABody);
  }

  // The protocol exception of one exchange answered with AAnswer.
  TRestProtocolException Failure(const test::TStandInAnswer& AAnswer,
                                 TRestRequest* ARequest = nullptr) {
    Server.Enqueue(AAnswer);
    TRestRequest local(HTTP);
    TRestRequest& request = ARequest != nullptr ? *ARequest : local;
    request.open("GET", Url(), "", "");
    try {
      request.send({});
    } catch (const TRestProtocolException& E) {
      return E;
    }
    ADD_FAILURE() << "no protocol exception for status " << AAnswer.Status;
    return TRestProtocolException(0, "", "");
  }

  TStandInServer Server;
  TRestHTTP HTTP;
};

TEST_F(RestRequestExchange, SuccessStatusesReturnTheResponse) {
  for (int status : {200, 201, 202}) {
    Server.Enqueue(JsonAnswer(status, "{\"result\":[1]}").WithSessionID("S"));
    auto response = Send("GET");
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->StringValue(), "{\"result\":[1]}") << status;
    EXPECT_EQ(response->SessionID(), "S") << status;
    EXPECT_FALSE(response->SessionExpired());
  }
}

TEST_F(RestRequestExchange, CharsetComesFromContentTypeWithoutQuotes) {
  struct TCase {
    const char* ContentType;
    std::string Body;
    const char* CharSet;
    std::string Text;
  };
  const TCase kCases[] = {
      {"", "\xE9", "", "\xC3\xA9"},  // the single byte 0xE9 reads as "é"
      {"application/json", "\xE9", "", "\xC3\xA9"},
      {"application/json; charset=UTF-8", "\xC3\xA9", "UTF-8", "\xC3\xA9"},
      {"application/json; charset=\"utf-8\"", "\xC3\xA9", "utf-8", "\xC3\xA9"},
      {"text/plain;charset=windows-1252", "\x80", "windows-1252", "\xE2\x82\xAC"},
  };
  for (const auto& c : kCases) {
    Server.Enqueue(BytesAnswer(200, c.Body, c.ContentType));
    auto response = Send("GET");
    EXPECT_EQ(response->ResponseCharSet(), c.CharSet) << c.ContentType;
    EXPECT_EQ(response->StringValue(), c.Text) << c.ContentType;
  }
}

TEST_F(RestRequestExchange, Status203To299IsAFailureWithEmptyTexts) {
  for (int status : {203, 204, 206, 299}) {
    TRestRequest request(HTTP);
    const auto E =
        Failure(BytesAnswer(status, status == 204 ? "" : "{\"error\":\"x\"}", "application/json"),
                &request);
    EXPECT_EQ(E.Status(), status);
    EXPECT_EQ(E.Message(), "") << status;
    EXPECT_EQ(E.ResponseText(), "") << status;
    EXPECT_EQ(request.Status(), status);
  }
}

TEST_F(RestRequestExchange, FailureMessageIsTheStatusLineAndTheErrorMember) {
  struct TCase {
    const char* Note;
    int Status;
    std::string Body;
    std::string Message;
  };
  // Status texts as the stand-in server (cpp-httplib) writes them.
  const TCase kCases[] = {
      {"error member", 500, "{\"error\":\"boom\"}", "HTTP/1.1 500 Internal Server Error:\r\nboom"},
      {"SessionExpired member", 403, "{\"SessionExpired\":\"Session expired\"}",
       "HTTP/1.1 403 Forbidden:\r\nSession expired"},
      {"error wins over SessionExpired", 403, "{\"SessionExpired\":\"a\",\"error\":\"b\"}",
       "HTTP/1.1 403 Forbidden:\r\nb"},
      {"empty error member adds nothing", 500, "{\"error\":\"\",\"SessionExpired\":\"s\"}",
       "HTTP/1.1 500 Internal Server Error"},
      {"first of two error members", 500, "{\"error\":\"1\",\"error\":\"2\"}",
       "HTTP/1.1 500 Internal Server Error:\r\n1"},
      {"number as its text", 500, "{\"error\":12.50}",
       "HTTP/1.1 500 Internal Server Error:\r\n12.50"},
      {"true as its name", 500, "{\"error\":true}", "HTTP/1.1 500 Internal Server Error:\r\ntrue"},
      {"null adds nothing", 500, "{\"error\":null}", "HTTP/1.1 500 Internal Server Error"},
      {"object adds nothing", 500, "{\"error\":{\"a\":1}}", "HTTP/1.1 500 Internal Server Error"},
      {"nested error is not the member", 500, "{\"x\":{\"error\":\"deep\"}}",
       "HTTP/1.1 500 Internal Server Error"},
      {"escapes decoded", 404, "{\"error\":\"\\u00e9\\n\"}",
       "HTTP/1.1 404 Not Found:\r\n\xC3\xA9\n"},
      {"array body", 500, "[\"error\"]", "HTTP/1.1 500 Internal Server Error"},
      {"text after the object", 500, "{\"error\":\"a\"} x", "HTTP/1.1 500 Internal Server Error"},
      {"not JSON", 404, "Not here", "HTTP/1.1 404 Not Found"},
      {"empty body", 404, "", "HTTP/1.1 404 Not Found"},
      {"nested too deep", 500,
       "{\"error\":\"a\",\"x\":" + std::string(600, '[') + std::string(600, ']') + "}",
       "HTTP/1.1 500 Internal Server Error"},
  };
  for (const auto& c : kCases) {
    const auto E = Failure(JsonAnswer(c.Status, c.Body));
    EXPECT_EQ(E.Status(), c.Status) << c.Note;
    EXPECT_EQ(E.Message(), c.Message) << c.Note;
    EXPECT_EQ(E.ResponseText(), c.Body) << c.Note;
  }
}

TEST_F(RestRequestExchange, DeeplyNestedBodyDoesNotExhaustTheStack) {
  const std::string body = std::string(200000, '[') + std::string(200000, ']');
  const auto E = Failure(JsonAnswer(500, body));
  EXPECT_EQ(E.Message(), "HTTP/1.1 500 Internal Server Error");
}

TEST_F(RestRequestExchange, ResponseTextOfAFailureIsUtf8WithoutCharset) {
  const auto E = Failure(BytesAnswer(500, "{\"error\":\"\xC3\xA9\"}", "application/json"));
  EXPECT_EQ(E.ResponseText(), "{\"error\":\"\xC3\xA9\"}");
  EXPECT_EQ(E.Message(), "HTTP/1.1 500 Internal Server Error:\r\n\xC3\xA9");
}

TEST_F(RestRequestExchange, SessionExpiredFlagOnlyFor403WithTheMember) {
  struct TCase {
    test::TStandInAnswer Answer;
    bool Expired;
  };
  const TCase kCases[] = {
      {SessionExpiredAnswer("gone"), true},
      {JsonAnswer(403, "{\"SessionExpired\":null}"), true},
      {JsonAnswer(403, "{\"error\":\"no\"}"), false},
      {JsonAnswer(403, "not json"), false},
      {JsonAnswer(401, "{\"SessionExpired\":\"x\"}"), false},
  };
  for (const auto& c : kCases) {
    TRestRequest request(HTTP);
    Failure(c.Answer, &request);
    EXPECT_EQ(request.SessionExpired(), c.Expired) << c.Answer.Body;
  }
}

TEST_F(RestRequestExchange, HeadersReachTheWireAndNoPragmaSurvives) {
  TRestRequest first(HTTP);
  first.open("post", Url(), "ana", "pw");
  first.SetAccept("application/rest");
  first.setRequestHeader("X-Trace", "1");
  first.setRequestHeader("x-trace", "2");  // same name: replaced
  first.setRequestPragma("sessionid=A");
  first.send("body");
  auto r = Server.LastRequest();
  EXPECT_EQ(r.Method, "POST");
  EXPECT_EQ(r.Body, "body");
  EXPECT_EQ(r.Header("Accept"), "application/rest");
  EXPECT_EQ(r.HeaderCount("X-Trace"), 1u);
  EXPECT_EQ(r.Header("X-Trace"), "2");
  EXPECT_EQ(r.Header("Pragma"), "sessionid=A");
  EXPECT_EQ(r.Header("Authorization"), "Basic YW5hOnB3");  // base64("ana:pw")

  // A later request without pragma and without user name: the Pragma is gone,
  // the basic credentials of the header set stay.
  TRestRequest second(HTTP);
  second.open("GET", Url(), "", "");
  second.SetAccept("application/JSON");
  second.send("ignored");
  r = Server.LastRequest();
  EXPECT_FALSE(r.HasHeader("Pragma"));
  EXPECT_EQ(r.Header("Accept"), "application/JSON");
  EXPECT_EQ(r.Header("Authorization"), "Basic YW5hOnB3");
  EXPECT_EQ(r.Body, "");
}

TEST_F(RestRequestExchange, UnknownRequestTypeSendsNothing) {
  for (const char* type : {"PATCH", "merge", "HEAD", "OPTIONS", " GET"}) {
    try {
      Send(type);
      ADD_FAILURE() << type;
    } catch (const TRestProtocolException&) {
      ADD_FAILURE() << "protocol failure for " << type;
    } catch (const TRestException& E) {
      std::string upper = type;
      for (char& ch : upper)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
      EXPECT_EQ(E.Message(), Format("Unexpected request type: %s.", upper));
    }
  }
  EXPECT_EQ(Server.RequestCount(), 0u);
}

TEST_F(RestRequestExchange, RedirectIsFollowedToTheFinalAnswer) {
  Server.Enqueue(test::RedirectAnswer(302, "/elsewhere/"));
  Server.Enqueue(ResultAnswer("1"));
  EXPECT_EQ(Send("GET")->StringValue(), "{\"result\":[1]}");
  EXPECT_EQ(Server.LastRequest().Target, "/elsewhere/");
}

TEST_F(RestRequestExchange, OnlyTheOriginalOriginSetsTheSessionId) {
  // A session id is a credential of the original server: an answer from
  // another origin reached by a redirect cannot plant one.
  TStandInServer other;
  Server.Enqueue(test::RedirectAnswer(302, other.Origin() + "/x/").WithSessionID("MINE"));
  // Closed after the answer: the other server goes before the HTTP object.
  other.Enqueue(ResultAnswer("1").WithSessionID("PLANTED").WithHeader("Connection", "close"));
  EXPECT_EQ(Send("GET")->SessionID(), "");
  Server.Enqueue(test::RedirectAnswer(302, "/same/"));
  Server.Enqueue(ResultAnswer("1").WithSessionID("OWN"));
  EXPECT_EQ(Send("GET")->SessionID(), "OWN");
}

TEST_F(RestRequestExchange, NetworkFailurePassesThroughUnchanged) {
  int closedPort = 0;
  {
    TStandInServer gone;
    closedPort = gone.Port();
  }
  TRestRequest request(HTTP);
  request.open("GET", "http://127.0.0.1:" + std::to_string(closedPort) + "/", "", "");
  EXPECT_THROW(request.send({}), ENetHTTPClientException);
}

TEST_F(RestRequestExchange, TheBodyOfAFailureStaysWithTheRequestAndANewSendWorks) {
  TRestRequest request(HTTP);
  Failure(ErrorAnswer(500, "first"), &request);
  Server.Enqueue(ResultAnswer("2"));
  auto response = request.send({});
  EXPECT_EQ(response->StringValue(), "{\"result\":[2]}");
}

}  // namespace
}  // namespace qvr::rest
