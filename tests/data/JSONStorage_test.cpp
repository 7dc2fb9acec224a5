// The JSON storage format: its document shape, round trips and damaged text.
#include "data/JSONStorage.h"

#include <gtest/gtest.h>

#include <cmath>

#include "data/DataSetSamples.h"

namespace qvr::data {
namespace {

TEST(JSONStorage, DocumentShape) {
  TAdaptedDataSet t;
  t.SetName("T");
  t.FieldDefs().Add("I", TFieldType::ftInteger, true);
  t.FieldDefs().Add("S", TFieldType::ftString);
  t.FieldDefs().Add("B", TFieldType::ftBytes);
  t.FieldDefs().Add("F", TFieldType::ftFloat);
  t.Open();
  t.AppendRecord({1, "a\"b", TBytes{0x00, 0xAB}, 0.5});
  t.AppendRecord({2, nullptr, nullptr, std::nan("")});
  EXPECT_EQ(
      R"({"name":"T","fields":[{"name":"I","type":"Integer","required":true},)"
      R"({"name":"S","type":"String","required":false},{"name":"B","type":"Bytes","required":false},)"
      R"({"name":"F","type":"Float","required":false}],"rows":[[1,"a\"b","00ab",0.5],[2,null,null,"NaN"]]})",
      TJSONStorage::SaveToText(t));
  TAdaptedDataSet back;
  TJSONStorage::Load(back, TJSONStorage::SaveToText(t));
  back.SetRecNo(2);
  EXPECT_TRUE(std::isnan(back.Fields(3).AsFloat()));
}

TEST(JSONStorage, RoundTripOfEveryType) {
  auto t = test::MakeEveryTypeTable();
  TAdaptedDataSet back;
  TJSONStorage::Load(back, TJSONStorage::SaveToText(*t));
  ASSERT_EQ(t->ColumnDefs(), back.ColumnDefs());
  ASSERT_EQ(t->RecordCount(), back.RecordCount());
  for (int r = 0; r < t->RecordCount(); ++r) {
    for (int c = 0; c < t->FieldCount(); ++c) EXPECT_EQ(t->Value(r, c), back.Value(r, c));
  }
}

TEST(JSONStorage, DamagedDocumentsRaiseAndLeaveTheTable) {
  const char* const cases[] = {
      "",
      "[]",
      "{\"fields\":[]}",
      "{\"fields\":{},\"rows\":[]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Nope\"}],\"rows\":[]}",
      "{\"fields\":[{\"name\":\"\",\"type\":\"Integer\"}],\"rows\":[]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Integer\"},{\"name\":\"a\",\"type\":\"Integer\"}],"
      "\"rows\":[]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Integer\"}],\"rows\":[[1,2]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Integer\"}],\"rows\":[[3000000000]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Integer\"}],\"rows\":[[\"1\"]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Bytes\"}],\"rows\":[[\"abc\"]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Bytes\"}],\"rows\":[[\"zz\"]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Integer\",\"required\":true}],\"rows\":[[null]]}",
      "{\"fields\":[],\"rows\":[[]]}",
      "{\"fields\":[],\"rows\":[]} trailing",
  };
  for (const char* c : cases) {
    SCOPED_TRACE(c);
    TAdaptedDataSet ds;
    ds.FieldDefs().Add("Kept", TFieldType::ftInteger);
    ds.Open();
    EXPECT_THROW(TJSONStorage::Load(ds, c), EJSONStorageError);
    EXPECT_EQ("Kept", ds.Fields(0).FieldName());
  }
  // Many columns and many (wrong) rows: refused without allocating columns
  // times rows.
  std::string wide = "{\"fields\":[";
  for (int i = 0; i < 5000; ++i) {
    wide += std::string(i ? "," : "") + "{\"name\":\"c" + std::to_string(i) +
            "\",\"type\":\"Largeint\"}";
  }
  wide += "],\"rows\":[";
  for (int i = 0; i < 50000; ++i) wide += i ? ",[]" : "[]";
  wide += "]}";
  {
    TAdaptedDataSet ds;
    EXPECT_THROW(TJSONStorage::Load(ds, wide), EJSONStorageError);
  }
  // Deep nesting is refused without exhausting the stack.
  TAdaptedDataSet ds;
  EXPECT_THROW(TJSONStorage::Load(ds, std::string(200000, '[')), EJSONStorageError);
}

}  // namespace
}  // namespace qvr::data
