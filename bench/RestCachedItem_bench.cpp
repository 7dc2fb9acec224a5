// A cached dataset list fetched through its item against the plain
// dataset-list result of a command, with the same document (about 20 MB of
// storage) on the same stand-in server in the same run: the cache path reads,
// decodes and parses the answer once, as the plain path does. Target <= 1.05.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "data/DataSetSamples.h"
#include "rest/RestCommand.h"
#include "rest/json/JSONText.h"
#include "rest/uClientClasses.h"
#include "support/BenchReport.h"
#include "support/PairedTiming.h"
#include "support/StandInServer.h"

namespace {

using namespace qvr::rest;
using qvr::TMaybeOwned;

struct TSetup {
  TSetup() : Command(Connection) {
    TDataSetList list;
    list.AddDataSet("Personal", qvr::test::MakeMixedTable(200000));
    const std::string document = WriteJSON(*TJSONConverters::GetJSONMarshaler()->Marshal(&list));
    Server.SetRecording(false);
    Server.On("GET", "/rpc/rest/TQVRServerMethods/ListaPersonalCompleta/",
              qvr::test::JsonAnswer(200, "{\"result\":[" + document + "]}"));
    Server.On("GET", "/rpc/cache/S1/0/0",
              qvr::test::JsonAnswer(200, "{\"result\":" + document + "}"));
    Connection.SetHost("127.0.0.1");
    Connection.SetPort(Server.Port());
    Connection.SetLoginPrompt(false);
    Command.SetRequestType("GET");
    Command.SetText("TQVRServerMethods.ListaPersonalCompleta");
    const TRestParameterMetaData table[] = {
        {"", TParameterDirections::Return, TValueTypes::JSON, "TDataSetList"}};
    Command.Prepare(table);
    Item = std::make_shared<TRestCachedDataSetList>("S1/0/0");
  }
  // Declared first: destroyed after the clients that keep connections open.
  qvr::test::TStandInServer Server;
  TRestConnection Connection;
  TRestCommand Command;
  std::shared_ptr<IRestCachedDataSetList> Item;

  // What the server methods client does for a dataset-list result.
  void Plain() {
    Command.Execute();
    TMaybeOwned<TJSONValue> value =
        Command.Parameters()->GetParameterByOrdinal(0).Value().GetJSONValue(true);
    std::unique_ptr<qvr::TObject> list = TRestCommand::GetJSONUnMarshaler()->Unmarshal(*value);
    benchmark::DoNotOptimize(list.get());
  }
  // A fresh item each time, so that kept JSON does not pile up.
  void Cached() {
    auto item = std::make_shared<TRestCachedDataSetList>("S1/0/0");
    TMaybeOwned<TDataSetList> list = item->GetValue(Connection, false);
    benchmark::DoNotOptimize(list.get());
  }
};

TSetup& Setup() {
  static TSetup setup;
  return setup;
}

void BM_PlainDataSetListResult(benchmark::State& state) {
  for (auto _ : state) Setup().Plain();
}
BENCHMARK(BM_PlainDataSetListResult)->Unit(benchmark::kMillisecond);

void BM_CachedDataSetListGetValue(benchmark::State& state) {
  for (auto _ : state) Setup().Cached();
}
BENCHMARK(BM_CachedDataSetListGetValue)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Setup();  // marshalling the list compresses 20 MB: not part of any timing
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const bool ok =
      qvr::bench::ReportTarget("Cached dataset list GetValue / plain dataset-list result",
                               qvr::bench::PairedMedianRatio(
                                   9, 0, [] { Setup().Cached(); }, [] { Setup().Plain(); }),
                               "<=", 1.05);
  return ok ? 0 : 1;
}
