// ListaPersonalCompleta with 200,000 employees served by qvr-server against
// the same bytes served as a static file by the same HTTP library
// (cpp-httplib's mount point), both fetched by one keep-alive cpp-httplib
// client each in the same run. The server keeps the encoded list until the
// data changes, so after the first call it only sends. Target: ratio <= 1.5.
// The same list from a server on PostgreSQL (a cluster the benchmark makes)
// against the one on SQLite: the server knows whether the data changed from
// the database's notifications. Target: ratio <= 1.5.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "support/BenchReport.h"
#include "support/HttpTestServers.h"
#include "support/PairedTiming.h"
#include "support/PostgresCluster.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace {

using TClock = std::chrono::steady_clock;

const char* const kListPath = "/rpc/rest/TQVRServerMethods/ListaPersonalCompleta/";

struct TBenchSetup {
  TBenchSetup() {
    const auto t0 = TClock::now();
    Server = std::make_unique<qvr::test::TServerProcess>(
        std::vector<std::string>{"--seed-employees", "200000"}, Folder.File("data"));
    SeedSeconds = std::chrono::duration<double>(TClock::now() - t0).count();
    ServerClient = std::make_unique<httplib::Client>("127.0.0.1", Server->Port());
    ServerClient->set_basic_auth("kiosco", "");
    ServerClient->set_read_timeout(60);
    const auto t1 = TClock::now();
    Body = FetchServer();
    FirstCallSeconds = std::chrono::duration<double>(TClock::now() - t1).count();

    qvr::test::WriteFileBytes(Folder.File("lista.json"), Body);
    Static.Server().set_mount_point("/static", Folder.Path());
    Static.Server().set_keep_alive_max_count(100000);
    Static.Start();
    StaticClient = std::make_unique<httplib::Client>("127.0.0.1", Static.Port());
    StaticClient->set_read_timeout(60);
    if (FetchStatic() != Body) std::fprintf(stderr, "the static file differs from the answer\n");

    if (!qvr::test::TPostgresCluster::Installed()) {
      std::fprintf(stderr, "%s\n", qvr::test::TPostgresCluster::kMissing);
      std::exit(1);
    }
    Cluster = std::make_unique<qvr::test::TPostgresCluster>(
        qvr::test::TPostgresCluster::TDurability::AsSqlite);
    const auto t2 = TClock::now();
    Postgres = std::make_unique<qvr::test::TServerProcess>(std::vector<std::string>{
        "--seed-employees", "200000", "--database", Cluster->CreateDatabase()});
    PostgresSeedSeconds = std::chrono::duration<double>(TClock::now() - t2).count();
    PostgresClient = std::make_unique<httplib::Client>("127.0.0.1", Postgres->Port());
    PostgresClient->set_basic_auth("kiosco", "");
    PostgresClient->set_read_timeout(60);
    const auto t3 = TClock::now();
    if (FetchPostgres() != Body) std::fprintf(stderr, "PostgreSQL's list differs from SQLite's\n");
    PostgresFirstCallSeconds = std::chrono::duration<double>(TClock::now() - t3).count();
  }

  std::string FetchPostgres() {
    httplib::Headers headers;
    if (!PostgresSession.empty()) headers.emplace("Pragma", "sessionid=" + PostgresSession);
    auto result = PostgresClient->Get(kListPath, headers);
    if (!result || result->status != 200) {
      std::fprintf(stderr, "ListaPersonalCompleta on PostgreSQL failed\n");
      std::exit(1);
    }
    const std::string pragma = result->get_header_value("Pragma");
    PostgresSession = pragma.substr(pragma.find('=') + 1);
    return result->body;
  }

  std::string FetchServer() {
    // The session the first answer opened, as a client keeps it.
    httplib::Headers headers;
    if (!Session.empty()) headers.emplace("Pragma", "sessionid=" + Session);
    auto result = ServerClient->Get(kListPath, headers);
    if (!result || result->status != 200) {
      std::fprintf(stderr, "ListaPersonalCompleta failed\n");
      std::exit(1);
    }
    const std::string pragma = result->get_header_value("Pragma");
    Session = pragma.substr(pragma.find('=') + 1);
    return result->body;
  }
  std::string FetchStatic() {
    auto result = StaticClient->Get("/static/lista.json");
    if (!result || result->status != 200) {
      std::fprintf(stderr, "the static file failed\n");
      std::exit(1);
    }
    return result->body;
  }

  qvr::test::TNoProxyEnvironment NoProxy;
  qvr::test::TTempDir Folder;
  qvr::test::THttpTestServer Static;
  std::unique_ptr<qvr::test::TServerProcess> Server;
  std::unique_ptr<httplib::Client> ServerClient, StaticClient;
  std::string Session;
  std::string Body;
  double SeedSeconds = 0, FirstCallSeconds = 0;
  std::unique_ptr<qvr::test::TPostgresCluster> Cluster;
  std::unique_ptr<qvr::test::TServerProcess> Postgres;
  std::unique_ptr<httplib::Client> PostgresClient;
  std::string PostgresSession;
  double PostgresSeedSeconds = 0, PostgresFirstCallSeconds = 0;
};

TBenchSetup& Setup() {
  static TBenchSetup setup;
  return setup;
}

void BM_ListaPersonalCompleta_qvrserver(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Setup().FetchServer().data());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Setup().Body.size()));
}
BENCHMARK(BM_ListaPersonalCompleta_qvrserver)->Unit(benchmark::kMillisecond);

void BM_ListaPersonalCompleta_StaticFile(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Setup().FetchStatic().data());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Setup().Body.size()));
}
BENCHMARK(BM_ListaPersonalCompleta_StaticFile)->Unit(benchmark::kMillisecond);

void BM_ListaPersonalCompleta_qvrserver_PostgreSQL(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Setup().FetchPostgres().data());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Setup().Body.size()));
}
BENCHMARK(BM_ListaPersonalCompleta_qvrserver_PostgreSQL)->Unit(benchmark::kMillisecond);

// Single fetches of both alternately, median against median
// (support/PairedTiming.h).
double ListRatio() {
  auto& setup = Setup();
  return qvr::bench::PairedMedianRatio(
      40, 2, [&] { benchmark::DoNotOptimize(setup.FetchServer().data()); },
      [&] { benchmark::DoNotOptimize(setup.FetchStatic().data()); });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Setup();  // starts the server and makes the first, encoding call outside the timings
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto& setup = Setup();
  char figure[96];
  std::snprintf(figure, sizeof figure, "%.1f MB; first call %.0f ms; start with seeding %.1f s",
                static_cast<double>(setup.Body.size()) / 1e6, setup.FirstCallSeconds * 1000,
                setup.SeedSeconds);
  qvr::bench::ReportFigure("ListaPersonalCompleta of 200,000 employees", figure);
  std::snprintf(figure, sizeof figure, "first call %.0f ms; start with seeding %.1f s",
                setup.PostgresFirstCallSeconds * 1000, setup.PostgresSeedSeconds);
  qvr::bench::ReportFigure("ListaPersonalCompleta of 200,000 employees on PostgreSQL", figure);
  bool ok = qvr::bench::ReportTarget(
      "ListaPersonalCompleta (200,000 employees) by qvr-server / as a static file", ListRatio(),
      "<=", 1.5);
  const double postgres = qvr::bench::PairedMedianRatio(
      40, 2, [&] { benchmark::DoNotOptimize(setup.FetchPostgres().data()); },
      [&] { benchmark::DoNotOptimize(setup.FetchServer().data()); });
  ok = qvr::bench::ReportTarget(
           "ListaPersonalCompleta (200,000 employees) on PostgreSQL / on SQLite", postgres,
           "<=", 1.5) &&
       ok;
  return ok ? 0 : 1;
}
