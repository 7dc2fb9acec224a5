// Failures of a site that runs two qvr-server instances behind a load
// balancer (a real haproxy) on one PostgreSQL database: one instance killed
// during a 16-client upload run, which goes on through the other, with
// every acknowledged upload stored exactly once and no client seeing more
// fail than what the killed instance had in flight; and the database
// stopped and started again, while which the server answers 503 with a
// JSON error, and after which it recovers by itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Base64Encoding.h"
#include "rest/RestExceptions.h"
#include "server/ServerCalls.h"
#include "server/StoreUnderTest.h"
#include "support/HaproxyBalancer.h"
#include "support/RawClient.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

using TClock = std::chrono::steady_clock;
using rest::TJSONValue;

constexpr int kClients = 16;
constexpr int kRows = 20;

// What one client of the run saw.
struct TClientRun {
  std::vector<std::string> Acknowledged;
  std::vector<std::string> Failed;
  // Acknowledged after the instance was killed.
  int AcknowledgedAfterKill = 0;
  std::vector<std::string> Errors;
};

TEST(FailoverTest, KillingOneInstanceFailsOnlyTheRequestsInFlightOnIt) {
  if (!TPostgresCluster::Installed()) GTEST_SKIP() << TPostgresCluster::kMissing;
  if (!THaproxyBalancer::Installed()) GTEST_SKIP() << THaproxyBalancer::kMissing;
  const std::string url = SharedCluster().CreateDatabase();
  auto first = std::make_unique<TServerProcess>(std::vector<std::string>{"--database", url});
  TServerProcess second({"--database", url});
  THaproxyBalancer balancer({first->Port(), second.Port()});

  std::atomic<bool> killed{false}, done{false};
  std::atomic<int> underWay{0};
  std::vector<TClientRun> runs(kClients);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      TServerClient client(balancer.Port(), c % 2 == 0 ? "kiosco" : "caja1");
      TClientRun& run = runs[static_cast<std::size_t>(c)];
      for (int n = 0; !done && n < 100000; ++n) {
        std::string archivo = "c";
        archivo += std::to_string(c);
        archivo += '-';
        archivo += std::to_string(n);
        archivo += ".dat";
        // Codes unique to the client and the upload.
        const auto list = AttendanceList(1, kRows, 1 + (c * 100000 + n) * kRows);
        try {
          const auto answer = client.Result(calls::SubirAsistencia(archivo, MarshalList(*list)));
          if (!answer || answer->Kind() != TJSONValue::TKind::True) {
            throw std::runtime_error("not acknowledged with true");
          }
          run.Acknowledged.push_back(archivo);
          if (killed) ++run.AcknowledgedAfterKill;
          ++underWay;
        } catch (const std::exception& AError) {
          run.Failed.push_back(archivo);
          run.Errors.push_back(AError.what());
        }
      }
    });
  }
  // Past the first verifications of the two users' passwords on each
  // instance (Argon2id, some 170 ms of a core each, far more on a loaded or
  // sanitized build), the run is under way.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (underWay < 4 * kClients && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  killed = true;
  first->Stop(SIGKILL);
  // The run goes on through the other instance.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  done = true;
  for (auto& thread : clients) thread.join();
  EXPECT_TRUE(balancer.WaitUntilUp(1)) << "the balancer did not take the killed instance out";

  std::size_t acknowledged = 0, failed = 0;
  int afterKill = 0;
  for (int c = 0; c < kClients; ++c) {
    const TClientRun& run = runs[static_cast<std::size_t>(c)];
    acknowledged += run.Acknowledged.size();
    failed += run.Failed.size();
    afterKill += run.AcknowledgedAfterKill;
    // One request at a time per client: the one in flight on the instance
    // when it was killed failed, and at most one more, sent to it while it
    // was being torn down (it takes connections until its listening socket
    // is closed). Each failed as a request that reached it does: the
    // balancer's 502, or the connection closed unanswered, and not sent
    // again.
    std::string errors;
    for (const std::string& error : run.Errors) {
      errors += "\n  " + error;
      EXPECT_TRUE(error == "HTTP/1.1 502 Bad Gateway" ||
                  error.find("not sent again") != std::string::npos)
          << "client " << c << ": " << error;
    }
    EXPECT_LE(run.Failed.size(), 2u) << "client " << c << ":" << errors;
  }
  EXPECT_GT(acknowledged - static_cast<std::size_t>(afterKill), std::size_t{kClients})
      << "the run was not under way when the instance was killed";
  EXPECT_GT(afterKill, kClients) << "the run did not go on through the other instance";
  std::printf("%zu uploads acknowledged (%d after the kill), %zu failed\n", acknowledged, afterKill,
              failed);

  // Every acknowledged upload exactly once; a failed one whole or not at
  // all; nothing else.
  std::map<std::string, int> stored;
  for (const auto& row :
       SharedCluster().Rows(url, "SELECT archivo, count(*) FROM asistencia GROUP BY archivo")) {
    const auto bar = row.find('|');
    stored[row.substr(0, bar)] = std::stoi(row.substr(bar + 1));
  }
  std::size_t expected = 0;
  for (const auto& run : runs) {
    for (const auto& archivo : run.Acknowledged) {
      EXPECT_EQ(stored[archivo], kRows) << archivo;
      ++expected;
    }
    for (const auto& archivo : run.Failed) {
      EXPECT_TRUE(stored[archivo] == 0 || stored[archivo] == kRows) << archivo;
      if (stored[archivo] != 0) ++expected;
    }
  }
  std::size_t nonEmpty = 0;
  for (const auto& [archivo, rows] : stored) nonEmpty += rows > 0 ? 1 : 0;
  EXPECT_EQ(nonEmpty, expected) << "rows of uploads nobody made";
  EXPECT_EQ(SharedCluster().One(url, "SELECT count(*) - count(DISTINCT codigo) FROM asistencia"),
            "0");
  EXPECT_EQ(second.Stop(), 0);
}

// A request with kiosco's credentials straight to APort.
std::optional<TRawAnswer> Ask(int APort, const std::string& APath) {
  TRawClient raw(APort);
  const std::string credentials =
      "Authorization: Basic " + TBase64Encoding::Base64().Encode(std::string("kiosco:")) + "\r\n";
  if (!raw.Send(TRawClient::Request(APort, APath, "GET", credentials))) return std::nullopt;
  return raw.Read(std::chrono::seconds(30));
}

TEST(FailoverTest, WhileTheDatabaseIsAwayRequestsAre503AndTheServerRecoversByItself) {
  if (!TPostgresCluster::Installed()) GTEST_SKIP() << TPostgresCluster::kMissing;
  TPostgresCluster& cluster = SharedCluster();
  const std::string url = cluster.CreateDatabase();
  TServerProcess server({"--database", url});
  TServerClient client(server.Port());
  ASSERT_EQ(client.Result(calls::ExisteEmpleado(1001))->Kind(), TJSONValue::TKind::True);

  cluster.Stop();
  const char* const kPaths[] = {
      "/health",
      "/rpc/rest/TQVRServerMethods/EchoString/x/",
      "/rpc/rest/TQVRServerMethods/ListaRelojes/",
      "/rpc/cache/1/0",
  };
  for (const char* path : kPaths) {
    const auto answer = Ask(server.Port(), path);
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->Status, 503) << path;
    EXPECT_EQ(answer->Header("content-type"), "application/json; charset=UTF-8") << path;
    EXPECT_TRUE(answer->Body.starts_with("{\"error\":\"")) << path << ": " << answer->Body;
  }
  try {
    client.Result(calls::SubirAsistencia("away.dat", MarshalList(*AttendanceList(1, 5, 1))));
    ADD_FAILURE() << "an upload was acknowledged while the database was away";
  } catch (const rest::TRestProtocolException& AError) {
    EXPECT_EQ(AError.Status(), 503);
  }

  cluster.Start();
  // The server is not restarted: its next requests find the database.
  const auto deadline = TClock::now() + std::chrono::seconds(20);
  int status = 0;
  while (TClock::now() < deadline) {
    const auto answer = Ask(server.Port(), "/health");
    status = answer ? answer->Status : 0;
    if (status == 200) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(status, 200);
  for (const char* path : kPaths) {
    const auto answer = Ask(server.Port(), path);
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->Status, 503) << path << ": " << answer->Body;
  }
  EXPECT_EQ(
      client.Result(calls::SubirAsistencia("back.dat", MarshalList(*AttendanceList(1, 5, 1))))
          ->Kind(),
      TJSONValue::TKind::True);
  EXPECT_EQ(cluster.One(url, "SELECT string_agg(DISTINCT archivo, ',') FROM asistencia"),
            "back.dat");
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_NE(server.Log().find(" 503 "), std::string::npos);
}

}  // namespace
}  // namespace qvr::test
