// SubirAsistencia on qvr-server: an upload of 10,000 records read back from
// the database by count and content, all or nothing, and the uploads it
// refuses.
#include <gtest/gtest.h>

#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"
#include "server/DatabaseReader.h"
#include "server/ServerCalls.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

// A list of one dataset AName with AColumns and ARows.
std::unique_ptr<rest::TDataSetList> OneDataSet(
    const std::string& AName, const std::vector<data::TFieldDef>& AColumns,
    const std::vector<std::vector<data::TValue>>& ARows) {
  auto table = std::make_unique<data::TMemTable>();
  for (const auto& column : AColumns) table->FieldDefs().Add(column.Name, column.DataType);
  table->CreateDataSet();
  for (const auto& row : ARows) table->AppendRecord(row);
  auto list = std::make_unique<rest::TDataSetList>();
  list->AddDataSet(AName, std::move(table));
  return list;
}

class ServerUploadTest : public ::testing::Test {
 protected:
  TServerProcess Server{{"--max-upload-inflated", "4M"}};
  TServerClient Client{Server.Port()};
  TDatabaseReader Db{Server.DatabasePath()};

  int Status(const TMethodRequest& ARequest, std::string* AMessage = nullptr) {
    try {
      Client.Call(ARequest);
      return 200;
    } catch (const rest::TRestProtocolException& AError) {
      if (AMessage != nullptr) *AMessage = AError.ResponseText();
      return AError.Status();
    }
  }
};

TEST_F(ServerUploadTest, TenThousandRecordsAreStoredOnceEach) {
  const auto list = AttendanceList(2, 5000, 1);
  const auto stored =
      Client.Result(calls::SubirAsistencia("reloj 3/2024-06.dat", MarshalList(*list)));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->Kind(), rest::TJSONValue::TKind::True);

  EXPECT_EQ(Db.One("SELECT count(*), count(DISTINCT codigo) FROM asistencia"), "10000|10000");
  EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia WHERE archivo = 'reloj 3/2024-06.dat' "
                   "AND usuario = 'kiosco'"),
            "10000");
  // Row by row the content of the upload, in order.
  const auto rows =
      Db.Rows("SELECT conjunto, codigo, fecha_hora, id_reloj, tipo FROM asistencia ORDER BY id");
  ASSERT_EQ(rows.size(), 10000u);
  std::size_t i = 0;
  for (int d = 0; d < list->Count(); ++d) {
    auto& dataset = list->DataSet(d);
    for (dataset.First(); !dataset.Eof(); dataset.Next(), ++i) {
      const std::string expected = list->Names()[static_cast<std::size_t>(d)] + "|" +
                                   dataset.FieldByName("Codigo").AsString() + "|" +
                                   dataset.FieldByName("FechaHora").AsString() + "|" +
                                   dataset.FieldByName("IDReloj").AsString() + "|" +
                                   dataset.FieldByName("Tipo").AsString();
      ASSERT_EQ(rows[i], expected) << i;
    }
  }
}

TEST_F(ServerUploadTest, DateTimeColumnsAndMissingOptionalColumnsAreAccepted) {
  // Column names without regard to case; 45455.5 is 2024-06-12 12:00:00.
  const auto list = OneDataSet(
      "Kiosco",
      {{"codigo", data::TFieldType::ftInteger}, {"FechaHora", data::TFieldType::ftDateTime}},
      {{1001, 45455.5}});
  ASSERT_EQ(Client.Result(calls::SubirAsistencia("k.dat", MarshalList(*list)))->Kind(),
            rest::TJSONValue::TKind::True);
  EXPECT_EQ(Db.One("SELECT codigo, fecha_hora, id_reloj, tipo FROM asistencia"),
            "1001|2024-06-12 12:00:00|NULL|NULL");
}

TEST_F(ServerUploadTest, AnAbsentListStoresNothingAndAnswersFalse) {
  const auto stored = Client.Result(calls::SubirAsistencia("vacio.dat", "null"));
  EXPECT_EQ(stored->Kind(), rest::TJSONValue::TKind::False);
  // An empty but present list stores nothing either, and succeeds.
  const std::string empty =
      R"({"type":"Data.DataSetJSONReflect.TDataSetList","id":1,"fields":{"FDataSets":)"
      R"({"type":"System.JSON.TJSONObject","id":2,"fields":{"FMembers":[],"FOwned":true}}}})";
  EXPECT_EQ(Client.Result(calls::SubirAsistencia("vacio.dat", empty))->Kind(),
            rest::TJSONValue::TKind::True);
  EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia"), "0");
}

TEST_F(ServerUploadTest, OneBadRowRefusesTheWholeUpload) {
  auto list = AttendanceList(1, 100, 1);
  auto bad = OneDataSet(
      "Malos", {{"Codigo", data::TFieldType::ftInteger}, {"FechaHora", data::TFieldType::ftString}},
      {{7, "2024-01-01 08:00:00"}, {8, "2024-13-01 08:00:00"}});
  auto badRows = bad->ExtractDataSets();
  list->AddDataSet(badRows[0].first, std::move(badRows[0].second));
  std::string message;
  EXPECT_EQ(Status(calls::SubirAsistencia("a.dat", MarshalList(*list)), &message), 400);
  EXPECT_NE(message.find("Malos"), std::string::npos) << message;
  EXPECT_NE(message.find("row 2"), std::string::npos) << message;
  EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia"), "0");
}

TEST_F(ServerUploadTest, WhatIsNoAttendanceListIsRefused) {
  const auto withoutDate = OneDataSet("SinFecha", {{"Codigo", data::TFieldType::ftInteger}}, {{1}});

  const std::string marshalledObject =
      R"({"type":"System.JSON.TJSONObject","id":1,"fields":{"FMembers":[],"FOwned":true}})";
  const std::string badBlob =
      R"({"type":"Data.DataSetJSONReflect.TDataSetList","id":1,"fields":{"FDataSets":)"
      R"({"type":"System.JSON.TJSONObject","id":2,"fields":{"FMembers":[)"
      R"({"type":"System.JSON.TJSONPair","id":3,"fields":{)"
      R"("FJsonString":{"type":"System.JSON.TJSONString","id":4,"fields":{"FValue":"X","FIsNull":false,"FOwned":true}},)"
      R"("FJsonValue":{"type":"System.JSON.TJSONString","id":5,"fields":{"FValue":"eJzzSM3JyVcozy/KSQEAGKsEPQ==AAAA","FIsNull":false,"FOwned":true}},)"
      R"("FOwned":true}}],"FOwned":true}}}})";
  const struct {
    std::string Body;
    int Status;
  } kCases[] = {
      {MarshalList(*withoutDate), 400},
      {marshalledObject, 400},
      {"{}", 400},
      {badBlob, 400},
      {"[]", 400},
      {"\"lista\"", 400},
  };
  for (const auto& c : kCases) {
    std::string message;
    EXPECT_EQ(Status(calls::SubirAsistencia("x.dat", c.Body), &message), c.Status) << c.Body;
    EXPECT_NE(message.find("\"error\":"), std::string::npos) << message;
  }
  EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia"), "0");
}

TEST_F(ServerUploadTest, BlobsThatInflateBeyondTheLimitAreRefusedBeforeDecoding) {
  // 6 MB of one letter compress to a few kilobytes.
  const auto list = OneDataSet(
      "Bomba", {{"Codigo", data::TFieldType::ftInteger}, {"FechaHora", data::TFieldType::ftString}},
      {{1, std::string(6 << 20, 'a')}});
  const std::string body = MarshalList(*list);
  ASSERT_LT(body.size(), 100000u);
  std::string message;
  EXPECT_EQ(Status(calls::SubirAsistencia("b.dat", body), &message), 413);
  EXPECT_NE(message.find("inflated"), std::string::npos) << message;
}

}  // namespace
}  // namespace qvr::test
