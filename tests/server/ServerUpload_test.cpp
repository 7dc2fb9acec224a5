// SubirAsistencia on qvr-server: an upload of 10,000 records read back from
// the database by count and content, all or nothing, and the uploads it
// refuses.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "rest/JSONText.h"
#include "rest/RestExceptions.h"
#include "server/ServerCalls.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

// Read access to the server's database beside the running server (WAL lets
// a reader in while it runs).
class TDatabaseReader {
 public:
  explicit TDatabaseReader(const std::string& APath) {
    EXPECT_EQ(sqlite3_open_v2(APath.c_str(), &FDb, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(FDb, 5000);
  }
  ~TDatabaseReader() { sqlite3_close(FDb); }
  // Every row of ASql, its cells joined by "|".
  std::vector<std::string> Rows(const std::string& ASql) {
    std::vector<std::string> rows;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(FDb, ASql.c_str(), -1, &statement, nullptr), SQLITE_OK) << ASql;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        if (i > 0) row += "|";
        const auto* text = sqlite3_column_text(statement, i);
        row += text == nullptr ? "NULL" : reinterpret_cast<const char*>(text);
      }
      rows.push_back(row);
    }
    sqlite3_finalize(statement);
    return rows;
  }
  std::string One(const std::string& ASql) {
    const auto rows = Rows(ASql);
    return rows.empty() ? "" : rows[0];
  }

 private:
  sqlite3* FDb = nullptr;
};

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
  auto list = std::make_unique<rest::TDataSetList>();
  auto table = std::make_unique<data::TMemTable>();
  table->FieldDefs().Add("codigo", data::TFieldType::ftInteger);  // names without regard to case
  table->FieldDefs().Add("FechaHora", data::TFieldType::ftDateTime);
  table->CreateDataSet();
  table->AppendRecord({1001, 45455.5});  // 2024-06-12 12:00:00
  list->AddDataSet("Kiosco", std::move(table));
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
  auto bad = std::make_unique<data::TMemTable>();
  bad->FieldDefs().Add("Codigo", data::TFieldType::ftInteger);
  bad->FieldDefs().Add("FechaHora", data::TFieldType::ftString);
  bad->CreateDataSet();
  bad->AppendRecord({7, "2024-01-01 08:00:00"});
  bad->AppendRecord({8, "2024-13-01 08:00:00"});
  list->AddDataSet("Malos", std::move(bad));
  std::string message;
  EXPECT_EQ(Status(calls::SubirAsistencia("a.dat", MarshalList(*list)), &message), 400);
  EXPECT_NE(message.find("Malos"), std::string::npos) << message;
  EXPECT_NE(message.find("row 2"), std::string::npos) << message;
  EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia"), "0");
}

TEST_F(ServerUploadTest, WhatIsNoAttendanceListIsRefused) {
  auto withoutDate = std::make_unique<rest::TDataSetList>();
  auto table = std::make_unique<data::TMemTable>();
  table->FieldDefs().Add("Codigo", data::TFieldType::ftInteger);
  table->CreateDataSet();
  table->AppendRecord({1});
  withoutDate->AddDataSet("SinFecha", std::move(table));

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
  auto list = std::make_unique<rest::TDataSetList>();
  auto table = std::make_unique<data::TMemTable>();
  table->FieldDefs().Add("Codigo", data::TFieldType::ftInteger);
  table->FieldDefs().Add("FechaHora", data::TFieldType::ftString);
  table->CreateDataSet();
  table->AppendRecord({1, std::string(6 << 20, 'a')});
  list->AddDataSet("Bomba", std::move(table));
  const std::string body = MarshalList(*list);
  ASSERT_LT(body.size(), 100000u);
  std::string message;
  EXPECT_EQ(Status(calls::SubirAsistencia("b.dat", body), &message), 413);
  EXPECT_NE(message.find("inflated"), std::string::npos) << message;
}

}  // namespace
}  // namespace qvr::test
