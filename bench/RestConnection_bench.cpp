// The cost the REST layer adds to one exchange: a minimal remote call through
// the connection (request object, header preparation, session id, response
// object and decoding) against the bare GET of the HTTP object, both on the
// same keep-alive stand-in server in the same run. Target: ratio <= 1.1.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "rest/RestConnection.h"
#include "support/BenchReport.h"
#include "support/StandInServer.h"

namespace {

using qvr::rest::TRestConnection;
using qvr::rest::TRestHTTP;
using qvr::rest::TSessionRule;

const char* const kMethod = "TQVRServerMethods/EchoString/abc/";

struct TBenchSetup {
  TBenchSetup() {
    Server.SetRecording(false);
    Server.SetDefaultAnswer(qvr::test::ResultAnswer("\"cba\"").WithSessionID("S1"));
    Connection.SetHost("127.0.0.1");
    Connection.SetPort(Server.Port());
    Connection.SetLoginPrompt(false);
    Connection.SetUserName("kiosco");
    Url = Connection.RestBaseURL() + kMethod;
  }
  // Declared first: destroyed after the clients that keep connections open.
  qvr::test::TStandInServer Server;
  TRestHTTP Bare;
  TRestConnection Connection;
  std::string Url;

  void BareCall() {
    qvr::TMemoryStream body;
    Bare.Get(Url, body);
    benchmark::DoNotOptimize(body.Bytes().data());
  }
  void ConnectionCall() {
    auto response = Connection.SessionExchange("GET", Url, "application/JSON", {},
                                               TSessionRule::ClearOnProtocolError);
    benchmark::DoNotOptimize(response->StringValue().data());
  }
};

TBenchSetup& Setup() {
  static TBenchSetup setup;
  return setup;
}

void BM_BareHTTPGet(benchmark::State& state) {
  for (auto _ : state) Setup().BareCall();
}
BENCHMARK(BM_BareHTTPGet);

void BM_ConnectionExchange(benchmark::State& state) {
  for (auto _ : state) Setup().ConnectionCall();
}
BENCHMARK(BM_ConnectionExchange);

// Alternates short blocks of both kinds so that load from other processes on
// the machine hits both alike, and takes the median of the block ratios.
double ExchangeRatio() {
  using TClock = std::chrono::steady_clock;
  constexpr int kRounds = 31;
  constexpr int kBlock = 100;
  auto& setup = Setup();
  for (int i = 0; i < kBlock; ++i) {  // warm both connections up
    setup.BareCall();
    setup.ConnectionCall();
  }
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    const auto t0 = TClock::now();
    for (int i = 0; i < kBlock; ++i) setup.BareCall();
    const auto t1 = TClock::now();
    for (int i = 0; i < kBlock; ++i) setup.ConnectionCall();
    const auto t2 = TClock::now();
    ratios.push_back(std::chrono::duration<double>(t2 - t1).count() /
                     std::chrono::duration<double>(t1 - t0).count());
  }
  std::nth_element(ratios.begin(), ratios.begin() + kRounds / 2, ratios.end());
  return ratios[kRounds / 2];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const bool ok = qvr::bench::ReportTarget("REST exchange through the connection / bare HTTP GET",
                                           ExchangeRatio(), "<=", 1.1);
  return ok ? 0 : 1;
}
