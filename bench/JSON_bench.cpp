// JSON text against RapidJSON doing the same work, on two documents: an
// object-heavy answer (an array of 50,000 employee-like objects, about 20 MB)
// and a dataset-list document (three tables as large base64 strings, about
// 11 MB).
//
// Parse: ours into the value classes against RapidJSON's in-place parse with
// numbers kept as text (kParseInsituFlag | kParseNumbersAsStringsFlag) into
// its document, on a copy of the text as ours must take the caller's text as
// it is; releasing the result is measured on neither side. Write: ours
// against RapidJSON's Writer walking the same values, numbers written as
// their kept text (RawNumber) and everything beyond ASCII escaped as ours
// does (target encoding ASCII); its UTF-8 writer, which escapes less, is shown
// as well. Targets: parse at least 0.9 times the reference's throughput on
// the dataset list and 0.7 on the objects, write at least 0.9 on both; peak
// memory while parsing the objects at most 8 times the text size.
#include <benchmark/benchmark.h>
#include <malloc.h>

// RapidJSON's SIMD scanning of strings and whitespace (x86-64 always has SSE2).
#if defined(__SSE4_2__)
#define RAPIDJSON_SSE42
#elif defined(__SSE2__)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "data/DataSetSamples.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONTestData.h"
#include "rest/json/JSONText.h"
#include "rest/json/JSONValues.h"
#include "support/BenchReport.h"
#include "support/PairedTiming.h"

// Every operator new of this program is counted (usable size, as the
// allocator hands it out), so that the memory a parsed document holds and
// the peak while parsing can be read off.
namespace {
std::atomic<std::size_t> GCurrent{0};
std::atomic<std::size_t> GPeak{0};
// Counting is on only while memory is measured, so that it costs the timed
// runs nothing (RapidJSON allocates with malloc and is never counted).
std::atomic<bool> GCounting{false};

void* Count(void* APointer) {
  if (APointer == nullptr) throw std::bad_alloc();
  if (!GCounting.load(std::memory_order_relaxed)) return APointer;
  const std::size_t now = GCurrent += malloc_usable_size(APointer);
  std::size_t peak = GPeak.load();
  while (now > peak && !GPeak.compare_exchange_weak(peak, now)) {
  }
  return APointer;
}
void Uncount(void* APointer) noexcept {
  if (APointer != nullptr && GCounting.load(std::memory_order_relaxed))
    GCurrent -= malloc_usable_size(APointer);
  std::free(APointer);
}
}  // namespace

void* operator new(std::size_t ASize) { return Count(std::malloc(ASize == 0 ? 1 : ASize)); }
void* operator new[](std::size_t ASize) { return Count(std::malloc(ASize == 0 ? 1 : ASize)); }
void operator delete(void* APointer) noexcept { Uncount(APointer); }
void operator delete[](void* APointer) noexcept { Uncount(APointer); }
void operator delete(void* APointer, std::size_t) noexcept { Uncount(APointer); }
void operator delete[](void* APointer, std::size_t) noexcept { Uncount(APointer); }
void* operator new(std::size_t ASize, std::align_val_t AAlign) {
  return Count(std::aligned_alloc(
      static_cast<std::size_t>(AAlign),
      (ASize + static_cast<std::size_t>(AAlign) - 1) & ~(static_cast<std::size_t>(AAlign) - 1)));
}
void operator delete(void* APointer, std::align_val_t) noexcept { Uncount(APointer); }
void operator delete(void* APointer, std::size_t, std::align_val_t) noexcept { Uncount(APointer); }

namespace {

using qvr::rest::ParseJSON;
using qvr::rest::TJSONValue;
using qvr::rest::WriteJSON;

const std::string& Objects() {
  static const std::string text = qvr::rest::testdata::GenerateDocument(0, 50000);
  return text;
}

const std::string& DataSetList() {
  static const std::string text = [] {
    qvr::rest::TDataSetList list;
    for (const char* name : {"Personal", "Fichajes", "Relojes"}) {
      list.AddDataSet(name, qvr::test::MakeMixedTable(70000));
    }
    return WriteJSON(*qvr::rest::TJSONConverters::GetJSONMarshaler()->Marshal(&list));
  }();
  return text;
}

// The reference parse: the text copied where RapidJSON may parse it in place
// (it reads 16 bytes at a time, so zeros follow the text), then parsed with
// numbers kept as text.
std::unique_ptr<rapidjson::Document> ParseRapidJSON(const std::string& AText,
                                                    std::unique_ptr<char[]>& ABuffer) {
  ABuffer = std::make_unique_for_overwrite<char[]>(AText.size() + 16);
  std::memcpy(ABuffer.get(), AText.data(), AText.size());
  std::memset(ABuffer.get() + AText.size(), 0, 16);
  auto doc = std::make_unique<rapidjson::Document>();
  doc->ParseInsitu<rapidjson::kParseNumbersAsStringsFlag>(ABuffer.get());
  if (doc->HasParseError()) std::abort();
  return doc;
}

// RapidJSON's Writer over our values: the same traversal, numbers as their
// kept text.
template <typename TWriter>
void Walk(TWriter& AWriter, const TJSONValue& AValue) {
  using TKind = TJSONValue::TKind;
  switch (AValue.Kind()) {
    case TKind::Object:
      AWriter.StartObject();
      for (const auto& p : static_cast<const qvr::rest::TJSONObject&>(AValue).Members()) {
        AWriter.Key(p.Name().data(), static_cast<rapidjson::SizeType>(p.Name().size()));
        Walk(AWriter, *p.JsonValue());
      }
      AWriter.EndObject();
      break;
    case TKind::Array:
      AWriter.StartArray();
      for (const auto& e : static_cast<const qvr::rest::TJSONArray&>(AValue).Elements()) {
        Walk(AWriter, *e.Get());
      }
      AWriter.EndArray();
      break;
    case TKind::String: {
      const std::string& s = AValue.AsString()->Value();
      AWriter.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
      break;
    }
    case TKind::Number: {
      const std::string& s = AValue.AsString()->Value();
      AWriter.RawNumber(s.data(), static_cast<rapidjson::SizeType>(s.size()));
      break;
    }
    case TKind::True:
      AWriter.Bool(true);
      break;
    case TKind::False:
      AWriter.Bool(false);
      break;
    case TKind::Null:
      AWriter.Null();
      break;
  }
}

template <typename TTargetEncoding>
std::size_t WriteRapidJSON(const TJSONValue& AValue) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, TTargetEncoding> writer(buffer);
  Walk(writer, AValue);
  benchmark::DoNotOptimize(buffer.GetString());
  return buffer.GetSize();
}

// --- The BM_ views of each side (informational) --------------------------------

void ParseOursBM(benchmark::State& AState, const std::string& AText) {
  for (auto _ : AState) {
    std::unique_ptr<TJSONValue> doc = ParseJSON(AText);
    if (doc == nullptr) AState.SkipWithError("document does not parse");
    benchmark::DoNotOptimize(doc.get());
    AState.PauseTiming();  // releasing is not parsing
    doc.reset();
    AState.ResumeTiming();
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * AText.size()));
}

void ParseRapidJSONBM(benchmark::State& AState, const std::string& AText) {
  for (auto _ : AState) {
    std::unique_ptr<char[]> buffer;
    auto doc = ParseRapidJSON(AText, buffer);
    benchmark::DoNotOptimize(doc.get());
    AState.PauseTiming();
    doc.reset();
    buffer.reset();
    AState.ResumeTiming();
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * AText.size()));
}

void WriteOursBM(benchmark::State& AState, const std::string& AText) {
  const std::unique_ptr<TJSONValue> doc = ParseJSON(AText);
  for (auto _ : AState) benchmark::DoNotOptimize(WriteJSON(*doc).size());
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * AText.size()));
}

void WriteRapidJSONBM(benchmark::State& AState, const std::string& AText) {
  const std::unique_ptr<TJSONValue> doc = ParseJSON(AText);
  for (auto _ : AState) benchmark::DoNotOptimize(WriteRapidJSON<rapidjson::ASCII<>>(*doc));
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * AText.size()));
}

void BM_ParseObjects(benchmark::State& AState) { ParseOursBM(AState, Objects()); }
void BM_ParseObjectsRapidJSON(benchmark::State& AState) { ParseRapidJSONBM(AState, Objects()); }
void BM_ParseDataSetList(benchmark::State& AState) { ParseOursBM(AState, DataSetList()); }
void BM_ParseDataSetListRapidJSON(benchmark::State& AState) {
  ParseRapidJSONBM(AState, DataSetList());
}
void BM_WriteObjects(benchmark::State& AState) { WriteOursBM(AState, Objects()); }
void BM_WriteObjectsRapidJSON(benchmark::State& AState) { WriteRapidJSONBM(AState, Objects()); }
void BM_WriteDataSetList(benchmark::State& AState) { WriteOursBM(AState, DataSetList()); }
void BM_WriteDataSetListRapidJSON(benchmark::State& AState) {
  WriteRapidJSONBM(AState, DataSetList());
}

BENCHMARK(BM_ParseObjects)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseObjectsRapidJSON)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDataSetList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDataSetListRapidJSON)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteObjects)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteObjectsRapidJSON)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteDataSetList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteDataSetListRapidJSON)->Unit(benchmark::kMillisecond);

// --- The targets: alternating pairs on this thread's CPU time -------------------

constexpr int kPairs = 15;

struct TDocumentFigures {
  double Parse = 0;      // throughput ours / reference
  double Write = 0;      // throughput ours / reference (ASCII target)
  double WriteUtf8 = 0;  // throughput ours / RapidJSON's UTF-8 writer
  double ParseMs = 0, ReferenceParseMs = 0, WriteMs = 0, ReferenceWriteMs = 0, Utf8WriteMs = 0;
};

TDocumentFigures Measure(const std::string& AText) {
  using qvr::bench::PairedMedians;
  using qvr::bench::TPairClock;
  TDocumentFigures f;
  std::unique_ptr<TJSONValue> ours;
  std::unique_ptr<rapidjson::Document> theirs;
  std::unique_ptr<char[]> buffer;
  auto release = [&] {
    ours.reset();
    theirs.reset();
    buffer.reset();
  };
  auto reference = [&] { theirs = ParseRapidJSON(AText, buffer); };
  const auto parse = PairedMedians(
      kPairs, 2, [&] { ours = ParseJSON(AText); }, reference, TPairClock::ThreadCpu, release);
  const std::unique_ptr<TJSONValue> tree = ParseJSON(AText);
  const auto write = PairedMedians(
      kPairs, 2, [&] { benchmark::DoNotOptimize(WriteJSON(*tree).size()); },
      [&] { WriteRapidJSON<rapidjson::ASCII<>>(*tree); }, TPairClock::ThreadCpu);
  const auto utf8 = PairedMedians(
      kPairs, 1, [&] { benchmark::DoNotOptimize(WriteJSON(*tree).size()); },
      [&] { WriteRapidJSON<rapidjson::UTF8<>>(*tree); }, TPairClock::ThreadCpu);
  f.Parse = 1.0 / parse.Ratio();
  f.Write = 1.0 / write.Ratio();
  f.WriteUtf8 = 1.0 / utf8.Ratio();
  f.ParseMs = parse.Subject * 1e3;
  f.ReferenceParseMs = parse.Reference * 1e3;
  f.WriteMs = write.Subject * 1e3;
  f.ReferenceWriteMs = write.Reference * 1e3;
  f.Utf8WriteMs = utf8.Reference * 1e3;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::string& objects = Objects();
  const std::string& list = DataSetList();

  // Memory: the peak while parsing (scratch included) and what the parsed
  // document keeps, both over the size of its text.
  GCounting = true;
  std::unique_ptr<TJSONValue> doc = ParseJSON(objects);
  const std::size_t peak = GPeak;
  const std::size_t kept = GCurrent;
  GCounting = false;
  doc.reset();

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  using qvr::bench::Formatted;
  using qvr::bench::ReportFigure;
  using qvr::bench::ReportTarget;
  const double mb = static_cast<double>(objects.size()) / (1024.0 * 1024.0);
  ReportFigure("json parsed document memory",
               Formatted("%.1f MB text, %.1f MB kept by the parsed document", mb,
                         static_cast<double>(kept) / (1024.0 * 1024.0)));
  bool ok =
      ReportTarget("json parse peak memory / text size",
                   static_cast<double>(peak) / static_cast<double>(objects.size()), "<=", 8.0);

  const TDocumentFigures o = Measure(objects);
  const TDocumentFigures d = Measure(list);
  ReportFigure("json objects medians",
               Formatted("parse %.1f ms (RapidJSON %.1f ms), write %.1f ms (RapidJSON %.1f ms)",
                         o.ParseMs, o.ReferenceParseMs, o.WriteMs, o.ReferenceWriteMs));
  ReportFigure("json dataset list medians",
               Formatted("parse %.1f ms (RapidJSON %.1f ms), write %.1f ms (RapidJSON %.1f ms)",
                         d.ParseMs, d.ReferenceParseMs, d.WriteMs, d.ReferenceWriteMs));
  ok &= ReportTarget("json parse throughput, dataset list / RapidJSON in-situ numbers as text",
                     d.Parse, ">=", 0.9);
  ok &= ReportTarget("json parse throughput, objects / RapidJSON in-situ numbers as text", o.Parse,
                     ">=", 0.7);
  ok &= ReportTarget("json write throughput, dataset list / RapidJSON Writer raw numbers", d.Write,
                     ">=", 0.9);
  ok &= ReportTarget("json write throughput, objects / RapidJSON Writer raw numbers", o.Write,
                     ">=", 0.9);
  ReportFigure("json write throughput / RapidJSON's UTF-8 Writer (escapes less)",
               Formatted("dataset list %.2f (%.1f ms), objects %.2f (%.1f ms)", d.WriteUtf8,
                         d.Utf8WriteMs, o.WriteUtf8, o.Utf8WriteMs));
  return ok ? 0 : 1;
}
