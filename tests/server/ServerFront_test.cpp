// qvr-server's HTTP front from the wire, with raw sockets so that every byte
// is the test's: strict request reading (RFC 9112), every bound answered
// with its status while it reads, pipelined requests in order, slow clients
// cut off without holding anyone else up, caps on connections per client
// address, the memory budget, and the Host and Origin rules that keep web
// pages out.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "server/Floods.h"
#include "server/ServerCalls.h"
#include "support/RawClient.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

using namespace std::chrono_literals;

const std::string kEcho = "/rpc/rest/TQVRServerMethods/EchoString/hola/";
const std::string kUpdate = "/rpc/rest/TQVRServerMethods/%22ActualizarEmpleado%22/";
const std::string kCredentials =
    "Authorization: Basic a2lvc2NvOg==\r\n";  // kiosco with no password

// One request on a new connection; the answer's status (0: none came).
int StatusOf(int APort, const std::string& ARequest, std::chrono::milliseconds AWithin = 10s) {
  TRawClient client(APort);
  client.Send(ARequest);
  const auto answer = client.Read(AWithin);
  return answer ? answer->Status : 0;
}

class ServerFrontTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Server = std::make_unique<TServerProcess>(std::vector<std::string>{"--max-body", "64K"});
  }
  static void TearDownTestSuite() { Server.reset(); }
  static int Port() { return Server->Port(); }
  static std::string Host() { return "Host: 127.0.0.1:" + std::to_string(Port()) + "\r\n"; }

  static std::unique_ptr<TServerProcess> Server;
};
std::unique_ptr<TServerProcess> ServerFrontTest::Server;

// Requests the grammar forbids, or that leave their length in doubt, are
// refused with 400 (RFC 9112 sections 2.2, 3.2, 5.1, 6.1 to 6.3).
TEST_F(ServerFrontTest, MalformedRequestsAre400) {
  const std::string line = "GET " + kEcho + " HTTP/1.1\r\n";
  const std::string post = "POST " + kUpdate + " HTTP/1.1\r\n";
  const struct {
    const char* Note;
    std::string Request;
  } kCases[] = {
      {"field line without a colon", line + Host() + kCredentials + "NoColonHere\r\n\r\n"},
      {"blank before the colon", line + Host() + kCredentials + "X-Name : v\r\n\r\n"},
      {"Content-Length not a number", post + Host() + kCredentials + "Content-Length: abc\r\n\r\n"},
      {"two Content-Lengths that differ",
       post + Host() + kCredentials + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}"},
      {"Content-Length and Transfer-Encoding",
       post + Host() + kCredentials + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n{}"},
      {"a transfer coding other than chunked",
       post + Host() + kCredentials + "Transfer-Encoding: gzip\r\n\r\n"},
      {"no Host", line + kCredentials + "\r\n"},
      {"two Hosts", line + Host() + Host() + kCredentials + "\r\n"},
      {"no request line", "\r\n\r\n"},
      {"not HTTP", "HELLO\r\n\r\n"},
      {"bad chunk size",
       post + Host() + kCredentials + "Transfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n0\r\n\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Note);
    TRawClient client(Port());
    client.Send(c.Request);
    const auto answer = client.Read(5s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Status, 400);
    EXPECT_NE(answer->Body.find("\"error\""), std::string::npos) << answer->Body;
    // The rest of such a connection cannot be trusted: it ends.
    EXPECT_TRUE(client.ClosedWithin(5s));
  }
}

// Every bound answers before the server keeps what lies beyond it.
TEST_F(ServerFrontTest, EveryBoundHasItsAnswer) {
  std::string manyFields, bigFields;
  for (int i = 0; i < 70; ++i) manyFields += "X-" + std::to_string(i) + ": 1\r\n";
  for (int i = 0; i < 4; ++i)
    bigFields += "X-Big-" + std::to_string(i) + ": " + std::string(5000, 'b') + "\r\n";
  const struct {
    const char* Note;
    std::string Request;
    int Status;
  } kCases[] = {
      {"target of 5000 bytes",
       TRawClient::Request(Port(),
                           "/rpc/rest/TQVRServerMethods/EchoString/" + std::string(5000, 'a') + "/",
                           "GET", kCredentials),
       414},
      {"70 fields", TRawClient::Request(Port(), kEcho, "GET", kCredentials + manyFields), 431},
      {"20 KB of fields", TRawClient::Request(Port(), kEcho, "GET", kCredentials + bigFields), 431},
      // Refused on the announced length: the body is never sent.
      {"Content-Length beyond --max-body",
       "POST " + kUpdate + " HTTP/1.1\r\n" + Host() + kCredentials +
           "Content-Length: 70000\r\n\r\n",
       413},
      {"Content-Length of 2^63",
       "POST " + kUpdate + " HTTP/1.1\r\n" + Host() + kCredentials +
           "Content-Length: 9223372036854775808\r\n\r\n",
       413},
      {"Content-Length beyond 64 bits",
       "POST " + kUpdate + " HTTP/1.1\r\n" + Host() + kCredentials +
           "Content-Length: 18446744073709551616\r\n\r\n",
       400},
      {"a gzip body",
       TRawClient::Request(Port(), kUpdate, "POST", kCredentials + "Content-Encoding: gzip\r\n",
                           "\x1f\x8b"),
       415},
      {"a PATCH, with no body", TRawClient::Request(Port(), kEcho, "PATCH", kCredentials), 405},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Note);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(StatusOf(Port(), c.Request), c.Status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  }
}

TEST_F(ServerFrontTest, AChunkedBodyIsCountedChunkByChunk) {
  TRawClient client(Port());
  ASSERT_TRUE(client.Send("POST " + kUpdate + " HTTP/1.1\r\n" + Host() + kCredentials +
                          "Transfer-Encoding: chunked\r\n\r\n"));
  const std::string chunk = "4000\r\n" + std::string(0x4000, ' ') + "\r\n";
  int sent = 0;
  // 64 KiB is the bound: the fifth chunk of 16 KiB crosses it, and the
  // server answers without waiting for an end that would never come.
  for (; sent < 64 && client.Send(chunk); ++sent) {
    if (sent == 4) break;
  }
  const auto answer = client.Read(5s);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Status, 413);
  EXPECT_TRUE(client.ClosedWithin(5s));
}

TEST_F(ServerFrontTest, PipelinedRequestsAreAnsweredInOrder) {
  TRawClient client(Port());
  std::string requests;
  for (const char* word : {"uno", "dos", "tres"}) {
    requests += TRawClient::Request(
        Port(), "/rpc/rest/TQVRServerMethods/EchoString/" + std::string(word) + "/", "GET",
        kCredentials);
  }
  ASSERT_TRUE(client.Send(requests));
  for (const char* word : {"uno", "dos", "tres"}) {
    const auto answer = client.Read(5s);
    ASSERT_TRUE(answer) << word;
    EXPECT_EQ(answer->Status, 200);
    EXPECT_EQ(answer->Body, "{\"result\":[\"" + std::string(word) + "\"]}");
  }
}

TEST_F(ServerFrontTest, AnswersWithPersonalDataAreNotStoredOrSniffed) {
  TRawClient client(Port());
  client.Send(TRawClient::Request(Port(), "/rpc/rest/TQVRServerMethods/InfoEmpleado/1001/", "GET",
                                  kCredentials));
  const auto answer = client.Read();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Status, 200);
  EXPECT_EQ(answer->Header("cache-control"), "no-store");
  EXPECT_EQ(answer->Header("x-content-type-options"), "nosniff");
  EXPECT_EQ(answer->Header("content-type"), "application/json; charset=UTF-8");
}

// A page of another site may make a browser send requests here; its Origin
// says so. A page reached by DNS rebinding sends its own host name.
TEST_F(ServerFrontTest, OnlyTheServersOwnOriginAndHostsAreServed) {
  const std::string port = std::to_string(Port());
  const struct {
    const char* Note;
    std::string Fields;
    int Status;
  } kCases[] = {
      {"no Origin (not a browser)", "", 200},
      {"the server's own origin", "Origin: http://127.0.0.1:" + port + "\r\n", 200},
      {"another site's page", "Origin: http://intranet.example\r\n", 403},
      {"the same host on another port", "Origin: http://127.0.0.1:1\r\n", 403},
      {"an opaque origin", "Origin: null\r\n", 403},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Note);
    // A text/plain POST is what a page can send without asking first.
    EXPECT_EQ(StatusOf(Port(),
                       TRawClient::Request(Port(), kUpdate, "POST",
                                           kCredentials + c.Fields + "Content-Type: text/plain\r\n",
                                           "{\"Codigo\":1001,\"Nombre\":\"Eve\"}")),
              c.Status);
  }
  const struct {
    const char* Host;
    int Status;
  } kHosts[] = {
      {"127.0.0.1", 200},
      {"localhost", 200},
      {"127.0.0.2", 200},
      {"[::1]", 200},
      {"rebound.attacker.example", 421},
      {"LOCALHOST", 200},
  };
  for (const auto& h : kHosts) {
    SCOPED_TRACE(h.Host);
    const std::string request = "GET " + kEcho + " HTTP/1.1\r\nHost: " + std::string(h.Host) + ":" +
                                port + "\r\n" + kCredentials + "\r\n";
    EXPECT_EQ(StatusOf(Port(), request), h.Status);
  }
  EXPECT_EQ(StatusOf(Port(),
                     "GET " + kEcho + " HTTP/1.1\r\nHost: 127.0.0.1:1\r\n" + kCredentials + "\r\n"),
            421);
}

TEST_F(ServerFrontTest, ABasicCredentialWithoutAColonIsRefused) {
  // "kiosco" alone, base64: a user name with no password part.
  EXPECT_EQ(StatusOf(Port(), TRawClient::Request(Port(), kEcho, "GET",
                                                 "Authorization: Basic a2lvc2Nv\r\n")),
            401);
}

TEST(ServerFrontLimitsTest, NamesGivenWithAllowHostAreServed) {
  TServerProcess server({"--allow-host", "reloj.planta.example,qvr"});
  const std::string port = std::to_string(server.Port());
  for (const auto& [host, status] : std::vector<std::pair<std::string, int>>{
           {"reloj.planta.example", 200}, {"QVR", 200}, {"planta.example", 421}}) {
    EXPECT_EQ(StatusOf(server.Port(), "GET " + kEcho + " HTTP/1.1\r\nHost: " + host + ":" + port +
                                          "\r\n" + kCredentials + "\r\n"),
              status)
        << host;
  }
}

// A client that sends its head or its body too slowly is cut off with 408;
// it holds no thread meanwhile, so everyone else is served as usual.
TEST(ServerFrontLimitsTest, SlowClientsAreCutOffAndHoldNoOneUp) {
  TServerProcess server({"--request-timeout", "1.5"});
  const int port = server.Port();
  std::vector<std::unique_ptr<TRawClient>> slow;
  // More than the worker threads (32 by default), from another address so
  // that the per-client cap does not decide.
  for (int i = 0; i < 48; ++i) {
    slow.push_back(std::make_unique<TRawClient>(port, "127.0.0." + std::to_string(2 + i / 40)));
    slow.back()->Send("GET " + kEcho.substr(0, 10));
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(StatusOf(port, TRawClient::Request(port, kEcho, "GET", kCredentials)), 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  for (auto& client : slow) {
    const auto answer = client->Read(5s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Status, 408);
  }
  // The body: announced, then too slow.
  TRawClient body(port);
  body.Send("POST " + kUpdate + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" +
            kCredentials + "Content-Length: 1000\r\n\r\n{");
  const auto answer = body.Read(10s);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Status, 408);
}

TEST(ServerFrontLimitsTest, AnIdleConnectionIsClosed) {
  TServerProcess server({"--idle-timeout", "0.5"});
  TRawClient client(server.Port());
  client.Send(TRawClient::Request(server.Port(), kEcho, "GET", kCredentials));
  ASSERT_TRUE(client.Read());
  EXPECT_TRUE(client.ClosedWithin(3s));
}

TEST(ServerFrontLimitsTest, ConnectionsAreCappedPerClientAddress) {
  TServerProcess server({"--max-connections-per-client", "4"});
  const int port = server.Port();
  std::vector<std::unique_ptr<TRawClient>> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(std::make_unique<TRawClient>(port, "127.0.0.2"));
    held.back()->Send(TRawClient::Request(port, kEcho, "GET", kCredentials));
    ASSERT_TRUE(held.back()->Read());
  }
  TRawClient fifth(port, "127.0.0.2");
  fifth.Send(TRawClient::Request(port, kEcho, "GET", kCredentials));
  const auto refused = fifth.Read(5s);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->Status, 503);
  // Another address is served; and a place freed is taken again.
  EXPECT_EQ(StatusOf(port, TRawClient::Request(port, kEcho, "GET", kCredentials)), 200);
  held.pop_back();
  std::this_thread::sleep_for(200ms);
  TRawClient again(port, "127.0.0.2");
  again.Send(TRawClient::Request(port, kEcho, "GET", kCredentials));
  const auto served = again.Read(5s);
  ASSERT_TRUE(served);
  EXPECT_EQ(served->Status, 200);
}

// Bodies held by slow clients count against the memory in flight; beyond
// it a request waits briefly, then gets 503, and the server goes on.
TEST(ServerFrontLimitsTest, TheMemoryInFlightIsBounded) {
  TServerProcess server({"--max-body", "600K", "--max-memory", "1M"});
  const int port = server.Port();
  const std::string head = "POST " + kUpdate +
                           " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" +
                           kCredentials + "Content-Length: 600000\r\n\r\n";
  TRawClient holder(port, "127.0.0.2");
  ASSERT_TRUE(holder.Send(head + "{"));  // its 600 KB are reserved, its body stalls
  std::this_thread::sleep_for(300ms);
  TRawClient second(port, "127.0.0.3");
  ASSERT_TRUE(second.Send(head));
  const auto answer = second.Read(10s);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Status, 503);
  EXPECT_EQ(StatusOf(port, TRawClient::Request(port, kEcho, "GET", kCredentials)), 200);
}

// Sixty-four maximal requests of every kind at once, each kind from an
// address of its own: the server stays up, its memory stays within what its
// bounds allow, and a legitimate client is served meanwhile.
TEST(ServerFrontLimitsTest, ManyMaximalRequestsAtOnceLeaveTheServerServing) {
  TServerProcess server({"--max-body", "1M", "--max-memory", "48M", "--max-upload-inflated", "16M",
                         "--request-timeout", "3"});
  const int port = server.Port();
  const TFloodKind kKinds[] = {TFloodKind::Bodies, TFloodKind::Headers, TFloodKind::SlowHeads,
                               TFloodKind::JSONArrays, TFloodKind::InflatingUploads};
  std::vector<std::unique_ptr<TFlood>> floods;
  for (std::size_t i = 0; i < std::size(kKinds); ++i) {
    floods.push_back(std::make_unique<TFlood>(port, kKinds[i], 64, std::size_t{1} << 20,
                                              "127.0.0." + std::to_string(2 + i)));
  }
  TServerClient client(port);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client.Result(calls::ListaRelojes()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  for (std::size_t i = 0; i < floods.size(); ++i) {
    // Every request of every kind is answered (or, beyond the caps, refused).
    EXPECT_GT(floods[i]->Wait(60), 0) << FloodName(kKinds[i]);
  }
  EXPECT_TRUE(server.Alive());
  EXPECT_EQ(StringOf(client.Result(calls::EchoString("sigo")).get()), "sigo");
  const std::size_t peak = server.PeakMemory();
  std::printf("peak resident memory: %zu MiB\n", peak >> 20);
  EXPECT_LT(peak, std::size_t{256} << 20);
}

}  // namespace
}  // namespace qvr::test
