// SubirAsistencia on qvr-server: an upload of 10,000 records read back from
// the database by count and content, all or nothing, the uploads it refuses,
// and the inflation bound, held while decoding whatever form the blobs take
// and without the server's memory growing past it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "data/BinStorage.h"
#include "platform/Base64Encoding.h"
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

// ABytes as one zlib stream written by zlib at ALevel, its header's second
// byte then set to AHeader. The four headers zlib writes (78 01, 78 5E,
// 78 9C, 78 DA) differ only in the level they announce, which no reader
// needs, so each is valid on any stream.
std::string ZlibStream(std::string_view ABytes, int ALevel, unsigned char AHeader) {
  std::string out(compressBound(static_cast<uLong>(ABytes.size())), '\0');
  uLongf size = static_cast<uLongf>(out.size());
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(ABytes.data()), static_cast<uLong>(ABytes.size()),
                ALevel) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  out.resize(size);
  out[1] = static_cast<char>(AHeader);
  return out;
}

// The marshalled text of AList with the blobs of its datasets replaced by
// ABlobs, in list order (the document's fixed shape: docs/dataset-format.md,
// section 5).
std::string WithBlobs(const rest::TDataSetList& AList, std::vector<std::string> ABlobs) {
  const auto fields = [](rest::TJSONValue* AForm) {
    return AForm->AsObject()->GetValue("fields")->AsObject();
  };
  auto doc = rest::ParseJSON(MarshalList(AList));
  rest::TJSONValue* list = fields(doc.get())->GetValue("FDataSets");
  const rest::TJSONArray& pairs = *fields(list)->GetValue("FMembers")->AsArray();
  for (std::size_t i = 0; i < ABlobs.size(); ++i) {
    rest::TJSONValue* value = fields(pairs.Items(i))->GetValue("FJsonValue");
    static_cast<rest::TJSONString*>(fields(value)->GetValue("FValue"))
        ->SetValue(std::move(ABlobs[i]));
  }
  return rest::WriteJSON(*doc);
}

// The blob of the dataset that AStorage holds, zlib at ALevel (header
// AHeader), base64 after ABefore.
std::string Blob(std::string_view AStorage, int ALevel, unsigned char AHeader,
                 std::string_view ABefore = {}) {
  return std::string(ABefore) +
         TBase64Encoding::Base64().Encode(ZlibStream(AStorage, ALevel, AHeader));
}

// One valid attendance row whose ignored column "Relleno" holds APadding
// bytes, so that its dataset inflates to a little more than that.
std::unique_ptr<rest::TDataSetList> PaddedRow(const std::string& AName, std::size_t APadding) {
  return OneDataSet(AName,
                    {{"Codigo", data::TFieldType::ftInteger},
                     {"FechaHora", data::TFieldType::ftString},
                     {"Relleno", data::TFieldType::ftString}},
                    {{1, "2024-06-12 08:00:00", std::string(APadding, 'a')}});
}

// The peak resident memory (VmHWM) of the qvr-server process serving the
// data folder AFolder, in bytes; 0 when there is none.
std::size_t ServerPeakMemory(const std::string& AFolder) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
    std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    if (args.find("qvr-server") == std::string::npos ||
        args.find('\0' + AFolder + '\0') == std::string::npos) {
      continue;
    }
    std::ifstream status(entry.path() / "status");
    for (std::string line; std::getline(status, line);) {
      std::istringstream fields(line);
      std::string name;
      std::size_t kilobytes = 0;
      if (fields >> name >> kilobytes && name == "VmHWM:") return kilobytes * 1024;
    }
  }
  return 0;
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

// FechaHora is read as FechaAlta is: ASCII digits in fixed widths, a day of
// the calendar and a time of day from 00:00:00 to 23:59:59. Each refused text
// names dataset, row and column, and the upload stores nothing.
TEST_F(ServerUploadTest, FechaHoraIsACalendarDateAndATimeOfDay) {
  const struct {
    const char* Text;
    const char* Stored;  // null: refused
  } kCases[] = {
      {"2024-02-29 23:59:59", "2024-02-29 23:59:59"},
      {"2000-02-29 00:00:00", "2000-02-29 00:00:00"},
      {"2024-06-12T08:30:05", "2024-06-12 08:30:05"},
      {" 202-01-01 10:00:00", nullptr},
      {"+202-01-01 10:00:00", nullptr},
      {"-202-01-01 10:00:00", nullptr},
      {"2026-02-31 10:00:00", nullptr},
      {"2023-02-29 10:00:00", nullptr},
      {"1900-02-29 10:00:00", nullptr},
      {"2024-04-31 10:00:00", nullptr},
      {"2024-01-01 24:00:00", nullptr},
      {"2024-01-01 10:60:00", nullptr},
      {"2024-01-01 10:00:60", nullptr},
      {"2024-01-01 1:00:00 ", nullptr},
      {"2024-01-01x10:00:00", nullptr},
      {"2024-01-01 10:00", nullptr},
      {"2024-01-01 10:00:00Z", nullptr},
      {"0000-01-01 10:00:00", nullptr},
      {"2024-1-01 10:00:00 ", nullptr},
  };
  for (const auto& c : kCases) {
    const std::string before = Db.One("SELECT count(*) FROM asistencia");
    const auto list = OneDataSet(
        "Casos",
        {{"Codigo", data::TFieldType::ftInteger}, {"FechaHora", data::TFieldType::ftString}},
        {{1, "2024-01-01 08:00:00"}, {2, c.Text}});
    std::string message;
    const int status = Status(calls::SubirAsistencia("f.dat", MarshalList(*list)), &message);
    if (c.Stored != nullptr) {
      EXPECT_EQ(status, 200) << c.Text << ": " << message;
      EXPECT_EQ(Db.One("SELECT fecha_hora FROM asistencia ORDER BY id DESC LIMIT 1"), c.Stored);
    } else {
      EXPECT_EQ(status, 400) << c.Text;
      for (const char* part : {"'Casos'", "row 2", "FechaHora"}) {
        EXPECT_NE(message.find(part), std::string::npos) << c.Text << ": " << message;
      }
      EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia"), before) << c.Text;
    }
  }
}

// Codigo, IDReloj and Tipo hold integers: an integer column's value or the
// decimal text of a String column. Anything else is the client's fault (400
// naming dataset, row and column), never the server's (500).
TEST_F(ServerUploadTest, IntegerColumnsTakeIntegersOnly) {
  using data::TFieldType;
  const struct {
    const char* Column;
    TFieldType Type;
    data::TValue Value;
    const char* Stored;  // the column as stored; null: refused
  } kCases[] = {
      {"Codigo", TFieldType::ftString, "1234", "1234"},
      {"Codigo", TFieldType::ftString, "-7", "-7"},
      {"Codigo", TFieldType::ftLargeint, std::int64_t{1} << 40, "1099511627776"},
      {"IDReloj", TFieldType::ftString, "3", "3"},
      {"Tipo", TFieldType::ftInteger, 2, "2"},
      {"Codigo", TFieldType::ftString, "abc", nullptr},
      {"Codigo", TFieldType::ftString, "1.5", nullptr},
      {"Codigo", TFieldType::ftString, " 7", nullptr},
      {"Codigo", TFieldType::ftString, "7 ", nullptr},
      {"Codigo", TFieldType::ftString, "+7", nullptr},
      {"Codigo", TFieldType::ftString, "0x10", nullptr},
      {"Codigo", TFieldType::ftString, "", nullptr},
      {"Codigo", TFieldType::ftString, "99999999999999999999", nullptr},
      {"Codigo", TFieldType::ftFloat, 1.5, nullptr},
      {"Codigo", TFieldType::ftBoolean, true, nullptr},
      {"IDReloj", TFieldType::ftString, "x", nullptr},
      {"IDReloj", TFieldType::ftFloat, 2.0, nullptr},
      {"Tipo", TFieldType::ftString, "entrada", nullptr},
      {"Tipo", TFieldType::ftDateTime, 45455.5, nullptr},
  };
  for (const auto& c : kCases) {
    const std::string column = c.Column;
    const std::string before = Db.One("SELECT count(*) FROM asistencia");
    // The column under test with its type and value, the others as a client
    // sends them.
    std::vector<data::TFieldDef> columns = {{"FechaHora", TFieldType::ftString}};
    std::vector<data::TValue> row = {"2024-01-01 08:00:00"};
    for (const char* name : {"Codigo", "IDReloj", "Tipo"}) {
      const bool tested = column == name;
      columns.push_back({name, tested ? c.Type : TFieldType::ftInteger});
      row.push_back(tested ? c.Value : data::TValue(5));
    }
    const auto list = OneDataSet("Enteros", columns, {row});
    std::string message;
    const int status = Status(calls::SubirAsistencia("e.dat", MarshalList(*list)), &message);
    if (c.Stored != nullptr) {
      EXPECT_EQ(status, 200) << column << " " << message;
      const std::string sqlColumn = column == "IDReloj" ? "id_reloj"
                                    : column == "Tipo"  ? "tipo"
                                                        : "codigo";
      EXPECT_EQ(Db.One("SELECT " + sqlColumn + " FROM asistencia ORDER BY id DESC LIMIT 1"),
                c.Stored);
    } else {
      EXPECT_EQ(status, 400) << column << " " << message;
      for (const std::string& part : {std::string("'Enteros'"), std::string("row 1"), column}) {
        EXPECT_NE(message.find(part), std::string::npos) << column << ": " << message;
      }
      EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia"), before) << column;
    }
  }
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

TEST_F(ServerUploadTest, BlobsThatInflateBeyondTheLimitAreRefused) {
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

// The bound is the decoder's own: it holds for any zlib stream the decoder
// reads, whatever level made it, whatever level its header announces and
// whatever stands before the base64 text (decoding skips what is not base64).
TEST_F(ServerUploadTest, TheLimitHoldsWhateverFormTheBlobTakes) {
  const struct {
    int Level;
    unsigned char Header;
    const char* Before;
  } kForms[] = {
      {1, 0x01, ""}, {4, 0x5E, ""}, {6, 0x9C, ""},     {9, 0xDA, ""},   {9, 0x01, ""},
      {1, 0xDA, ""}, {6, 0x5E, ""}, {6, 0x9C, "\r\n"}, {9, 0xDA, "\n"}, {1, 0x01, " "},
  };
  // The limit is 4M (4194304 bytes).
  const std::string beyond =
      data::TBinStorage::SaveToBytes(PaddedRow("Fuera", 5 << 20)->DataSet(0));
  const std::string within =
      data::TBinStorage::SaveToBytes(PaddedRow("Dentro", 3 << 20)->DataSet(0));
  const auto shape = PaddedRow("Forma", 0);
  for (const auto& form : kForms) {
    char where[64];
    std::snprintf(where, sizeof where, "level %d, header 78 %02X, %zu characters before",
                  form.Level, static_cast<unsigned>(form.Header), std::strlen(form.Before));
    SCOPED_TRACE(where);
    const auto blob = [&](const std::string& AStorage) {
      return Blob(AStorage, form.Level, form.Header, form.Before);
    };
    const auto count = [&] { return std::stoi(Db.One("SELECT count(*) FROM asistencia")); };
    const int stored = count();
    std::string message;
    EXPECT_EQ(Status(calls::SubirAsistencia("f.dat", WithBlobs(*shape, {blob(beyond)})), &message),
              413);
    EXPECT_NE(message.find("4194304 bytes once inflated"), std::string::npos) << message;
    EXPECT_EQ(count(), stored);

    EXPECT_EQ(Status(calls::SubirAsistencia("d.dat", WithBlobs(*shape, {blob(within)}))), 200);
    EXPECT_EQ(count(), stored + 1);
  }
}

TEST_F(ServerUploadTest, TheBlobsOfOneUploadShareTheLimit) {
  // Two datasets of 2.5 MB each: either alone is within 4M, both are not.
  const std::string storage =
      data::TBinStorage::SaveToBytes(PaddedRow("Mitad", 5 << 19)->DataSet(0));
  auto list = PaddedRow("Primero", 0);
  auto second = PaddedRow("Segundo", 0)->ExtractDataSets();
  list->AddDataSet(second[0].first, std::move(second[0].second));
  const std::string one = Blob(storage, 9, 0xDA);
  EXPECT_EQ(Status(calls::SubirAsistencia("dos.dat", WithBlobs(*list, {one, one}))), 413);
  EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia"), "0");
  // Each in an upload of its own is stored.
  EXPECT_EQ(Status(calls::SubirAsistencia("uno.dat", WithBlobs(*PaddedRow("Uno", 0), {one}))), 200);
  EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia"), "1");
}

// A blob of 128 MiB of zeros in under 200 kB of body: refused, and the server's
// peak memory grows by far less than the blob, because inflation stops at
// the limit instead of being checked after it.
TEST_F(ServerUploadTest, AHostileBlobDoesNotGrowTheServersMemoryPastTheLimit) {
  ASSERT_EQ(Status(calls::EchoString("warm")), 200);
  const std::size_t before = ServerPeakMemory(Server.DataFolder());
  ASSERT_GT(before, 0u);
  const std::size_t kInflated = std::size_t{128} << 20;
  std::string stream;
  {
    const std::string zeros(kInflated, '\0');
    stream = ZlibStream(zeros, 9, 0xDA);
  }
  const std::string body =
      WithBlobs(*PaddedRow("Ceros", 0), {TBase64Encoding::Base64().Encode(stream)});
  EXPECT_EQ(Status(calls::SubirAsistencia("ceros.dat", body)), 413);
  const std::size_t after = ServerPeakMemory(Server.DataFolder());
  EXPECT_LT(after - before, std::size_t{32} << 20) << before << " -> " << after;
  EXPECT_EQ(Db.One("SELECT count(*) FROM asistencia"), "0");
}

}  // namespace
}  // namespace qvr::test
