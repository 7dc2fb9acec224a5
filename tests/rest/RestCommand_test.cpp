// REST commands against a stand-in server on 127.0.0.1: the URL path and the
// body each placement of parameters gives (asserted byte for byte on what the
// server received), the results the answer's "result" array stores, the
// release list, preparation, and what every failure leaves behind.
#include "rest/RestCommand.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "data/DataSetSamples.h"
#include "platform/SysUtils.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONText.h"
#include "support/StandInServer.h"

namespace qvr::rest {
namespace {

using test::ErrorAnswer;
using test::JsonAnswer;
using test::ResultAnswer;
using test::TStandInServer;

constexpr auto In = TParameterDirections::In;
constexpr auto Out = TParameterDirections::Out;
constexpr auto Ret = TParameterDirections::Return;

const std::vector<TRestParameterMetaData> kEchoString = {
    {"Value", In, TValueTypes::WideString, "string"}, {"", Ret, TValueTypes::WideString, "string"}};
const std::vector<TRestParameterMetaData> kActualizarEmpleado = {
    {"ADatos", In, TValueTypes::JSON, "TJSONObject"}, {"", Ret, TValueTypes::BOOL, "Boolean"}};
const std::vector<TRestParameterMetaData> kSubirAsistencia = {
    {"AArchivo", In, TValueTypes::WideString, "string"},
    {"ALista", In, TValueTypes::JSON, "TDataSetList"},
    {"", Ret, TValueTypes::BOOL, "Boolean"}};

// Counts releases of objects registered for release.
int GReleased = 0;
class TCounted : public TObject {
 public:
  ~TCounted() override { ++GReleased; }
};

class RestCommandTest : public ::testing::Test {
 protected:
  RestCommandTest() {
    Conn.SetHost("127.0.0.1");
    Conn.SetPort(Server.Port());
    Conn.SetLoginPrompt(false);
    // One null element fills every out parameter of a command that does
    // not care about its results.
    Server.SetDefaultAnswer(ResultAnswer("null"));
    GReleased = 0;
  }

  std::unique_ptr<TRestCommand> Command(const char* AVerb, const char* AText,
                                        const std::vector<TRestParameterMetaData>& ATable) {
    auto command = Conn.CreateCommand();
    command->SetRequestType(AVerb);
    command->SetText(AText);
    command->Prepare(ATable);
    return command;
  }
  static TParameterValue& Slot(TRestCommand& ACommand, int AIndex) {
    return ACommand.Parameters()->GetParameterByOrdinal(AIndex).Value();
  }
  // The request target after "/rpc/rest/".
  std::string LastPath() const {
    const std::string target = Server.LastRequest().Target;
    EXPECT_EQ(target.rfind("/rpc/rest/", 0), 0u) << target;
    return target.substr(10);
  }

  // Declared first so that it outlives the connection's open socket.
  TStandInServer Server;
  TRestConnection Conn;
};

// --------------------------------------------------------- URL and body

TEST_F(RestCommandTest, TextInParametersBecomeEncodedSegments) {
  struct TCase {
    const char* Text;
    const char* Path;
  };
  const TCase kCases[] = {
      {"a b.c/d", "TQVRServerMethods/EchoString/a%20b%2Ec%2Fd/"},
      {"\xC3\xB1", "TQVRServerMethods/EchoString/%C3%B1/"},
      {"%41", "TQVRServerMethods/EchoString/%2541/"},
      {"", "TQVRServerMethods/EchoString//"},
      {"#:?\\^`{|}~!", "TQVRServerMethods/EchoString/%23%3A%3F%5C%5E%60%7B%7C%7D~!/"},
  };
  auto command = Command("GET", "TQVRServerMethods.EchoString", kEchoString);
  for (const TCase& k : kCases) {
    Slot(*command, 0).SetWideString(k.Text);
    command->Execute();
    EXPECT_EQ(LastPath(), k.Path) << k.Text;
  }
  EXPECT_EQ(Server.LastRequest().Header("Host"), "127.0.0.1:" + std::to_string(Server.Port()))
      << "the host keeps its dots";
  EXPECT_EQ(Server.LastRequest().Method, "GET");
  EXPECT_EQ(Server.LastRequest().Body, "");
}

TEST_F(RestCommandTest, OtherKindsOfSegment) {
  const std::vector<TRestParameterMetaData> table = {
      {"A", In, TValueTypes::INT32, "Integer"},     {"B", In, TValueTypes::WideString, "string"},
      {"C", In, TValueTypes::BOOL, "Boolean"},      {"D", In, TValueTypes::BOOL, "Boolean"},
      {"E", In, TValueTypes::JSON, "TJSONString"},  {"F", In, TValueTypes::JSON, "TJSONNumber"},
      {"G", Out, TValueTypes::WideString, "string"}};
  auto command = Command("GET", "C.M", table);
  Slot(*command, 0).SetInt32(-5);
  // B stays null.
  Slot(*command, 2).SetBoolean(true);
  Slot(*command, 3).SetBoolean(false);
  Slot(*command, 4).SetJSONValue(std::make_unique<TJSONString>("x y"));
  Slot(*command, 5).SetJSONValue(std::make_unique<TJSONNumber>("1.5"));
  command->Execute();
  EXPECT_EQ(LastPath(), "C/M/-5/null/True/False/x%20y/1%2E5/");
}

TEST_F(RestCommandTest, MethodNamesInQuotesAndLaterDots) {
  auto command = Command("GET", "TQVRServerMethods.\"Echo.String\"", kEchoString);
  Slot(*command, 0).SetWideString("v");
  command->Execute();
  EXPECT_EQ(LastPath(), "TQVRServerMethods/%22Echo.String%22/v/");
}

TEST_F(RestCommandTest, RequestFilters) {
  struct TCase {
    const char* Filter;
    const char* Path;
  };
  const TCase kCases[] = {{"ss.r=1", "TQVRServerMethods/EchoString/v/?ss.r=1"},
                          {"?x=1", "TQVRServerMethods/EchoString/v/?x=1"},
                          {"", "TQVRServerMethods/EchoString/v/"}};
  auto command = Command("GET", "TQVRServerMethods.EchoString", kEchoString);
  Slot(*command, 0).SetWideString("v");
  for (const TCase& k : kCases) {
    command->Execute(k.Filter);
    EXPECT_EQ(LastPath(), k.Path) << k.Filter;
  }
}

TEST_F(RestCommandTest, AnObjectParameterTravelsAloneInTheBody) {
  auto command = Command("POST", "TQVRServerMethods.\"ActualizarEmpleado\"", kActualizarEmpleado);
  auto datos = std::make_unique<TJSONObject>();
  datos->AddPair("Nombre", "Jos\xC3\xA9");
  datos->AddPair("Ruta", "a/b");
  datos->AddPair("Codigo", std::make_unique<TJSONNumber>(std::int32_t{7}));
  Slot(*command, 0).SetJSONValue(std::move(datos));
  Server.Enqueue(ResultAnswer("true"));
  command->Execute();
  const auto request = Server.LastRequest();
  EXPECT_EQ(request.Method, "POST");
  EXPECT_EQ(LastPath(), "TQVRServerMethods/%22ActualizarEmpleado%22/");
  EXPECT_EQ(request.Body, R"({"Nombre":"Jos\u00E9","Ruta":"a\/b","Codigo":7})");
  EXPECT_EQ(request.Header("Content-Type"), "text/plain;charset=UTF-8");
  EXPECT_TRUE(Slot(*command, 1).GetBoolean());
}

TEST_F(RestCommandTest, ADataSetListTravelsAsItsMarshalledObjectNotWrapped) {
  auto command = Command("POST", "TQVRServerMethods.\"SubirAsistencia\"", kSubirAsistencia);
  TDataSetList list;
  list.AddDataSet("Asistencia", test::MakeMixedTable(3));
  std::unique_ptr<TJSONValue> document = TRestCommand::GetJSONMarshaler()->Marshal(&list);
  const std::string expected = WriteJSON(*document);
  Slot(*command, 0).SetWideString("marzo 2026.csv");
  Slot(*command, 1).SetJSONValue(std::move(document));
  command->Execute();
  EXPECT_EQ(LastPath(), "TQVRServerMethods/%22SubirAsistencia%22/marzo%202026%2Ecsv/");
  EXPECT_EQ(Server.LastRequest().Body, expected);
  EXPECT_EQ(expected.rfind(R"({"type":"Data.DataSetJSONReflect.TDataSetList","id":1,)", 0), 0u);
  EXPECT_NE(expected.find("\\r\\n"), std::string::npos) << "blob line breaks escaped";

  Slot(*command, 1).SetNull();
  command->Execute();
  EXPECT_EQ(Server.LastRequest().Body, "null");
}

TEST_F(RestCommandTest, FromTheFirstBodyParameterOnEverythingGoesInTheBody) {
  const std::vector<TRestParameterMetaData> table = {
      {"A", In, TValueTypes::INT32, "Integer"},     {"B", In, TValueTypes::JSON, "TJSONObject"},
      {"C", In, TValueTypes::WideString, "string"}, {"D", In, TValueTypes::JSON, "TJSONArray"},
      {"E", In, TValueTypes::BOOL, "Boolean"},      {"", Ret, TValueTypes::BOOL, "Boolean"}};
  auto command = Command("", "C.M", table);
  EXPECT_EQ(command->RequestType(), "POST");
  Slot(*command, 0).SetInt32(9);
  auto object = std::make_unique<TJSONObject>();
  object->AddPair("k", "v");
  Slot(*command, 1).SetJSONValue(std::move(object));
  Slot(*command, 2).SetWideString("t\"x");
  // D stays null; E is true.
  Slot(*command, 4).SetBoolean(true);
  command->Execute();
  EXPECT_EQ(LastPath(), "C/M/9/");
  EXPECT_EQ(Server.LastRequest().Body, R"({"_parameters":[{"k":"v"},"t\"x",null,true]})");
}

TEST_F(RestCommandTest, APostWithOnlyURLParametersSendsAnEmptyBody) {
  const std::vector<TRestParameterMetaData> table = {{"A", In, TValueTypes::WideString, "string"},
                                                     {"B", In, TValueTypes::INT32, "Integer"}};
  auto command = Command("POST", "C.M", table);
  Slot(*command, 0).SetWideString("x");
  Slot(*command, 1).SetInt32(2);
  command->Execute();
  const auto request = Server.LastRequest();
  EXPECT_EQ(request.Method, "POST");
  EXPECT_EQ(LastPath(), "C/M/x/2/");
  EXPECT_EQ(request.Body, "");
  EXPECT_EQ(request.Header("Content-Length"), "0");
}

TEST_F(RestCommandTest, GetAndDeletePutEveryInParameterInTheURL) {
  const std::vector<TRestParameterMetaData> table = {{"A", In, TValueTypes::JSON, "TJSONObject"},
                                                     {"B", In, TValueTypes::WideString, "string"}};
  for (const char* verb : {"GET", "DELETE", "get"}) {
    auto command = Command(verb, "C.M", table);
    auto object = std::make_unique<TJSONObject>();
    object->AddPair("k", "v");
    Slot(*command, 0).SetJSONValue(std::move(object));
    Slot(*command, 1).SetWideString("b");
    command->Execute();
    EXPECT_EQ(LastPath(), "C/M/%7B\"k\"%3A\"v\"%7D/b/") << verb;
    EXPECT_EQ(Server.LastRequest().Body, "") << verb;
  }
}

TEST_F(RestCommandTest, PlainAndCacheModeAskForTheirForms) {
  auto command = Command("GET", "TQVRServerMethods.EchoString", kEchoString);
  command->Execute();
  EXPECT_EQ(Server.LastRequest().Header("Accept"), "application/JSON");
  EXPECT_EQ(Server.LastRequest().Header("If-Modified-Since"), "Mon, 1 Oct 1990 05:00:00 GMT");
  command->ExecuteCache();
  EXPECT_EQ(Server.LastRequest().Header("Accept"), "application/rest");
}

// ---------------------------------------------------------------- results

TEST_F(RestCommandTest, ABooleanReturnParameterAcrossAnswers) {
  const std::vector<TRestParameterMetaData> table = {{"", Ret, TValueTypes::BOOL, "Boolean"}};
  auto command = Command("GET", "C.M", table);
  EXPECT_FALSE(command->ResultStored()) << "before the first execution";
  Server.Enqueue(JsonAnswer(200, R"({"result":[true]})"));
  command->Execute();
  EXPECT_TRUE(Slot(*command, 0).GetBoolean());
  EXPECT_FALSE(Slot(*command, 0).IsNull());
  EXPECT_TRUE(command->ResultStored());

  // Answers that store nothing leave the previous result in place, which a
  // caller tells from a result of the answer by ResultStored.
  for (const char* body : {R"({"result":"false"})", R"({"other":[false]})", "no JSON", "",
                           R"([false])", R"({"result":[false]} x)"}) {
    Server.Enqueue(JsonAnswer(200, body));
    command->Execute();
    EXPECT_TRUE(Slot(*command, 0).GetBoolean()) << body;
    EXPECT_FALSE(command->ResultStored()) << body;
  }
  Server.Enqueue(ErrorAnswer(500, "no"));
  EXPECT_THROW(command->Execute(), TRestProtocolException);
  EXPECT_FALSE(command->ResultStored()) << "a failed execution";

  Server.Enqueue(JsonAnswer(200, R"({"result":[]})"));
  try {
    command->Execute();
    FAIL() << "no exception";
  } catch (const EArgumentOutOfRangeException& e) {
    EXPECT_EQ(e.Message(), "Argument out of range");
  }
  // The first "result" member counts.
  Server.Enqueue(JsonAnswer(200, R"({"result":[false],"result":[true]})"));
  command->Execute();
  EXPECT_FALSE(Slot(*command, 0).GetBoolean());
}

TEST_F(RestCommandTest, ResultsFillOutParametersInOrder) {
  const std::vector<TRestParameterMetaData> table = {
      {"A", In, TValueTypes::WideString, "string"},
      {"B", Out, TValueTypes::INT32, "Integer"},
      {"C", TParameterDirections::InOut, TValueTypes::WideString, "string"},
      {"", Ret, TValueTypes::BOOL, "Boolean"}};
  auto command = Command("GET", "C.M", table);
  Slot(*command, 2).SetWideString("in");
  Server.Enqueue(JsonAnswer(200, R"({"result":[5,"out",true,"extra"]})"));
  command->Execute();
  EXPECT_EQ(LastPath(), "C/M/null/in/");
  EXPECT_EQ(Slot(*command, 1).GetInt32(), 5);
  EXPECT_EQ(Slot(*command, 2).GetWideString(), "out");
  EXPECT_TRUE(Slot(*command, 3).GetBoolean());
  EXPECT_TRUE(Slot(*command, 0).IsNull()) << "in-parameters are not stored into";

  // One element serves every out parameter.
  Server.Enqueue(JsonAnswer(200, R"({"result":["8"]})"));
  command->Execute();
  EXPECT_EQ(Slot(*command, 1).GetInt32(), 8);
  EXPECT_EQ(Slot(*command, 2).GetWideString(), "8");
  EXPECT_TRUE(Slot(*command, 3).GetBoolean());

  // A short array fails at the parameter it cannot fill; earlier ones keep
  // their new values.
  Server.Enqueue(JsonAnswer(200, R"({"result":[6,"nuevo"]})"));
  EXPECT_THROW(command->Execute(), EArgumentOutOfRangeException);
  EXPECT_EQ(Slot(*command, 1).GetInt32(), 6);
  EXPECT_EQ(Slot(*command, 2).GetWideString(), "nuevo");
}

TEST_F(RestCommandTest, NullResultsInJSONAndTextSlots) {
  const std::vector<TRestParameterMetaData> jsonTable = {
      {"", Ret, TValueTypes::JSON, "TJSONObject"}};
  auto json = Command("GET", "C.J", jsonTable);
  Server.Enqueue(ResultAnswer("null"));
  json->Execute();
  EXPECT_FALSE(Slot(*json, 0).IsNull());
  ASSERT_NE(Slot(*json, 0).JSONValue(), nullptr);
  EXPECT_TRUE(Slot(*json, 0).GetJSONValue(true)->IsNull());

  auto text = Command("GET", "TQVRServerMethods.EchoString", kEchoString);
  Server.Enqueue(ResultAnswer("null"));
  text->Execute();
  EXPECT_TRUE(Slot(*text, 1).IsNull());
  EXPECT_EQ(Slot(*text, 1).GetWideString(), "");
  Server.Enqueue(ResultAnswer("\"uno\""));
  text->Execute();
  Server.Enqueue(ResultAnswer("null"));
  text->Execute();
  EXPECT_TRUE(Slot(*text, 1).IsNull());
  EXPECT_EQ(Slot(*text, 1).GetWideString(), "uno") << "the previous text stays";
  Server.Enqueue(ResultAnswer("true"));
  text->Execute();
  EXPECT_EQ(Slot(*text, 1).GetWideString(), "-1");
}

TEST_F(RestCommandTest, ASecondResultReplacesTheOwnedFirst) {
  const std::vector<TRestParameterMetaData> table = {{"", Ret, TValueTypes::JSON, "TJSONObject"}};
  auto command = Command("GET", "C.M", table);
  Server.Enqueue(ResultAnswer(R"({"n":1})"));
  command->Execute();
  TMaybeOwned<TJSONValue> first = Slot(*command, 0).GetJSONValue(true);
  EXPECT_FALSE(first.IsOwned());
  EXPECT_EQ(first->ToJSON(), R"({"n":1})");
  Server.Enqueue(ResultAnswer(R"({"n":2})"));
  command->Execute();  // releases the first (LeakSanitizer sees no leak)
  EXPECT_EQ(Slot(*command, 0).JSONValue()->ToJSON(), R"({"n":2})");

  // Handed to the caller, a result outlives the next execution.
  TMaybeOwned<TJSONValue> mine = Slot(*command, 0).GetJSONValue(false);
  EXPECT_TRUE(mine.IsOwned());
  Server.Enqueue(ResultAnswer(R"({"n":3})"));
  command->Execute();
  EXPECT_EQ(mine->ToJSON(), R"({"n":2})");
  EXPECT_EQ(Slot(*command, 0).JSONValue()->ToJSON(), R"({"n":3})");
}

TEST_F(RestCommandTest, AStreamResultTakesTheRawBodyOfAnAnswerWithoutResult) {
  const std::vector<TRestParameterMetaData> table = {{"", Ret, TValueTypes::STREAM, "TStream"}};
  auto command = Command("GET", "C.M", table);
  Server.Enqueue(test::BytesAnswer(200, std::string("\x01\x02no json", 9), "image/png"));
  command->Execute();
  TStream* stream = Slot(*command, 0).GetStream();
  ASSERT_NE(stream, nullptr);
  stream->SetPosition(0);
  EXPECT_EQ(ReadToEnd(*stream), std::string("\x01\x02no json", 9));
}

// ------------------------------------------------------- release list

TEST_F(RestCommandTest, TheReleaseListEmptiesAtTheNextPlainExecution) {
  auto command = Command("GET", "TQVRServerMethods.EchoString", kEchoString);
  auto counted = std::make_unique<TCounted>();
  TObject* raw = counted.get();
  EXPECT_EQ(command->FreeOnExecute(std::move(counted)), raw);
  EXPECT_EQ(command->FreeOnExecute(std::unique_ptr<TObject>(raw)), raw);
  EXPECT_EQ(command->FreeOnExecuteCount(), 1u) << "one entry per object";
  command->ExecuteCache();
  EXPECT_EQ(GReleased, 0) << "cache mode leaves the list alone";
  command->Execute();
  EXPECT_EQ(GReleased, 1);
  EXPECT_EQ(command->FreeOnExecuteCount(), 0u);

  command->FreeOnExecute(std::make_unique<TCounted>());
  command.reset();
  EXPECT_EQ(GReleased, 2) << "the command's destruction releases the rest";
}

// ------------------------------------------------------------- preparing

TEST_F(RestCommandTest, PreparingChoosesTheVerbOnceAndReleasesTheOldParameters) {
  struct TCase {
    std::vector<TRestParameterMetaData> Table;
    const char* Verb;
  };
  const TCase kCases[] = {
      {kEchoString, "GET"},
      {kActualizarEmpleado, "POST"},
      {kSubirAsistencia, "POST"},
      {{{"A", In, TValueTypes::JSON, "TJSONString"}}, "GET"},
      {{{"", Ret, TValueTypes::JSON, "TJSONObject"}}, "GET"},
      {{{"A", Out, TValueTypes::JSON, "TDataSetList"}}, "GET"},
      {{{"A", TParameterDirections::InOut, TValueTypes::TABLE, "TDataSet"}}, "POST"},
      {{}, "GET"},
  };
  for (const TCase& k : kCases) {
    TRestCommand command(Conn);
    command.Prepare(k.Table);
    EXPECT_EQ(command.RequestType(), k.Verb);
    EXPECT_EQ(command.Parameters()->Count(), static_cast<std::int32_t>(k.Table.size()));
  }

  TRestCommand command(Conn);
  EXPECT_EQ(command.Parameters(), nullptr);
  command.Prepare(kActualizarEmpleado);
  Slot(command, 0).SetJSONValue(std::make_unique<TJSONObject>());
  command.Prepare(kEchoString);  // the owned object goes (LeakSanitizer)
  EXPECT_EQ(command.RequestType(), "POST") << "a verb once set stays";
  TParameter& parameter = command.Parameters()->GetParameterByOrdinal(0);
  EXPECT_EQ(parameter.Name(), "Value");
  EXPECT_EQ(parameter.Ordinal(), 0);
  EXPECT_EQ(parameter.DataType(), TValueTypes::WideString);
  EXPECT_EQ(parameter.TypeName(), "string");
  EXPECT_EQ(&parameter.ConnectionHandler(), &command);
  EXPECT_EQ(command.Parameters()->GetParameterByOrdinal(1).ParameterDirection(), Ret);
  EXPECT_THROW(command.Parameters()->GetParameterByOrdinal(2), EArgumentOutOfRangeException);
}

TEST_F(RestCommandTest, PreparingFromACatalogue) {
  const TRestProxyMetaData catalogue{{
      {"Otra", {{"EchoString", {{"X", In, TValueTypes::INT32, "Integer"}}}}},
      {"tqvrservermethods",
       {{"ECHOSTRING", kEchoString},
        {"UpdateFicha", kActualizarEmpleado},
        {"AcceptFicha", {{"P", In, TValueTypes::INT32, "Integer"}}},
        {"CancelFicha", {}}}},
  }};
  struct TCase {
    const char* Text;
    const char* Verb;
    std::int32_t Count;  // -1: the name is refused
    const char* FirstName;
  };
  const TCase kCases[] = {
      {"TQVRServerMethods.EchoString", "GET", 2, "Value"},
      {"TQVRServerMethods.\"EchoString\"", "POST", 2, "Value"},
      {"TQVRServerMethods.Ficha", "POST", 2, "ADatos"},
      {"TQVRServerMethods.Ficha", "PUT", 1, "P"},
      {"TQVRServerMethods.Ficha", "DELETE", 0, ""},
      {"TQVRServerMethods.\"Ficha\"", "POST", 0, ""},
      {"TQVRServerMethods.Nada", "GET", 0, ""},
      {"Otra.EchoString", "GET", 1, "X"},
      {"\"Sin\"Punto", "GET", -1, ""},
  };
  for (const TCase& k : kCases) {
    TRestCommand command(Conn);
    command.SetText(k.Text);
    command.SetRequestType(k.Verb);
    if (k.Count < 0) {
      try {
        command.Prepare(catalogue);
        FAIL() << k.Text;
      } catch (const TRestException& e) {
        EXPECT_EQ(e.Message(), std::string("Invalid server method name: ") + k.Text);
      }
      continue;
    }
    command.Prepare(catalogue);
    ASSERT_EQ(command.Parameters()->Count(), k.Count) << k.Text << " " << k.Verb;
    if (k.Count > 0) {
      EXPECT_EQ(command.Parameters()->GetParameterByOrdinal(0).Name(), k.FirstName) << k.Text;
    }
    EXPECT_EQ(command.Text(), k.Text) << "the text is sent as written";
  }
}

TEST_F(RestCommandTest, PreparingFromTheServersCatalogueKeepsTheSession) {
  // What the server answers for Admin.GetServerMethodParameters
  // (docs/server.md), with a session id of its own.
  const std::string catalogue =
      R"([{"name":"TQVRServerMethods","methods":[{"name":"EchoString","parameters":[)"
      R"({"name":"Value","direction":1,"type":26,"typeName":"string"},)"
      R"({"name":"","direction":4,"type":26,"typeName":"string"}]},)"
      R"({"name":"UpdateFicha","parameters":[)"
      R"({"name":"ADatos","direction":1,"type":37,"typeName":"TJSONObject"}]}]}])";
  struct TCase {
    const char* Text;
    const char* Verb;
    std::int32_t Count;
    const char* PreparedVerb;
  };
  const TCase kCases[] = {
      {"tqvrservermethods.echostring", "", 2, "GET"},
      {"TQVRServerMethods.Ficha", "POST", 1, "POST"},
      {"TQVRServerMethods.\"Ficha\"", "", 0, "GET"},
  };
  for (const TCase& k : kCases) {
    Conn.SetSessionID("S1");
    Server.Enqueue(ResultAnswer(catalogue).WithSessionID("S2"));
    TRestCommand command(Conn);
    command.SetText(k.Text);
    command.SetRequestType(k.Verb);
    command.Prepare();
    ASSERT_EQ(command.Parameters()->Count(), k.Count) << k.Text;
    EXPECT_EQ(command.RequestType(), k.PreparedVerb) << k.Text;
    const auto request = Server.LastRequest();
    EXPECT_EQ(request.Method, "GET");
    EXPECT_EQ(request.Target, "/rpc/rest/Admin/GetServerMethodParameters/");
    EXPECT_EQ(request.Header("Pragma"), "sessionid=S1") << "the load runs in the session";
    EXPECT_EQ(Conn.SessionID(), "S1") << "the load's own session id is not kept";
  }

  // Also when the load fails: a refusal (which empties the session id of
  // the call itself), no catalogue, or one of another form.
  struct TFailure {
    test::TStandInAnswer Answer;
    const char* Message;
  };
  const TFailure kFailures[] = {
      {ErrorAnswer(500, "no"), "HTTP/1.1 500 Internal Server Error"},
      {JsonAnswer(200, "<html>"), "The server's answer holds no method catalogue"},
      {ResultAnswer("{}"), "The method catalogue is not valid: it is not a JSON array"},
      {ResultAnswer(R"([{"name":"C","methods":[{"name":"M"}]}])"),
       "The method catalogue is not valid: C.M has no array \"parameters\""},
  };
  for (const TFailure& k : kFailures) {
    Conn.SetSessionID("S1");
    Server.Enqueue(test::TStandInAnswer(k.Answer).WithSessionID("S2"));
    TRestCommand command(Conn);
    command.SetText("C.M");
    try {
      command.Prepare();
      ADD_FAILURE() << k.Message;
    } catch (const TRestException& AError) {
      EXPECT_TRUE(AError.Message().starts_with(k.Message)) << AError.Message();
    }
    EXPECT_EQ(command.Parameters(), nullptr) << k.Message;
    EXPECT_EQ(Conn.SessionID(), "S1") << k.Message;
  }

  // A name without a dot is refused before the catalogue is asked for.
  Server.ClearRequests();
  TRestCommand command(Conn);
  command.SetText("\"SinPunto\"");
  try {
    command.Prepare();
    ADD_FAILURE() << "no exception";
  } catch (const TRestException& AError) {
    EXPECT_EQ(AError.Message(), "Invalid server method name: \"SinPunto\"");
  }
  EXPECT_EQ(Server.RequestCount(), 0u);
}

// -------------------------------------------------------------- failures

TEST_F(RestCommandTest, ARefusedLoginSendsNothingAndRunsTheAfterStep) {
  auto command = Command("GET", "TQVRServerMethods.EchoString", kEchoString);
  command->Execute();
  ASSERT_TRUE(command->ResultStored());
  int after = 0;
  Conn.SetOnAfterExecute([&](TObject*) { ++after; });
  Conn.SetLoginPrompt(true);
  Conn.SetOnLogin([](TObject*, TRestLoginProperties&, bool& ACancel) { ACancel = true; });
  EXPECT_THROW(command->Execute(), EAbort);
  EXPECT_EQ(Server.RequestCount(), 1u) << "only the first execution sent";
  EXPECT_EQ(after, 1);
  EXPECT_FALSE(command->ResultStored()) << "the earlier answer is not this execution's";
}

TEST_F(RestCommandTest, AFailedExchangeForgetsTheSessionAndTheCommandStaysUsable) {
  auto command = Command("GET", "TQVRServerMethods.EchoString", kEchoString);
  Slot(*command, 0).SetWideString("kept");
  Conn.SetSessionID("S1");
  int after = 0;
  Conn.SetOnAfterExecute([&](TObject*) { ++after; });
  Server.Enqueue(ErrorAnswer(500, "caido"));
  try {
    command->Execute();
    FAIL() << "no exception";
  } catch (const TRestProtocolException& e) {
    EXPECT_EQ(e.Status(), 500);
    EXPECT_NE(e.Message().find(":\r\ncaido"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(Conn.SessionID(), "");
  EXPECT_EQ(after, 1);

  Server.Enqueue(ResultAnswer("\"bien\"").WithSessionID("S2"));
  command->Execute();
  EXPECT_EQ(LastPath(), "TQVRServerMethods/EchoString/kept/");
  EXPECT_FALSE(Server.LastRequest().HasHeader("Pragma"));
  EXPECT_EQ(Slot(*command, 1).GetWideString(), "bien");
  EXPECT_EQ(Conn.SessionID(), "S2");
}

TEST_F(RestCommandTest, AConversionErrorKeepsTheSession) {
  const std::vector<TRestParameterMetaData> table = {{"A", Out, TValueTypes::WideString, "string"},
                                                     {"B", Out, TValueTypes::INT32, "Integer"}};
  auto command = Command("GET", "C.M", table);
  Server.Enqueue(ResultAnswer("\"nuevo\",\"x\"").WithSessionID("S3"));
  try {
    command->Execute();
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'x' is not a valid integer value");
  }
  EXPECT_EQ(Conn.SessionID(), "S3");
  EXPECT_EQ(Slot(*command, 0).GetWideString(), "nuevo");
}

TEST_F(RestCommandTest, AnUnknownVerbIsRefusedBeforeAnythingIsSent) {
  auto command = Command("PATCH", "TQVRServerMethods.EchoString", kEchoString);
  try {
    command->Execute();
    FAIL() << "no exception";
  } catch (const TRestException& e) {
    EXPECT_EQ(e.Message(), "Unexpected request type: PATCH.");
  }
  EXPECT_EQ(Server.RequestCount(), 0u);
}

TEST_F(RestCommandTest, ABodyParameterWithoutAJSONFormIsRefused) {
  const std::vector<TRestParameterMetaData> table = {{"T", In, TValueTypes::TABLE, "TDataSet"}};
  auto command = Command("POST", "C.M", table);
  try {
    command->Execute();
    FAIL() << "no exception";
  } catch (const TValueError& e) {
    EXPECT_EQ(e.Message(), "Cannot convert value type TValueTypes.TABLE into a JSON value");
  }
  EXPECT_EQ(Server.RequestCount(), 0u);
}

TEST_F(RestCommandTest, AnswersOfAnyShapeEndInAResultOrAClearException) {
  const std::vector<TRestParameterMetaData> table = {{"A", Out, TValueTypes::BOOL, "Boolean"},
                                                     {"B", Out, TValueTypes::INT32, "Integer"},
                                                     {"C", Out, TValueTypes::JSON, "TJSONObject"},
                                                     {"D", Out, TValueTypes::WideString, "string"}};
  auto command = Command("GET", "C.M", table);
  const std::string deep(100000, '[');
  const std::vector<std::string> bodies = {
      "{\"result\":[\"quizas\",1,{},\"x\"]}",
      "{\"result\":[true,1E400,{},\"x\"]}",
      "{\"result\":[true,-99999999999999999999,{},\"x\"]}",
      "{\"result\":[{},1,2,3]}",
      "{\"result\":[true,[],{},\"x\"]}",
      "{\"result\":[true,1,null,{\"a\":[1,2,{\"b\":null}]}]}",
      "{\"result\":" + deep + "}",
      deep,
      "{\"result\":[\"\xFF\xFE\",0,1e5,\"\\ud800\"]}",
      std::string("{\"result\":[true,1,{},\"a\0b\"]}", 29),
  };
  for (const std::string& body : bodies) {
    Server.Enqueue(JsonAnswer(200, body));
    try {
      command->Execute();
    } catch (const Exception&) {
      // Any of the layer's exceptions; the command must stay usable.
    }
    Server.Enqueue(ResultAnswer("false,2,{\"ok\":1},\"fin\""));
    command->Execute();
    EXPECT_EQ(Slot(*command, 1).GetInt32(), 2) << body.substr(0, 60);
    EXPECT_EQ(Slot(*command, 3).GetWideString(), "fin") << body.substr(0, 60);
  }
}

}  // namespace
}  // namespace qvr::rest
