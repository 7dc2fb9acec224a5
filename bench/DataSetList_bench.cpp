// Dataset lists of one 200,000-row table of mixed columns (about 20 MB of
// storage bytes): writing the marshalled document (storage, deflate, base64,
// JSON text) against zlib's deflate of the same storage bytes alone; reading it
// back (JSON parse, base64, inflate, load) against zlib's inflate of the same
// compressed bytes alone; base64 encode and decode speed; and the peak memory
// that reading takes. The BM_ functions show each stage; the targets come from
// the median of alternating runs in main (thread CPU time), so both sides of a
// ratio see the same machine state.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "data/BinStorage.h"
#include "data/DataSetSamples.h"
#include "rest/datasets/Base64Encoding.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/datasets/ZLibStreams.h"
#include "rest/json/JSONText.h"
#include "support/BenchReport.h"

// --- Heap accounting for the peak memory of reading ---------------------------

namespace {
std::atomic<std::int64_t> GHeapNow{0};
std::atomic<std::int64_t> GHeapPeak{0};

void* CountedAlloc(std::size_t ASize) {
  void* p = std::malloc(ASize == 0 ? 1 : ASize);
  if (p == nullptr) throw std::bad_alloc();
  const auto now = GHeapNow.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p))) +
                   static_cast<std::int64_t>(malloc_usable_size(p));
  std::int64_t peak = GHeapPeak.load();
  while (now > peak && !GHeapPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void CountedFree(void* APtr) {
  if (APtr == nullptr) return;
  GHeapNow.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(APtr)));
  std::free(APtr);
}
}  // namespace

void* operator new(std::size_t ASize) { return CountedAlloc(ASize); }
void* operator new[](std::size_t ASize) { return CountedAlloc(ASize); }
void operator delete(void* APtr) noexcept { CountedFree(APtr); }
void operator delete[](void* APtr) noexcept { CountedFree(APtr); }
void operator delete(void* APtr, std::size_t) noexcept { CountedFree(APtr); }
void operator delete[](void* APtr, std::size_t) noexcept { CountedFree(APtr); }

namespace {

using qvr::data::TBinStorage;
using qvr::rest::TBase64Encoding;
using qvr::rest::TDataSetList;
using qvr::rest::TJSONConverters;

constexpr int kRows = 200000;

struct TFixture {
  TDataSetList List;
  std::string Storage;     // the table's storage bytes
  std::string Compressed;  // those bytes deflated
  std::string Document;    // the marshalled list as JSON text

  TFixture() {
    List.AddDataSet("Personal", qvr::test::MakeMixedTable(kRows));
    Storage = TBinStorage::SaveToBytes(List.DataSet(0));
    Compressed = qvr::rest::ZCompress(Storage);
  }
};

TFixture& Fixture() {
  static TFixture fixture;
  return fixture;
}

// The references: zlib alone, with the same settings, into a buffer sized
// once, as any program that deflates or inflates bytes in memory would do.
std::string DeflateAlone(const std::string& ABytes) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(ABytes.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(ABytes.data()));
  z.avail_in = static_cast<uInt>(ABytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string InflateAlone(const std::string& ABytes, std::size_t AOutSize) {
  z_stream z{};
  inflateInit2(&z, 15);
  std::string out(AOutSize, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(ABytes.data()));
  z.avail_in = static_cast<uInt>(ABytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_FINISH);
  inflateEnd(&z);
  return out;
}

std::string WriteDocument(const TDataSetList& AList) {
  auto marshal = TJSONConverters::GetJSONMarshaler();
  auto doc = marshal->Marshal(&AList);
  return qvr::rest::WriteJSON(*doc);
}

std::unique_ptr<qvr::TObject> ReadDocument(const std::string& AText) {
  auto doc = qvr::rest::ParseJSON(AText);
  auto unmarshal = TJSONConverters::GetJSONUnMarshaler();
  return unmarshal->Unmarshal(*doc);
}

void BM_DeflateAlone(benchmark::State& AState) {
  for (auto _ : AState) benchmark::DoNotOptimize(DeflateAlone(Fixture().Storage));
  AState.SetBytesProcessed(AState.iterations() *
                           static_cast<std::int64_t>(Fixture().Storage.size()));
}

void BM_WriteDataSetListDocument(benchmark::State& AState) {
  for (auto _ : AState) benchmark::DoNotOptimize(WriteDocument(Fixture().List));
  AState.SetBytesProcessed(AState.iterations() *
                           static_cast<std::int64_t>(Fixture().Storage.size()));
}

void BM_InflateAlone(benchmark::State& AState) {
  for (auto _ : AState) {
    benchmark::DoNotOptimize(InflateAlone(Fixture().Compressed, Fixture().Storage.size()));
  }
  AState.SetBytesProcessed(AState.iterations() *
                           static_cast<std::int64_t>(Fixture().Storage.size()));
}

void BM_ReadDataSetListDocument(benchmark::State& AState) {
  if (Fixture().Document.empty()) Fixture().Document = WriteDocument(Fixture().List);
  for (auto _ : AState) benchmark::DoNotOptimize(ReadDocument(Fixture().Document));
  AState.SetBytesProcessed(AState.iterations() *
                           static_cast<std::int64_t>(Fixture().Storage.size()));
}

void BM_SaveStorage(benchmark::State& AState) {
  for (auto _ : AState)
    benchmark::DoNotOptimize(TBinStorage::SaveToBytes(Fixture().List.DataSet(0)));
  AState.SetBytesProcessed(AState.iterations() *
                           static_cast<std::int64_t>(Fixture().Storage.size()));
}

void BM_LoadStorage(benchmark::State& AState) {
  for (auto _ : AState) {
    qvr::data::TMemTable table;
    TBinStorage::Load(table, Fixture().Storage);
    benchmark::DoNotOptimize(table.RecordCount());
  }
  AState.SetBytesProcessed(AState.iterations() *
                           static_cast<std::int64_t>(Fixture().Storage.size()));
}

void BM_Base64Encode(benchmark::State& AState) {
  const std::string& bytes = Fixture().Storage;
  for (auto _ : AState) benchmark::DoNotOptimize(TBase64Encoding::Base64().Encode(bytes));
  AState.SetBytesProcessed(AState.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void BM_Base64Decode(benchmark::State& AState) {
  const std::string text = TBase64Encoding::Base64().Encode(Fixture().Storage);
  for (auto _ : AState) benchmark::DoNotOptimize(TBase64Encoding::Base64().Decode(text));
  AState.SetBytesProcessed(AState.iterations() * static_cast<std::int64_t>(text.size()));
}

BENCHMARK(BM_DeflateAlone)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_WriteDataSetListDocument)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_InflateAlone)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ReadDataSetListDocument)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_SaveStorage)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_LoadStorage)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// CPU time of this thread: the machine is shared, and wall time would charge
// this work with whatever else runs on its two cores.
double ThreadCpuMillis() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

template <typename F>
double Millis(F&& AWork) {
  const double begin = ThreadCpuMillis();
  AWork();
  return ThreadCpuMillis() - begin;
}

double Median(std::vector<double> AValues) {
  std::sort(AValues.begin(), AValues.end());
  const std::size_t n = AValues.size();
  return n % 2 ? AValues[n / 2] : (AValues[n / 2 - 1] + AValues[n / 2]) / 2;
}

std::string Text(const char* AFormat, double A, double B = 0, double C = 0) {
  char line[200];
  std::snprintf(line, sizeof line, AFormat, A, B, C);
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  using qvr::bench::ReportFigure;
  using qvr::bench::ReportTarget;
  TFixture& f = Fixture();
  if (f.Document.empty()) f.Document = WriteDocument(f.List);
  const double mb = static_cast<double>(f.Storage.size()) / 1e6;
  ReportFigure("dataset list storage bytes",
               Text("%.1f MB for %.0f rows (compressed %.1f MB", mb, kRows,
                    static_cast<double>(f.Compressed.size()) / 1e6) +
                   Text(", document %.1f MB)", static_cast<double>(f.Document.size()) / 1e6));

  constexpr int kRuns = 5;
  std::vector<double> deflate, write, inflate, read, encode, decode;
  const std::string text = TBase64Encoding::Base64().Encode(f.Storage);
  for (int i = 0; i < kRuns; ++i) {
    deflate.push_back(Millis([&] { benchmark::DoNotOptimize(DeflateAlone(f.Storage)); }));
    write.push_back(Millis([&] { benchmark::DoNotOptimize(WriteDocument(f.List)); }));
    inflate.push_back(
        Millis([&] { benchmark::DoNotOptimize(InflateAlone(f.Compressed, f.Storage.size())); }));
    read.push_back(Millis([&] { benchmark::DoNotOptimize(ReadDocument(f.Document)); }));
    encode.push_back(
        Millis([&] { benchmark::DoNotOptimize(TBase64Encoding::Base64().Encode(f.Storage)); }));
    decode.push_back(
        Millis([&] { benchmark::DoNotOptimize(TBase64Encoding::Base64().Decode(text)); }));
  }

  // Peak heap of one read beyond what was allocated before it.
  const std::int64_t before = GHeapNow.load();
  GHeapPeak.store(before);
  {
    auto list = ReadDocument(f.Document);
    benchmark::DoNotOptimize(list.get());
  }
  const double peakMb = static_cast<double>(GHeapPeak.load() - before) / 1e6;

  bool ok = true;
  ReportFigure("dataset list write / read medians",
               Text("write %.0f ms (deflate alone %.0f ms), read %.0f ms", Median(write),
                    Median(deflate), Median(read)) +
                   Text(" (inflate alone %.0f ms)", Median(inflate)));
  ok &= ReportTarget("dataset list write time / zlib deflate alone",
                     Median(write) / Median(deflate), "<=", 1.2);
  ok &= ReportTarget("dataset list read time / zlib inflate alone", Median(read) / Median(inflate),
                     "<=", 3.0);
  ok &= ReportTarget("base64 encode 20 MB, GB/s",
                     static_cast<double>(f.Storage.size()) / 1e6 / Median(encode), ">=", 1.0);
  ok &= ReportTarget("base64 decode 20 MB, GB/s",
                     static_cast<double>(text.size()) / 1e6 / Median(decode), ">=", 1.0);
  ReportFigure("dataset list read peak heap",
               Text("%.1f MB (%.2f x the storage bytes, document %.1f MB held by the caller)",
                    peakMb, peakMb / mb, static_cast<double>(f.Document.size()) / 1e6));
  return ok ? 0 : 1;
}
