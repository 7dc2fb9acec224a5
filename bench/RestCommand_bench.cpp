// What the command layer adds to a remote call, both figures measured against
// a reference doing the same work in the same run:
// - one EchoString-shaped execution (a short text in the URL, a text result)
//   against the bare session-carrying exchange of the same URL on the same
//   keep-alive stand-in server and the same HTTP object; target <= 1.05;
// - building the request of a SubirAsistencia-shaped call whose dataset list
//   (about 20 MB of storage) is marshalled already, against writing the same
//   JSON document with the JSON writer alone: the slot's value is written in
//   place, not copied; target <= 1.1.
// Both are alternating paired medians (support/PairedTiming.h), so that load
// from elsewhere on the machine hits both alike.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "data/DataSetSamples.h"
#include "rest/RestCommand.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONText.h"
#include "support/BenchReport.h"
#include "support/PairedTiming.h"
#include "support/StandInServer.h"

namespace {

using namespace qvr::rest;

const std::vector<TRestParameterMetaData> kEchoString = {
    {"Value", TParameterDirections::In, TValueTypes::WideString, "string"},
    {"", TParameterDirections::Return, TValueTypes::WideString, "string"}};
const std::vector<TRestParameterMetaData> kSubirAsistencia = {
    {"AArchivo", TParameterDirections::In, TValueTypes::WideString, "string"},
    {"ALista", TParameterDirections::In, TValueTypes::JSON, "TDataSetList"},
    {"", TParameterDirections::Return, TValueTypes::BOOL, "Boolean"}};

struct TEchoSetup {
  TEchoSetup() : Command(Connection) {
    Server.SetRecording(false);
    Server.SetDefaultAnswer(qvr::test::ResultAnswer("\"cba\"").WithSessionID("S1"));
    Connection.SetHost("127.0.0.1");
    Connection.SetPort(Server.Port());
    Connection.SetLoginPrompt(false);
    Connection.SetUserName("kiosco");
    Connection.SetSessionID("S1");
    Command.SetRequestType("GET");
    Command.SetText("TQVRServerMethods.EchoString");
    Command.Prepare(kEchoString);
    Command.Parameters()->GetParameterByOrdinal(0).Value().SetWideString("abc");
    Url = Connection.RestBaseURL() + "TQVRServerMethods/EchoString/abc/";
    CommandCall();  // creates the HTTP object and fills its header set
  }
  // Declared first: destroyed after the clients that keep connections open.
  qvr::test::TStandInServer Server;
  TRestConnection Connection;
  TRestCommand Command;
  std::string Url;

  void ExchangeCall() {
    auto response = Connection.SessionExchange("GET", Url, "application/JSON", {},
                                               TSessionRule::ClearOnProtocolError);
    // The same reading of the answer that the command needs.
    auto json = ParseJSON(response->StringValue());
    benchmark::DoNotOptimize(json.get());
  }
  void CommandCall() {
    Command.Execute();
    benchmark::DoNotOptimize(
        Command.Parameters()->GetParameterByOrdinal(1).Value().GetWideString().data());
  }
};

TEchoSetup& Echo() {
  static TEchoSetup setup;
  return setup;
}

struct TUploadSetup {
  TUploadSetup() : Command(Connection) {
    Connection.SetHost("127.0.0.1");
    Command.SetRequestType("POST");
    Command.SetText("TQVRServerMethods.\"SubirAsistencia\"");
    Command.Prepare(kSubirAsistencia);
    TDataSetList list;
    list.AddDataSet("Asistencia", qvr::test::MakeMixedTable(200000));
    std::unique_ptr<TJSONValue> document = TRestCommand::GetJSONMarshaler()->Marshal(&list);
    Document = document.get();
    Command.Parameters()->GetParameterByOrdinal(0).Value().SetWideString("asistencia.csv");
    Command.Parameters()->GetParameterByOrdinal(1).Value().SetJSONValue(std::move(document));
  }
  TRestConnection Connection;
  TRestCommand Command;
  const TJSONValue* Document = nullptr;

  std::size_t WriterAlone() {
    std::string text;
    WriteJSON(*Document, text);
    benchmark::DoNotOptimize(text.data());
    return text.size();
  }
  void CommandBody() {
    const TRestCommandRequest request = Command.BuildRequest();
    benchmark::DoNotOptimize(request.Body.data());
  }
};

TUploadSetup& Upload() {
  static TUploadSetup setup;
  return setup;
}

void BM_BareSessionExchange(benchmark::State& state) {
  for (auto _ : state) Echo().ExchangeCall();
}
BENCHMARK(BM_BareSessionExchange);

void BM_EchoStringCommand(benchmark::State& state) {
  for (auto _ : state) Echo().CommandCall();
}
BENCHMARK(BM_EchoStringCommand);

void BM_WriteDataSetListDocument(benchmark::State& state) {
  for (auto _ : state) state.SetBytesProcessed(state.bytes_processed() + Upload().WriterAlone());
}
BENCHMARK(BM_WriteDataSetListDocument)->Unit(benchmark::kMillisecond);

void BM_SubirAsistenciaBody(benchmark::State& state) {
  for (auto _ : state) Upload().CommandBody();
}
BENCHMARK(BM_SubirAsistenciaBody)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Built before timing starts: marshalling the list compresses 20 MB.
  Echo();
  Upload();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  using qvr::bench::PairedMedianRatio;
  auto& echo = Echo();
  bool ok = qvr::bench::ReportTarget(
      "EchoString command execution / bare session exchange",
      PairedMedianRatio(
          3000, 100, [&] { echo.CommandCall(); }, [&] { echo.ExchangeCall(); }),
      "<=", 1.05);
  auto& upload = Upload();
  qvr::bench::ReportFigure("SubirAsistencia body size (bytes)",
                           std::to_string(upload.WriterAlone()));
  ok &= qvr::bench::ReportTarget(
      "SubirAsistencia request body / JSON writer alone",
      PairedMedianRatio(
          15, 1, [&] { upload.CommandBody(); }, [&] { upload.WriterAlone(); }),
      "<=", 1.1);
  return ok ? 0 : 1;
}
