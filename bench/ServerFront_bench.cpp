// qvr-server's HTTP front against the server people put in front of
// everything, and under slow clients.
//
// - Throughput: EchoString with a live session, driven by wrk (16 and 256
//   connections), against nginx serving the same 19 bytes as a static file,
//   with the same client in the same run, alternately, median of three each.
//   Targets: qvr-server / nginx >= 0.8 at both.
// - Slow clients: a legitimate client's p99 latency of EchoString on an idle
//   server, then while 256 connections (from four loopback addresses) send
//   their request heads a byte a second and reconnect when they are cut off.
//   Target: p99 under slow clients / p99 idle <= 2.
// - Floods: with the server's defaults, 64 maximal requests of each kind at
//   once (bodies, head sets, endless heads, JSON arrays, inflating uploads;
//   tests/server/Floods.h), each kind from an address of its own, while a
//   legitimate client calls. Targets: the server answers the legitimate call
//   and runs on; its peak resident memory <= 2048 MiB (the service's
//   MemoryMax).
//
// wrk and nginx come from Debian (nginx-light, wrk; scripts/install-deps
// --bench). Without them the throughput figures are reported as missing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/Floods.h"
#include "server/ServerCalls.h"
#include "support/BenchReport.h"
#include "support/ChildProcess.h"
#include "support/RawClient.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

const std::string kEcho = "/rpc/rest/TQVRServerMethods/EchoString/hola/";

std::string Run(const std::string& ACommand) {
  std::string out;
  if (FILE* pipe = ::popen(ACommand.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

bool Have(const char* AProgram) {
  return Run(std::string("command -v ") + AProgram + " 2>/dev/null").find('/') != std::string::npos;
}

// Requests a second wrk reports for AUrl with AConnections over ASeconds.
double WrkRate(const std::string& AUrl, int AConnections, const std::string& AHeader) {
  const std::string command = "wrk -t2 -c" + std::to_string(AConnections) + " -d4s " +
                              (AHeader.empty() ? "" : "-H '" + AHeader + "' ") + AUrl + " 2>&1";
  const std::string out = Run(command);
  const auto at = out.find("Requests/sec:");
  if (at == std::string::npos || out.find("Non-2xx") != std::string::npos) {
    std::fprintf(stderr, "wrk: %s\n", out.c_str());
    return 0;
  }
  return std::stod(out.substr(at + 13));
}

// nginx on a free port serving ABody at the path of EchoString, from a
// folder and configuration of its own; stopped when the object goes.
class TNginx {
 public:
  explicit TNginx(const std::string& ABody) {
    const std::string html = FFolder.Path() + "/html" + kEcho;
    Run("mkdir -p '" + html + "'");
    std::ofstream(html + "index.html") << ABody;
    FPort = 20000 + static_cast<int>(::getpid() % 20000);
    std::ofstream conf(FFolder.Path() + "/nginx.conf");
    if (::geteuid() == 0) conf << "user root;\n";
    conf << "worker_processes 2;\npid " << FFolder.Path() << "/nginx.pid;\nerror_log "
         << FFolder.Path() << "/error.log;\nevents { worker_connections 4096; }\n"
         << "http { access_log off; keepalive_requests 100000000;\n"
         << "  server { listen 127.0.0.1:" << FPort << "; root " << FFolder.Path()
         << "/html; } }\n";
    conf.close();
    Run("nginx -c " + FFolder.Path() + "/nginx.conf -p " + FFolder.Path() + " 2>&1");
    std::this_thread::sleep_for(300ms);
  }
  ~TNginx() {
    Run("nginx -c " + FFolder.Path() + "/nginx.conf -p " + FFolder.Path() + " -s stop 2>&1");
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(FPort) + kEcho; }

 private:
  qvr::test::TTempDir FFolder;
  int FPort = 0;
};

// The median of three alternating wrk runs of each side.
double ThroughputRatio(const std::string& AServerUrl, const std::string& APragma,
                       const std::string& ANginxUrl, int AConnections) {
  std::vector<double> server, nginx;
  for (int i = 0; i < 3; ++i) {
    server.push_back(WrkRate(AServerUrl, AConnections, APragma));
    nginx.push_back(WrkRate(ANginxUrl, AConnections, ""));
  }
  std::sort(server.begin(), server.end());
  std::sort(nginx.begin(), nginx.end());
  qvr::bench::ReportFigure(
      "EchoString at " + std::to_string(AConnections) + " connections, requests/s",
      qvr::bench::Formatted("qvr-server %.0f, nginx static %.0f", server[1], nginx[1]));
  return nginx[1] > 0 ? server[1] / nginx[1] : 0;
}

// The 99th percentile of ACount EchoString calls on one kept-alive
// connection, in milliseconds.
double P99(int APort, int ACount) {
  qvr::test::TRawClient client(APort);
  const std::string request =
      qvr::test::TRawClient::Request(APort, kEcho, "GET", "Authorization: Basic a2lvc2NvOg==\r\n");
  std::vector<double> times;
  for (int i = 0; i < ACount; ++i) {
    const auto start = TClock::now();
    client.Send(request);
    if (!client.Read(10s)) return 1e9;
    times.push_back(std::chrono::duration<double, std::milli>(TClock::now() - start).count());
    std::this_thread::sleep_for(2ms);
  }
  std::sort(times.begin(), times.end());
  return times[static_cast<std::size_t>(times.size() * 0.99)];
}

// 256 connections that send their heads a byte a second, reconnecting when
// the server cuts them off, until the object goes.
class TSlowClients {
 public:
  explicit TSlowClients(int APort) : FPort(APort) {
    for (int i = 0; i < 256; ++i) FClients.push_back(Open(i));
    FThread = std::thread([this] {
      const std::string head = "GET " + kEcho + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
      std::vector<std::size_t> sent(FClients.size(), 0);
      while (!FStop) {
        for (std::size_t i = 0; i < FClients.size(); ++i) {
          if (!FClients[i]->Send(head.substr(sent[i] % head.size(), 1))) {
            FClients[i] = Open(static_cast<int>(i));
            sent[i] = 0;
            continue;
          }
          ++sent[i];
        }
        std::this_thread::sleep_for(1s);
      }
    });
  }
  ~TSlowClients() {
    FStop = true;
    FThread.join();
  }

 private:
  std::unique_ptr<qvr::test::TRawClient> Open(int AIndex) {
    return std::make_unique<qvr::test::TRawClient>(FPort,
                                                   "127.0.0." + std::to_string(2 + AIndex % 4));
  }
  int FPort;
  std::vector<std::unique_ptr<qvr::test::TRawClient>> FClients;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace

int main() {
  qvr::test::TServerProcess server(
      {"--anonymous", "--max-connections-per-client", "4096", "--max-connections", "8192"});
  const int port = server.Port();
  bool ok = true;

  if (Have("wrk") && Have("nginx")) {
    // A live session, reused by every request, as a client program holds one.
    qvr::test::TRawClient first(port);
    first.Send(qvr::test::TRawClient::Request(port, kEcho));
    const auto answer = first.Read();
    const std::string pragma = answer ? "Pragma: " + answer->Header("pragma") : std::string();
    TNginx nginx(answer ? answer->Body : std::string());
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + kEcho;
    for (const int connections : {16, 256}) {
      ok &= qvr::bench::ReportTarget(
          "EchoString with a live session at " + std::to_string(connections) +
              " connections, qvr-server / nginx static",
          ThroughputRatio(url, pragma, nginx.Url(), connections), ">=", 0.8);
    }
  } else {
    qvr::bench::ReportFigure("EchoString against nginx", "not measured: wrk or nginx missing");
  }

  const double idle = P99(port, 400);
  double loaded = 0;
  {
    TSlowClients slow(port);
    std::this_thread::sleep_for(2s);
    loaded = P99(port, 400);
  }
  qvr::bench::ReportFigure(
      "EchoString p99 latency, ms",
      qvr::bench::Formatted("idle %.2f, under 256 slow clients %.2f", idle, loaded));
  ok &= qvr::bench::ReportTarget("EchoString p99 under 256 slow clients / idle",
                                 idle > 0 ? loaded / idle : 0, "<=", 2.0);
  {
    // The defaults, as the package's service runs them.
    qvr::test::TServerProcess flooded;
    const qvr::test::TFloodKind kinds[] = {
        qvr::test::TFloodKind::Bodies, qvr::test::TFloodKind::Headers,
        qvr::test::TFloodKind::SlowHeads, qvr::test::TFloodKind::JSONArrays,
        qvr::test::TFloodKind::InflatingUploads};
    std::vector<std::unique_ptr<qvr::test::TFlood>> floods;
    for (std::size_t i = 0; i < std::size(kinds); ++i) {
      floods.push_back(std::make_unique<qvr::test::TFlood>(
          flooded.Port(), kinds[i], 64, std::size_t{32} << 20, "127.0.0." + std::to_string(2 + i)));
    }
    qvr::test::TServerClient client(flooded.Port());
    const auto start = TClock::now();
    bool served = false;
    try {
      served = client.Result(qvr::test::calls::ListaRelojes()) != nullptr;
    } catch (const std::exception&) {
    }
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    for (auto& flood : floods) flood->Wait(120);
    served = served && flooded.Alive();
    const double peak = static_cast<double>(flooded.PeakMemory()) / (1 << 20);
    qvr::bench::ReportFigure(
        "64 maximal requests of each kind at once, with the defaults",
        qvr::bench::Formatted("legitimate call %s in %.2f s; peak resident memory %.0f MiB",
                              served ? "answered" : "NOT answered", seconds, peak));
    ok &= qvr::bench::ReportTarget("Floods: the legitimate call answered and the server running",
                                   served ? 1 : 0, ">=", 1, 0);
    ok &= qvr::bench::ReportTarget("Floods: peak resident memory, MiB", peak, "<=", 2048, 0);
  }
  return ok ? 0 : 1;
}
