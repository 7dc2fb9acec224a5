// Parse of a ~20 MB generated document into the JSON value classes and its
// compact writing, each against RapidJSON's Document::Parse and Writer on the
// same text in the same run; and the memory the parsed document holds.
// Targets: parse and write at least 0.5 times RapidJSON's throughput; peak
// memory while parsing at most 8 times the text size.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

#include "rest/json/JSONTestData.h"
#include "rest/json/JSONText.h"
#include "rest/json/JSONValues.h"
#include "support/BenchReport.h"

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

constexpr std::size_t kDocumentBytes = 20 * 1024 * 1024;

const std::string& Document() {
  static const std::string text = qvr::rest::testdata::GenerateDocument(kDocumentBytes);
  return text;
}

void BM_ParseValues(benchmark::State& AState) {
  const std::string& text = Document();
  for (auto _ : AState) {
    std::unique_ptr<TJSONValue> doc = ParseJSON(text);
    if (doc == nullptr) AState.SkipWithError("document does not parse");
    benchmark::DoNotOptimize(doc.get());
    AState.PauseTiming();  // releasing is not parsing
    doc.reset();
    AState.ResumeTiming();
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * text.size()));
}

void BM_ParseRapidJSON(benchmark::State& AState) {
  const std::string& text = Document();
  for (auto _ : AState) {
    auto doc = std::make_unique<rapidjson::Document>();
    doc->Parse(text.c_str());
    if (doc->HasParseError()) AState.SkipWithError("document does not parse");
    benchmark::DoNotOptimize(doc.get());
    AState.PauseTiming();
    doc.reset();
    AState.ResumeTiming();
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * text.size()));
}

void BM_WriteValues(benchmark::State& AState) {
  const std::unique_ptr<TJSONValue> doc = ParseJSON(Document());
  std::size_t bytes = 0;
  for (auto _ : AState) {
    std::string out = WriteJSON(*doc);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * bytes));
}

void BM_WriteRapidJSON(benchmark::State& AState) {
  rapidjson::Document doc;
  doc.Parse(Document().c_str());
  std::size_t bytes = 0;
  for (auto _ : AState) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    bytes = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
  }
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * bytes));
}

BENCHMARK(BM_ParseValues)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ParseRapidJSON)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_WriteValues)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_WriteRapidJSON)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps each benchmark's time per iteration for the ratios.
class TRecorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& ARuns) override {
    for (const Run& r : ARuns) {
      // CPU time: the machine is shared, and wall time would count the
      // other processes' turns.
      if (!r.error_occurred) {
        const std::string name = r.benchmark_name();
        Seconds[name.substr(0, name.find('/'))] = r.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(ARuns);
  }
  std::map<std::string, double> Seconds;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::string& text = Document();

  // Memory: the peak while parsing (scratch included) and what the parsed
  // document keeps, both over the size of its text.
  GCounting = true;
  std::unique_ptr<TJSONValue> doc = ParseJSON(text);
  const std::size_t peak = GPeak;
  const std::size_t kept = GCurrent;
  GCounting = false;
  doc.reset();

  TRecorder recorder;
  benchmark::RunSpecifiedBenchmarks(&recorder);
  benchmark::Shutdown();

  const double mb = static_cast<double>(text.size()) / (1024.0 * 1024.0);
  char line[160];
  std::snprintf(line, sizeof line, "%.1f MB text, %.1f MB kept by the parsed document", mb,
                static_cast<double>(kept) / (1024.0 * 1024.0));
  qvr::bench::ReportFigure("json parsed document memory", line);
  bool ok = qvr::bench::ReportTarget("json parse peak memory / text size",
                                     static_cast<double>(peak) / text.size(), "<=", 8.0);
  auto ratio = [&](const char* AOurs, const char* ARef) {
    const double ours = recorder.Seconds[AOurs];
    const double ref = recorder.Seconds[ARef];
    return ours > 0 ? ref / ours : 0.0;
  };
  ok &= qvr::bench::ReportTarget("json parse throughput / RapidJSON Document::Parse",
                                 ratio("BM_ParseValues", "BM_ParseRapidJSON"), ">=", 0.5);
  ok &= qvr::bench::ReportTarget("json compact write throughput / RapidJSON Writer",
                                 ratio("BM_WriteValues", "BM_WriteRapidJSON"), ">=", 0.5);
  return ok ? 0 : 1;
}
