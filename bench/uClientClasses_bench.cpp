// ListaPersonalCompleta end to end: 200,000 rows of mixed columns (about 20 MB
// of storage) over loopback from the stand-in server to the TDataSetList in
// hand, against the least any client must do with the same answer: a bare
// libcurl GET of the same body plus zlib's inflate of its blob, in the same
// run. Target <= 1.0. The stages of the client's own path are timed apart as
// well, to show where the time beyond the reference goes.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "data/BinStorage.h"
#include "data/DataSetSamples.h"
#include "data/MemTable.h"
#include "platform/Base64Encoding.h"
#include "rest/datasets/DocumentBlobs.h"
#include "rest/datasets/ZLibStreams.h"
#include "rest/json/JSONText.h"
#include "rest/uClientClasses.h"
#include "support/BenchReport.h"
#include "support/PairedTiming.h"
#include "support/StandInServer.h"

namespace {

using namespace qvr::rest;
using qvr::TBase64Encoding;
using TClock = std::chrono::steady_clock;

std::size_t CollectBody(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) {
  static_cast<std::string*>(AUser)->append(AData, ASize * ACount);
  return ASize * ACount;
}

struct TSetup {
  TSetup() : Client(Connection, false) {
    TDataSetList list;
    list.AddDataSet("Personal", qvr::test::MakeMixedTable(200000));
    Document = WriteJSON(*TJSONConverters::GetJSONMarshaler()->Marshal(&list));
    Body = "{\"result\":[" + Document + "]}";
    Server.SetRecording(false);
    Server.On("GET", "/rpc/rest/TQVRServerMethods/ListaPersonalCompleta/",
              qvr::test::JsonAnswer(200, Body));
    Connection.SetHost("127.0.0.1");
    Connection.SetPort(Server.Port());
    Connection.SetLoginPrompt(false);
    Url = Connection.RestBaseURL() + "TQVRServerMethods/ListaPersonalCompleta/";

    // The blob's compressed bytes and the storage they inflate to.
    Blob = qvr::test::DocumentBlobs(Document).front();
    Compressed = TBase64Encoding::Base64().Decode(Blob);
    Storage.resize(64u << 20);
    StorageSize = Inflate();

    Curl = curl_easy_init();
    curl_easy_setopt(Curl, CURLOPT_URL, Url.c_str());
    curl_easy_setopt(Curl, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(Curl, CURLOPT_WRITEDATA, &CurlBody);
  }
  ~TSetup() { curl_easy_cleanup(Curl); }

  std::size_t Inflate() {
    z_stream z{};
    inflateInit(&z);
    z.next_in = reinterpret_cast<Bytef*>(Compressed.data());
    z.avail_in = static_cast<uInt>(Compressed.size());
    z.next_out = reinterpret_cast<Bytef*>(Storage.data());
    z.avail_out = static_cast<uInt>(Storage.size());
    inflate(&z, Z_FINISH);
    const std::size_t out = z.total_out;
    inflateEnd(&z);
    return out;
  }
  void Reference() {
    CurlBody.clear();
    curl_easy_perform(Curl);
    benchmark::DoNotOptimize(CurlBody.data());
    benchmark::DoNotOptimize(Inflate());
  }
  void Ours() {
    TMaybeOwned<TDataSetList> list = Client.ListaPersonalCompleta();
    benchmark::DoNotOptimize(list.get());
  }

  // Declared first: destroyed after the clients that keep connections open.
  qvr::test::TStandInServer Server;
  TRestConnection Connection;
  TQVRServerMethodsClient Client;
  std::string Document, Body, Url, Blob, Compressed, Storage, CurlBody;
  std::size_t StorageSize = 0;
  CURL* Curl = nullptr;
};

TSetup& Setup() {
  static TSetup setup;
  return setup;
}

void BM_BareCurlGetAndInflate(benchmark::State& state) {
  for (auto _ : state) Setup().Reference();
}
BENCHMARK(BM_BareCurlGetAndInflate)->Unit(benchmark::kMillisecond);

void BM_ListaPersonalCompleta(benchmark::State& state) {
  for (auto _ : state) Setup().Ours();
}
BENCHMARK(BM_ListaPersonalCompleta)->Unit(benchmark::kMillisecond);

double Median(std::vector<double> AValues) {
  std::nth_element(AValues.begin(), AValues.begin() + AValues.size() / 2, AValues.end());
  return AValues[AValues.size() / 2];
}

double Seconds(const std::function<void()>& AWork, int ARuns = 5) {
  std::vector<double> runs;
  for (int i = 0; i < ARuns; ++i) {
    const auto t0 = TClock::now();
    AWork();
    runs.push_back(std::chrono::duration<double>(TClock::now() - t0).count());
  }
  return Median(runs);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  auto& setup = Setup();  // marshalling compresses 20 MB: not part of any timing
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  // Alternating pairs, wall time: the transfer's other half runs on the
  // server's thread (support/PairedTiming.h).
  const auto pairs = qvr::bench::PairedMedians(
      21, 2, [&] { setup.Ours(); }, [&] { setup.Reference(); });
  const double total = pairs.Subject;
  const bool ok = qvr::bench::ReportTarget(
      "ListaPersonalCompleta end to end / bare curl GET + zlib inflate", pairs.Ratio(), "<=", 1.0);

  // Where the client's time goes: each stage alone on the same answer.
  const double http = Seconds([&] {
    qvr::TMemoryStream body;
    setup.Connection.HTTP().Get(setup.Url, body);
    benchmark::DoNotOptimize(body.Bytes().data());
  });
  const double parse = Seconds([&] { benchmark::DoNotOptimize(ParseJSON(setup.Body).get()); });
  const double base64 =
      Seconds([&] { benchmark::DoNotOptimize(TBase64Encoding::Base64().Decode(setup.Blob)); });
  // The client's own inflation and load, as the dataset list does them.
  const double inflate = Seconds([&] {
    TInflationBudget budget(kZMaxInflatedSize);
    benchmark::DoNotOptimize(ZDecompressBytes(setup.Compressed, budget).Size());
  });
  const std::string_view storage(setup.Storage.data(), setup.StorageSize);
  const double load = Seconds([&] {
    qvr::data::TMemTable table;
    qvr::data::TBinStorage::Load(table, storage);
    benchmark::DoNotOptimize(&table);
  });
  auto share = [&](double ASeconds) {
    return std::to_string(static_cast<int>(ASeconds * 1000 + 0.5)) + " ms (" +
           std::to_string(static_cast<int>(100 * ASeconds / total + 0.5)) + " %)";
  };
  qvr::bench::ReportFigure("ListaPersonalCompleta total",
                           std::to_string(static_cast<int>(total * 1000 + 0.5)) + " ms, " +
                               std::to_string(setup.Body.size() / 1000) + " kB body, " +
                               std::to_string(setup.StorageSize / 1000) + " kB storage");
  qvr::bench::ReportFigure("  HTTP transfer", share(http));
  qvr::bench::ReportFigure("  JSON parse", share(parse));
  qvr::bench::ReportFigure("  base64 decode", share(base64));
  qvr::bench::ReportFigure("  inflate", share(inflate));
  qvr::bench::ReportFigure("  storage load", share(load));
  qvr::bench::ReportFigure("  rest (decoding, copies, list)",
                           share(total - http - parse - base64 - inflate - load));
  return ok ? 0 : 1;
}
