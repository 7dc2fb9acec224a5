// A load run against qvr-server: 16 clients, each a REST connection of the
// client core, for QVR_SERVER_LOAD_SECONDS seconds (20 by default), each
// going round every remote method (the lists, look-ups, changes, uploads,
// the cache area from the cache-mode call to DELETE). The same run goes
// against one server on SQLite, one on PostgreSQL (a cluster of Debian's
// postgresql made by the benchmark), and two PostgreSQL instances behind
// haproxy. Both stores keep the same durability: the SQLite store's WAL with
// synchronous NORMAL returns from a commit before it is flushed, so the
// cluster does too (synchronous_commit off, its files flushed as usual);
// QVR_BENCH_PG_FLUSHED=1 measures PostgreSQL's default instead, every
// commit flushed before the answer.
// Reports requests per second and the median and 99th-percentile latency
// of each; targets: no failed request and every uploaded record stored
// exactly once (counted in the database after the servers stopped) on
// every run, and PostgreSQL at least half of SQLite's requests per second.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "rest/json/JSONText.h"
#include "server/ServerCalls.h"
#include "support/BenchReport.h"
#include "support/HaproxyBalancer.h"
#include "support/HttpTestServers.h"
#include "support/PostgresCluster.h"
#include "support/ServerProcess.h"

namespace {

using TClock = std::chrono::steady_clock;
using namespace qvr::test;

constexpr int kClients = 16;
constexpr int kRowsPerUpload = 25;

double LoadSeconds() {
  const char* text = std::getenv("QVR_SERVER_LOAD_SECONDS");
  const double seconds = text != nullptr ? std::atof(text) : 20.0;
  return seconds > 0 ? seconds : 20.0;
}

struct TClientFigures {
  std::vector<double> Latencies;
  long long Failures = 0;
  long long Uploaded = 0;
};

// One round of every method by client number AClient_; a failed call counts
// and the round goes on.
void Round(TServerClient& AClient, int AClient_, long long& ARound, TClientFigures& AFigures) {
  const auto timed = [&](auto&& ACall) {
    const auto t0 = TClock::now();
    try {
      ACall();
    } catch (const std::exception& AError) {
      if (AFigures.Failures++ < 3) std::fprintf(stderr, "client %d: %s\n", AClient_, AError.what());
    }
    AFigures.Latencies.push_back(std::chrono::duration<double>(TClock::now() - t0).count());
  };
  const auto expect = [&](bool AOk) {
    if (!AOk) throw std::runtime_error("unexpected answer");
  };
  const int codigo = 1001 + AClient_;
  timed([&] { expect(StringOf(AClient.Result(calls::EchoString("eco")).get()) == "eco"); });
  timed([&] { expect(StringOf(AClient.Result(calls::ReverseString("abc")).get()) == "cba"); });
  timed([&] { expect(AClient.Result(calls::Opciones()) != nullptr); });
  for (const auto& request : {calls::ListaRelojes(), calls::ListaEmpresas(),
                              calls::ListaPersonalParcial(), calls::ListaPersonalCompleta()}) {
    timed([&] { expect(UnmarshalList(*AClient.Result(request))->Count() > 0); });
  }
  timed([&] {
    expect(AClient.Result(calls::ExisteEmpleado(codigo))->Kind() ==
           qvr::rest::TJSONValue::TKind::True);
  });
  timed([&] { expect(AClient.Result(calls::InfoEmpleado(codigo))->AsObject()->Count() > 0); });
  timed([&] {
    expect(
        AClient
            .Result(calls::ActualizarEmpleado("{\"Codigo\":" + std::to_string(codigo) +
                                              ",\"Tarjeta\":\"" + std::to_string(ARound) + "\"}"))
            ->Kind() == qvr::rest::TJSONValue::TKind::True);
  });
  timed([&] {
    // Codes unique to this client and round, so that the database shows
    // every record exactly once.
    const int first = 1 + static_cast<int>((ARound * kClients + AClient_) * kRowsPerUpload);
    const auto list = AttendanceList(1, kRowsPerUpload, first);
    expect(AClient.Result(calls::SubirAsistencia("carga.dat", MarshalList(*list)))->Kind() ==
           qvr::rest::TJSONValue::TKind::True);
    AFigures.Uploaded += kRowsPerUpload;
  });
  std::string item;
  timed([&] {
    const auto answer = AClient.Call(calls::InfoEmpleado(codigo), true);
    item = StringOf(answer->AsObject()->GetValue("result")->AsArray()->Items(0));
    expect(!item.empty());
  });
  timed([&] { expect(AClient.CacheRequest("GET", item) != nullptr); });
  timed([&] { AClient.CacheRequest("DELETE", item.substr(0, item.rfind('/'))); });
  timed([&] { expect(StringOf(AClient.Result(calls::GetPlatformName()).get()) == "Linux"); });
  ++ARound;
}

// The figures of one run.
struct TRunFigures {
  double Seconds = 0;
  std::vector<double> Latencies;
  long long Failures = 0;
  long long Uploaded = 0;
  double RequestsPerSecond() const {
    return Seconds > 0 ? static_cast<double>(Latencies.size()) / Seconds : 0;
  }
  double Percentile(double AP) const {
    return Latencies.empty() ? 0.0
                             : Latencies[static_cast<std::size_t>(AP * (Latencies.size() - 1))];
  }
};

// kClients clients against 127.0.0.1:APort for ASeconds.
TRunFigures Run(int APort, double ASeconds) {
  std::vector<TClientFigures> figures(kClients);
  std::vector<std::thread> threads;
  const auto start = TClock::now();
  const auto end =
      start + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(ASeconds));
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      TServerClient client(APort, c % 2 == 0 ? "kiosco" : "caja1");
      long long round = 0;
      while (TClock::now() < end) Round(client, c, round, figures[c]);
    });
  }
  for (auto& thread : threads) thread.join();
  TRunFigures run;
  run.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
  for (auto& f : figures) {
    run.Latencies.insert(run.Latencies.end(), f.Latencies.begin(), f.Latencies.end());
    run.Failures += f.Failures;
    run.Uploaded += f.Uploaded;
  }
  std::sort(run.Latencies.begin(), run.Latencies.end());
  return run;
}

// Reports ARun under AName with the records ARows and ADistinct found stored;
// returns whether its targets were met.
bool Report(const std::string& AName, const TRunFigures& ARun, long long ARows, long long ADistinct,
            int AStatus) {
  char text[200];
  std::snprintf(text, sizeof text,
                "%d clients, %.1f s, %zu requests, %.0f requests/s, p50 %.2f ms, p99 %.2f ms",
                kClients, ARun.Seconds, ARun.Latencies.size(), ARun.RequestsPerSecond(),
                ARun.Percentile(0.50) * 1000, ARun.Percentile(0.99) * 1000);
  qvr::bench::ReportFigure(AName, text);
  std::snprintf(text, sizeof text, "%lld uploaded, %lld stored, %lld distinct", ARun.Uploaded,
                ARows, ADistinct);
  qvr::bench::ReportFigure(AName + " records", text);
  bool ok = qvr::bench::ReportTarget(AName + ": failed requests",
                                     static_cast<double>(ARun.Failures), "<=", 0, 0);
  // Every record uploaded with success stored once, no record twice or lost.
  const long long wrong = std::llabs(ARows - ARun.Uploaded) + (ARows - ADistinct);
  ok = qvr::bench::ReportTarget(AName + ": records lost or stored twice",
                                static_cast<double>(wrong), "<=", 0, 0) &&
       ok;
  return ok && AStatus == 0;
}

// "rows|distinct" as two numbers.
void ReadCounts(const std::string& AText, long long& ARows, long long& ADistinct) {
  ARows = ADistinct = -1;
  std::sscanf(AText.c_str(), "%lld|%lld", &ARows, &ADistinct);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const double seconds = LoadSeconds();
  TNoProxyEnvironment noProxy;
  bool ok = true;

  // SQLite: one server, the embedded default.
  TRunFigures sqlite;
  {
    TTempDir folder;
    TServerProcess server({}, folder.File("data"));
    sqlite = Run(server.Port(), seconds);
    const int status = server.Stop();
    long long rows = -1, distinct = -1;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(server.DatabasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
      sqlite3_stmt* query = nullptr;
      sqlite3_prepare_v2(db, "SELECT count(*), count(DISTINCT codigo) FROM asistencia", -1, &query,
                         nullptr);
      if (sqlite3_step(query) == SQLITE_ROW) {
        rows = sqlite3_column_int64(query, 0);
        distinct = sqlite3_column_int64(query, 1);
      }
      sqlite3_finalize(query);
    }
    sqlite3_close(db);
    ok = Report("qvr-server load", sqlite, rows, distinct, status) && ok;
  }

  if (!TPostgresCluster::Installed() || !THaproxyBalancer::Installed()) {
    std::fprintf(stderr, "%s\n%s\n", TPostgresCluster::kMissing, THaproxyBalancer::kMissing);
    return 1;
  }
  TPostgresCluster cluster(std::getenv("QVR_BENCH_PG_FLUSHED") != nullptr
                               ? TPostgresCluster::TDurability::Flushed
                               : TPostgresCluster::TDurability::AsSqlite);
  const char* const kCount = "SELECT count(*) || '|' || count(DISTINCT codigo) FROM asistencia";

  // PostgreSQL: one server.
  TRunFigures postgres;
  {
    const std::string url = cluster.CreateDatabase();
    TServerProcess server({"--database", url});
    postgres = Run(server.Port(), seconds);
    const int status = server.Stop();
    long long rows = -1, distinct = -1;
    ReadCounts(cluster.One(url, kCount), rows, distinct);
    ok = Report("qvr-server load on PostgreSQL", postgres, rows, distinct, status) && ok;
  }
  ok = qvr::bench::ReportTarget("qvr-server load: requests/s on PostgreSQL / on SQLite",
                                postgres.RequestsPerSecond() / sqlite.RequestsPerSecond(),
                                ">=", 0.5) &&
       ok;

  // Two PostgreSQL instances behind haproxy, on the same two cores: a
  // report of what a second instance costs or brings, no target.
  {
    const std::string url = cluster.CreateDatabase();
    TServerProcess first({"--database", url}), second({"--database", url});
    TRunFigures both;
    {
      THaproxyBalancer balancer({first.Port(), second.Port()});
      both = Run(balancer.Port(), seconds);
    }
    const int status = first.Stop() + second.Stop();
    long long rows = -1, distinct = -1;
    ReadCounts(cluster.One(url, kCount), rows, distinct);
    ok = Report("qvr-server load, two instances on PostgreSQL behind haproxy", both, rows, distinct,
                status) &&
         ok;
    qvr::bench::ReportFigure(
        "qvr-server load: two instances / one, on PostgreSQL",
        qvr::bench::Formatted("%.2f", both.RequestsPerSecond() / postgres.RequestsPerSecond()));
  }
  return ok ? 0 : 1;
}
