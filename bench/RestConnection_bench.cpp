// The cost the REST layer adds to one exchange: a minimal remote call through
// the connection (request object, header preparation, session id, response
// object and decoding) against the bare GET of the HTTP object, both on the
// same keep-alive stand-in server in the same run. The bare GET uses the
// connection's own HTTP object, whose header set the exchanges have filled:
// both send the same bytes over the same TCP connection to the same server
// thread, so the ratio shows the layer's own cost and not which of two server
// threads the machine's scheduler favoured (with two connections one of them
// was often three times slower than the other for a whole run).
// Target: ratio <= 1.1.
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
    Connection.SetSessionID("S1");
    Url = Connection.RestBaseURL() + kMethod;
    ConnectionCall();  // creates the HTTP object and fills its header set
  }
  // Declared first: destroyed after the clients that keep connections open.
  qvr::test::TStandInServer Server;
  TRestConnection Connection;
  std::string Url;

  void BareCall() {
    qvr::TMemoryStream body;
    Connection.HTTP().Get(Url, body);
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

// Alternates single calls of both kinds, so that load from other processes
// on the machine hits both alike, and divides the median call times: a
// scheduler hiccup on a loaded machine moves a mean, hardly a median.
double ExchangeRatio() {
  using TClock = std::chrono::steady_clock;
  constexpr int kPairs = 3000;
  auto& setup = Setup();
  for (int i = 0; i < 100; ++i) {  // warm up
    setup.BareCall();
    setup.ConnectionCall();
  }
  std::vector<double> bare, connection;
  bare.reserve(kPairs);
  connection.reserve(kPairs);
  for (int i = 0; i < kPairs; ++i) {
    const auto t0 = TClock::now();
    setup.BareCall();
    const auto t1 = TClock::now();
    setup.ConnectionCall();
    const auto t2 = TClock::now();
    bare.push_back(std::chrono::duration<double>(t1 - t0).count());
    connection.push_back(std::chrono::duration<double>(t2 - t1).count());
  }
  auto median = [](std::vector<double>& AValues) {
    std::nth_element(AValues.begin(), AValues.begin() + AValues.size() / 2, AValues.end());
    return AValues[AValues.size() / 2];
  };
  return median(connection) / median(bare);
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
