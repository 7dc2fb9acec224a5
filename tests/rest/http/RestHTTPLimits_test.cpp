// What a server can make the HTTP object hold: a body kept in memory (the
// exchange's memory stream, every error body) is bounded by
// MaxHeldBodySize; a body streamed into any other stream of the caller is
// not; an endless header section is a receive failure. Against raw servers
// on 127.0.0.1 that send exactly the bytes each case needs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rest/http/RestHTTP.h"
#include "support/HttpTestServers.h"

namespace qvr::rest {
namespace {

using test::TRawHttpServer;
using test::TRawRequest;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::string Answer(const std::string& AStatusLine, const std::string& ABody,
                   const std::string& AHeaders = "") {
  return AStatusLine + "\r\nContent-Length: " + std::to_string(ABody.size()) + "\r\n" + AHeaders +
         "\r\n" + ABody;
}

// The same body in chunks of 1000 bytes, without a length announced.
std::string Chunked(const std::string& AStatusLine, const std::string& ABody) {
  std::string answer = AStatusLine + "\r\nTransfer-Encoding: chunked\r\n\r\n";
  char size[16];
  for (std::size_t at = 0; at < ABody.size(); at += 1000) {
    const std::string chunk = ABody.substr(at, 1000);
    std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
    answer += size + chunk + "\r\n";
  }
  return answer + "0\r\n\r\n";
}

// A caller's own stream that is not a memory stream: it streams the body on
// (here it only counts it).
class TCountingStream : public TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void*, std::size_t ACount) override {
    FSize += static_cast<std::int64_t>(ACount);
    return ACount;
  }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return FSize; }
  std::int64_t Size() const override { return FSize; }
  void SetSize(std::int64_t ASize) override { FSize = ASize; }

 private:
  std::int64_t FSize = 0;
};

template <typename E, typename F>
std::string MessageOf(F&& AAction) {
  try {
    AAction();
  } catch (const E& e) {
    return e.Message();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    return {};
  }
  ADD_FAILURE() << "no exception raised";
  return {};
}

class LimitsTest : public ::testing::Test {
 protected:
  test::TNoProxyEnvironment FNoProxy;
};

TEST_F(LimitsTest, HeldBodiesAreBoundedStreamedOnesAreNot) {
  TRestHTTP http;
  // 256 MiB unless set otherwise.
  EXPECT_EQ(http.MaxHeldBodySize(), 256 * 1024 * 1024);
  http.SetMaxHeldBodySize(10000);
  const std::string fits(10000, 'f');
  const std::string over(10001, 'o');
  struct Row {
    std::string Status;
    bool Chunked;
  };
  const Row rows[] = {{"HTTP/1.1 200 OK", false},
                      {"HTTP/1.1 200 OK", true},
                      {"HTTP/1.1 500 Internal Server Error", false},
                      {"HTTP/1.1 404 Not Found", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Status + (row.Chunked ? " chunked" : ""));
    TRawHttpServer server([&](const TRawRequest& r) {
      const std::string& body = r.Target == "/fits" ? fits : over;
      return row.Chunked ? Chunked(row.Status, body) : Answer(row.Status, body);
    });
    const bool failure = row.Status.find(" 200 ") == std::string::npos;
    // At the limit: the whole body arrives.
    TMemoryStream held;
    try {
      http.Get(server.Url("/fits"), held);
      EXPECT_FALSE(failure);
    } catch (const EHTTPProtocolException& e) {
      EXPECT_TRUE(failure);
      EXPECT_EQ(e.ErrorMessage(), fits);
    }
    EXPECT_EQ(held.Bytes(), fits);
    // One byte more ends the exchange, whether a length was announced or not.
    TMemoryStream cut;
    EXPECT_EQ(MessageOf<ENetHTTPClientException>([&] { http.Get(server.Url("/over"), cut); }),
              "Response body exceeds 10000 bytes");
    // An error body is held by the HTTP object whatever stream the caller
    // gave; a success body streams on into a stream that is not a memory
    // stream.
    TCountingStream streamed;
    if (failure) {
      EXPECT_EQ(
          MessageOf<ENetHTTPClientException>([&] { http.Get(server.Url("/over"), streamed); }),
          "Response body exceeds 10000 bytes");
    } else {
      http.Get(server.Url("/over"), streamed);
      EXPECT_EQ(streamed.Size(), 10001);
    }
  }
  // 0 (or less) sets no bound.
  http.SetMaxHeldBodySize(0);
  TRawHttpServer big([&](const TRawRequest&) { return Answer("HTTP/1.1 200 OK", over); });
  TMemoryStream all;
  http.Get(big.Url("/"), all);
  EXPECT_EQ(all.Size(), 10001);
}

TEST_F(LimitsTest, AnOversizedHeaderSectionIsAReceiveFailure) {
  const std::string longLine = "X-Long: " + std::string(2 * 1024 * 1024, 'h') + "\r\n";
  std::string manyLines;
  for (int i = 0; i < 40000; ++i) manyLines += "X-Many-" + std::to_string(i) + ": some value\r\n";
  for (const std::string& headers : {longLine, manyLines}) {
    TRawHttpServer server(
        [&](const TRawRequest&) { return Answer("HTTP/1.1 200 OK", "x", headers); });
    TRestHTTP http;
    TMemoryStream body;
    const std::string message =
        MessageOf<ENetHTTPClientException>([&] { http.Get(server.Url("/"), body); });
    EXPECT_THAT(message, StartsWith("Error receiving data: ("));
    EXPECT_THAT(message, Not(HasSubstr("memory")));
  }
}

}  // namespace
}  // namespace qvr::rest
