// The JSON storage format: its document shape, round trips and damaged text.
#include "data/JSONStorage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

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

// Numbers are read correctly rounded, so that every double comes back from
// the text saved for it bit for bit. The texts are ones where a fast, nearly
// rounded reading is off by a unit in the last place; the expected values are
// the C library's strtod of the same text. The first two are also what the
// saver writes for 0.30000000000000004 and for the double nearest to the third.
// Seventeen significant digits tell every two doubles apart.
std::string Digits17(double AValue) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", AValue);
  return text;
}

TEST(JSONStorage, NumbersAreReadCorrectlyRoundedAndSurviveASaveAndLoad) {
  const char* const numbers[] = {
      "0.30000000000000007",
      "-9223372036857707000.0",
      "-9223372036857705884",
      "0.30000000000000004",
      "123456789012345678901234567890",
      "2.2250738585072011e-308",
      "1.7976931348623157e308",
      "5e-324",
      "0.1",
      // Too small for a double: zero with its sign, as strtod gives.
      "1e-400",
      "-1e-400",
      "2e-324",
      "0.0000000001e-3003372036854771807",
      "1e-99999999999999999999",
      "-0.5e-99999999999999999999",
  };
  for (const char* number : numbers) {
    SCOPED_TRACE(number);
    for (const char* type : {"Float", "DateTime"}) {
      TAdaptedDataSet first;
      TJSONStorage::Load(first, std::string("{\"fields\":[{\"name\":\"F\",\"type\":\"") + type +
                                    "\"}],\"rows\":[[" + number + "]]}");
      const double loaded = first.Column(0).Doubles()[0];
      EXPECT_EQ(Digits17(loaded), Digits17(std::strtod(number, nullptr))) << type;
      TAdaptedDataSet second;
      TJSONStorage::Load(second, TJSONStorage::SaveToText(first));
      EXPECT_EQ(Digits17(second.Column(0).Doubles()[0]), Digits17(loaded)) << type;
    }
  }
}

// An escape of a lone low surrogate is no character (a lone high one is refused
// by the JSON reader): names and text read with one hold U+FFFD in its place
// (one per byte of the surrogate's three-byte form, as for any invalid UTF-8
// read), so that what is saved is valid UTF-8 and loads again.
TEST(JSONStorage, LoneSurrogateEscapesBecomeReplacementCharacters) {
  const std::string text =
      R"({"name":"T\uDFFFx","fields":[{"name":"\uDEAE","type":"String"}],"rows":[["a\uDC00"]]})";
  const std::string replaced = "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";
  TAdaptedDataSet first;
  TJSONStorage::Load(first, text);
  EXPECT_EQ(first.Name(), "T" + replaced + "x");
  EXPECT_EQ(first.ColumnDefs()[0].Name, replaced);
  EXPECT_EQ(first.Fields(0).AsString(), "a" + replaced);
  TAdaptedDataSet second;
  TJSONStorage::Load(second, TJSONStorage::SaveToText(first));
  EXPECT_EQ(second.ColumnDefs(), first.ColumnDefs());
  EXPECT_EQ(second.Name(), first.Name());
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
      // Too large for a double.
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Float\"}],\"rows\":[[1e400]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Float\"}],\"rows\":[[-1000e306]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Float\"}],\"rows\":[[9e99999999999999999999]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"DateTime\"}],\"rows\":[[1e3003372036854771807]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Largeint\"}],\"rows\":[[9223372036854775808]]}",
      "{\"fields\":[{\"name\":\"A\",\"type\":\"Integer\"}],\"rows\":[[1e2]]}",
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
