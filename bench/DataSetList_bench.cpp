// Dataset lists of one 200,000-row table of mixed columns (about 20 MB of
// storage bytes): writing the marshalled document (storage, deflate, base64,
// JSON text) against zlib's deflate of the same storage bytes alone; reading it
// back (JSON parse, base64, inflate, load) against zlib's inflate of the same
// compressed bytes alone; base64 encode and decode against OpenSSL's block
// codec; and the peak memory that reading takes. The BM_ functions show each
// stage; the targets come from alternating pairs in main (thread CPU time,
// support/PairedTiming.h), so both sides of a ratio see the same machine state.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <openssl/evp.h>
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
#include "platform/Base64Encoding.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/datasets/ZLibStreams.h"
#include "rest/json/JSONText.h"
#include "support/BenchReport.h"
#include "support/PairedTiming.h"

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
using qvr::TBase64Encoding;
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

// OpenSSL's block codec, the reference for base64: no line breaks either way
// (its decoder takes none), so it is handed the same bytes and the same text
// without them.
std::string EvpEncode(const std::string& ABytes) {
  std::string out((ABytes.size() + 2) / 3 * 4 + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(ABytes.data()),
                                static_cast<int>(ABytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string EvpDecode(const std::string& AText) {
  std::string out(AText.size() / 4 * 3 + 1, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(AText.data()),
                                static_cast<int>(AText.size()));
  // It counts the zero bytes that "=" padding stands for.
  std::size_t size = n < 0 ? 0 : static_cast<std::size_t>(n);
  for (std::size_t i = AText.size(); i > 0 && AText[i - 1] == '=' && size > 0; --i) --size;
  out.resize(size);
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

void BM_Base64EncodeOpenSSL(benchmark::State& AState) {
  const std::string& bytes = Fixture().Storage;
  for (auto _ : AState) benchmark::DoNotOptimize(EvpEncode(bytes));
  AState.SetBytesProcessed(AState.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void BM_Base64DecodeOpenSSL(benchmark::State& AState) {
  const std::string text = TBase64Encoding::Base64().EncodeLine(Fixture().Storage);
  for (auto _ : AState) benchmark::DoNotOptimize(EvpDecode(text));
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
BENCHMARK(BM_Base64EncodeOpenSSL)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Base64DecodeOpenSSL)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  using qvr::bench::Formatted;
  using qvr::bench::PairedMedians;
  using qvr::bench::ReportFigure;
  using qvr::bench::ReportTarget;
  using qvr::bench::TPairClock;
  TFixture& f = Fixture();
  if (f.Document.empty()) f.Document = WriteDocument(f.List);
  const double mb = static_cast<double>(f.Storage.size()) / 1e6;
  ReportFigure(
      "dataset list storage bytes",
      Formatted("%.1f MB for %.0f rows (compressed %.1f MB", mb, static_cast<double>(kRows),
                static_cast<double>(f.Compressed.size()) / 1e6) +
          Formatted(", document %.1f MB)", static_cast<double>(f.Document.size()) / 1e6));

  // Alternating pairs on this thread's CPU time (support/PairedTiming.h):
  // all the work runs on this thread, and the other processes on the shared
  // cores are left out.
  const auto write = PairedMedians(
      7, 1, [&] { benchmark::DoNotOptimize(WriteDocument(f.List)); },
      [&] { benchmark::DoNotOptimize(DeflateAlone(f.Storage)); }, TPairClock::ThreadCpu);
  const auto read = PairedMedians(
      15, 2, [&] { benchmark::DoNotOptimize(ReadDocument(f.Document)); },
      [&] { benchmark::DoNotOptimize(InflateAlone(f.Compressed, f.Storage.size())); },
      TPairClock::ThreadCpu);
  const std::string text = TBase64Encoding::Base64().Encode(f.Storage);
  const std::string flat = TBase64Encoding::Base64().EncodeLine(f.Storage);
  if (EvpDecode(flat) != f.Storage || TBase64Encoding::Base64().Decode(text) != f.Storage) {
    std::fprintf(stderr, "base64 codecs disagree\n");
    return 1;
  }
  const auto encode = PairedMedians(
      21, 2, [&] { benchmark::DoNotOptimize(TBase64Encoding::Base64().Encode(f.Storage)); },
      [&] { benchmark::DoNotOptimize(EvpEncode(f.Storage)); }, TPairClock::ThreadCpu);
  const auto decode = PairedMedians(
      21, 2, [&] { benchmark::DoNotOptimize(TBase64Encoding::Base64().Decode(text)); },
      [&] { benchmark::DoNotOptimize(EvpDecode(flat)); }, TPairClock::ThreadCpu);

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
               Formatted("write %.0f ms (deflate alone %.0f ms), read %.0f ms", write.Subject * 1e3,
                         write.Reference * 1e3, read.Subject * 1e3) +
                   Formatted(" (inflate alone %.0f ms)", read.Reference * 1e3));
  ok &= ReportTarget("dataset list write time / zlib deflate alone", write.Ratio(), "<=", 0.45);
  ok &= ReportTarget("dataset list read time / zlib inflate alone", read.Ratio(), "<=", 1.0);
  ReportFigure("base64 20 MB medians", Formatted("encode %.1f ms (OpenSSL %.1f ms), ",
                                                 encode.Subject * 1e3, encode.Reference * 1e3) +
                                           Formatted("decode %.1f ms (OpenSSL %.1f ms)",
                                                     decode.Subject * 1e3, decode.Reference * 1e3));
  ok &= ReportTarget("base64 encode throughput / OpenSSL EVP_EncodeBlock", 1.0 / encode.Ratio(),
                     ">=", 1.0);
  ok &= ReportTarget("base64 decode throughput / OpenSSL EVP_DecodeBlock", 1.0 / decode.Ratio(),
                     ">=", 1.0);
  ReportFigure("dataset list read peak heap",
               Formatted("%.1f MB (%.2f x the storage bytes, document %.1f MB held by the caller)",
                         peakMb, peakMb / mb, static_cast<double>(f.Document.size()) / 1e6));
  return ok ? 0 : 1;
}
