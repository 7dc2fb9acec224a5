// The HTTP object's cost over bare libcurl: a small keep-alive GET round trip,
// an 8 MB download and an 8 MB upload, each measured through TRestHTTP and
// through a plain curl easy-handle loop against the same loopback server in the
// same run. The targets are ratios of the two.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "rest/http/RestHTTP.h"
#include "support/BenchReport.h"
#include "support/HttpTestServers.h"

namespace {

constexpr std::size_t kBigSize = 8u * 1024 * 1024;

std::string BigBody() {
  std::string body(kBigSize, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 31 + 7);
  return body;
}

qvr::test::THttpTestServer& Server() {
  static const std::unique_ptr<qvr::test::THttpTestServer> server = [] {
    auto s = std::make_unique<qvr::test::THttpTestServer>();
    static const std::string big = BigBody();
    s->Server().Get("/small", [](const httplib::Request&, httplib::Response& a) {
      a.set_content("{\"result\":[\"ok\"]}", "application/json");
    });
    s->Server().Get("/big", [](const httplib::Request&, httplib::Response& a) {
      a.set_content(big, "application/octet-stream");
    });
    s->Server().Put("/upload", [](const httplib::Request& r, httplib::Response& a) {
      a.set_content(std::to_string(r.body.size()), "text/plain");
    });
    s->Start();
    return s;
  }();
  return *server;
}

size_t CollectCallback(char* ABuffer, size_t ASize, size_t ACount, void* AUser) {
  static_cast<std::string*>(AUser)->append(ABuffer, ASize * ACount);
  return ASize * ACount;
}

struct TUploadSource {
  const std::string* Data;
  std::size_t Position = 0;
};

size_t UploadCallback(char* ABuffer, size_t ASize, size_t ACount, void* AUser) {
  auto* source = static_cast<TUploadSource*>(AUser);
  const std::size_t n = std::min(ASize * ACount, source->Data->size() - source->Position);
  std::copy_n(source->Data->data() + source->Position, n, ABuffer);
  source->Position += n;
  return n;
}

// The reference: one easy handle reused, as a careful libcurl user would write it.
class TBareCurl {
 public:
  TBareCurl() : FHandle(curl_easy_init()) {
    curl_easy_setopt(FHandle, CURLOPT_WRITEFUNCTION, &CollectCallback);
    curl_easy_setopt(FHandle, CURLOPT_WRITEDATA, &FBody);
    curl_easy_setopt(FHandle, CURLOPT_NOSIGNAL, 1L);
  }
  ~TBareCurl() {
    curl_easy_cleanup(FHandle);
    curl_slist_free_all(FHeaders);
  }
  // Sends the "Connection" header the REST connection sends by default, so
  // that both sides put the same request on the wire.
  void KeepAliveHeader() {
    FHeaders = curl_slist_append(FHeaders, "Connection: Keep-Alive");
    curl_easy_setopt(FHandle, CURLOPT_HTTPHEADER, FHeaders);
  }
  TBareCurl(const TBareCurl&) = delete;
  TBareCurl& operator=(const TBareCurl&) = delete;

  bool Get(const std::string& AURL) {
    FBody.clear();
    curl_easy_setopt(FHandle, CURLOPT_URL, AURL.c_str());
    curl_easy_setopt(FHandle, CURLOPT_HTTPGET, 1L);
    return curl_easy_perform(FHandle) == CURLE_OK;
  }
  bool Put(const std::string& AURL, const std::string& AData) {
    FBody.clear();
    TUploadSource source{&AData};
    curl_easy_setopt(FHandle, CURLOPT_URL, AURL.c_str());
    curl_easy_setopt(FHandle, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(FHandle, CURLOPT_READFUNCTION, &UploadCallback);
    curl_easy_setopt(FHandle, CURLOPT_READDATA, &source);
    curl_easy_setopt(FHandle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(AData.size()));
    return curl_easy_perform(FHandle) == CURLE_OK;
  }
  const std::string& Body() const { return FBody; }

 private:
  CURL* FHandle;
  curl_slist* FHeaders = nullptr;
  std::string FBody;
};

// The two sides run alternately, request by request, each on its own kept-
// alive connection, so that load from elsewhere on the machine hits both
// alike. Each run adds the ratio our time / bare time to its list.
std::map<std::string, std::vector<double>> gRatios;

template <typename FBare, typename FOurs>
void RunPair(benchmark::State& AState, const std::string& AName, FBare&& ABare, FOurs&& AOurs) {
  using Clock = std::chrono::steady_clock;
  Clock::duration bare{};
  Clock::duration ours{};
  bool bareFirst = true;
  for (auto _ : AState) {
    const auto t0 = Clock::now();
    if (bareFirst) {
      ABare();
    } else {
      AOurs();
    }
    const auto t1 = Clock::now();
    if (bareFirst) {
      AOurs();
    } else {
      ABare();
    }
    const auto t2 = Clock::now();
    bare += bareFirst ? t1 - t0 : t2 - t1;
    ours += bareFirst ? t2 - t1 : t1 - t0;
    bareFirst = !bareFirst;
  }
  if (bare.count() > 0) {
    const double ratio = std::chrono::duration<double>(ours) / std::chrono::duration<double>(bare);
    gRatios[AName].push_back(ratio);
    AState.counters["ours/bare"] = ratio;
  }
}

void BM_SmallGet(benchmark::State& AState) {
  TBareCurl curl;
  curl.KeepAliveHeader();
  qvr::rest::TRestHTTP http;
  http.RequestHeaders().SetHeader("Connection", "Keep-Alive");
  const std::string url = Server().Url("/small");
  qvr::TMemoryStream body;
  RunPair(
      AState, "small",
      [&] {
        if (!curl.Get(url)) AState.SkipWithError("request failed");
        benchmark::DoNotOptimize(curl.Body());
      },
      [&] {
        body.Clear();
        http.Get(url, body);
        benchmark::DoNotOptimize(body.Bytes());
      });
}

void BM_Download8MB(benchmark::State& AState) {
  TBareCurl curl;
  qvr::rest::TRestHTTP http;
  const std::string url = Server().Url("/big");
  qvr::TMemoryStream body;
  RunPair(
      AState, "download",
      [&] {
        if (!curl.Get(url) || curl.Body().size() != kBigSize)
          AState.SkipWithError("request failed");
      },
      [&] {
        body.Clear();
        http.Get(url, body);
        if (body.Bytes().size() != kBigSize) AState.SkipWithError("short body");
      });
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * kBigSize * 2));
}

void BM_Upload8MB(benchmark::State& AState) {
  TBareCurl curl;
  qvr::rest::TRestHTTP http;
  const std::string data = BigBody();
  qvr::TMemoryStream source(data);
  const std::string url = Server().Url("/upload");
  qvr::TMemoryStream answer;
  const std::string expected = std::to_string(kBigSize);
  RunPair(
      AState, "upload",
      [&] {
        if (!curl.Put(url, data) || curl.Body() != expected) AState.SkipWithError("request failed");
      },
      [&] {
        answer.Clear();
        http.Put(url, source, answer);
        if (answer.Bytes() != expected) AState.SkipWithError("upload cut");
      });
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * kBigSize * 2));
}

BENCHMARK(BM_SmallGet)->Repetitions(9);
BENCHMARK(BM_Download8MB)->Repetitions(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Upload8MB)->Repetitions(9)->Unit(benchmark::kMillisecond);

double Median(std::vector<double> AValues) {
  if (AValues.empty()) return -1.0;
  std::sort(AValues.begin(), AValues.end());
  return AValues[AValues.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  bool ok = true;
  ok &= qvr::bench::ReportTarget("HTTP small keep-alive GET time, TRestHTTP / bare libcurl",
                                 Median(gRatios["small"]), "<=", 1.15);
  // Throughput ratio: bare time / our time.
  const double down = Median(gRatios["download"]);
  ok &= qvr::bench::ReportTarget("HTTP 8 MB download throughput, TRestHTTP / bare libcurl",
                                 down > 0 ? 1.0 / down : 0.0, ">=", 0.85);
  const double up = Median(gRatios["upload"]);
  ok &= qvr::bench::ReportTarget("HTTP 8 MB upload throughput, TRestHTTP / bare libcurl",
                                 up > 0 ? 1.0 / up : 0.0, ">=", 0.85);
  return ok ? 0 : 1;
}
