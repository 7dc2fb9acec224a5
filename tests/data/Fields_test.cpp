// Columns and fields: what each getter gives for each column type, text
// repaired on entry and bytes kept, every type read back from the sample
// table, and a text column installed whole as the storage formats load one.
#include "data/Fields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "data/DataSet.h"
#include "data/DataSetSamples.h"

namespace qvr::data {
namespace {

// Getter conversions: each row is a column type, a stored value and what the
// getters give ("!" for an EDataSetError, "?" for an EConvertError).
TEST(FieldAccess, ConversionsTable) {
  struct Row {
    TFieldType Type;
    TValue Stored;
    const char* AsString;
    const char* AsInteger;
    const char* AsFloat;
    const char* AsBoolean;
  };
  const Row rows[] = {
      {TFieldType::ftInteger, 42, "42", "42", "42", "1"},
      {TFieldType::ftLargeint, std::int64_t{1} << 40, "1099511627776", "!", "1.09951e+12", "1"},
      {TFieldType::ftFloat, 2.5, "2.5", "!", "2.5", "!"},
      {TFieldType::ftBoolean, true, "True", "1", "!", "1"},
      {TFieldType::ftString, "17", "17", "17", "17", "!"},
      {TFieldType::ftString, "abc", "abc", "?", "?", "!"},
      {TFieldType::ftDateTime, 36526.5, "2000-01-01 12:00:00", "!", "36526.5", "!"},
      {TFieldType::ftBytes, TBytes{'h', 'i'}, "hi", "!", "!", "!"},
      {TFieldType::ftString, nullptr, "", "0", "0", "0"},
  };
  for (const Row& r : rows) {
    TAdaptedDataSet ds;
    ds.FieldDefs().Add("F", r.Type);
    ds.Open();
    ds.AppendRecord({r.Stored});
    TField f = ds.Fields(0);
    auto run = [&](auto AGetter) -> std::string {
      try {
        return AGetter();
      } catch (const EConvertError&) {
        return "?";
      } catch (const EDataSetError&) {
        return "!";
      }
    };
    SCOPED_TRACE(FieldTypeName(r.Type) + " " + r.AsString);
    EXPECT_EQ(r.AsString, run([&] { return f.AsString(); }));
    EXPECT_EQ(r.AsInteger, run([&] { return std::to_string(f.AsInteger()); }));
    EXPECT_EQ(r.AsFloat, run([&] {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%g", f.AsFloat());
                return std::string(buf);
              }));
    EXPECT_EQ(r.AsBoolean, run([&] { return std::string(f.AsBoolean() ? "1" : "0"); }));
  }
}

TEST(FieldAccess, InvalidUtf8TextIsRepairedOnEntry) {
  TAdaptedDataSet ds;
  ds.FieldDefs().Add("T", TFieldType::ftString);
  ds.FieldDefs().Add("B", TFieldType::ftBytes);
  ds.Open();
  ds.AppendRecord(
      {"a\xFF"
       "b",
       "a\xFF"
       "b"});
  EXPECT_EQ(
      "a\xEF\xBF\xBD"
      "b",
      ds.Fields(0).AsString());
  EXPECT_EQ((TBytes{'a', 0xFF, 'b'}), ds.Fields(1).AsBytes());  // bytes stay as they are
}

TEST(FieldAccess, SampleTableReadsBack) {
  auto t = test::MakeEveryTypeTable();
  ASSERT_EQ(4, t->RecordCount());
  t->SetRecNo(4);
  EXPECT_EQ("Jos\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80",
            t->FieldByName("Name").AsString());
  EXPECT_EQ(INT64_MAX, t->FieldByName("Code").AsLargeInt());
  EXPECT_EQ(300u, t->FieldByName("Photo").AsBytes().size());
}

// A text column installed whole, as the storage formats load one: the parts
// must agree (one flag and one end per row, ends in order, null rows empty,
// the last end the buffer's size); anything else is refused and the column
// keeps what it had.
TEST(Columns, TextInstalledWholeOnlyWhenItsPartsAgree) {
  TColumn column(TFieldType::ftString);
  column.AssignText({0, 1, 0}, "abcde", {2, 2, 5});
  ASSERT_EQ(3u, column.Size());
  EXPECT_EQ("ab", column.Text(0));
  EXPECT_TRUE(column.Get(1).IsNull());
  EXPECT_EQ(TValue("cde"), column.Get(2));
  struct TCase {
    const char* Note;
    std::vector<std::uint8_t> Nulls;
    std::string Buffer;
    std::vector<std::size_t> Ends;
  };
  const TCase bad[] = {
      {"fewer ends than flags", {0, 0}, "ab", {2}},
      {"last end short of the buffer", {0}, "abc", {2}},
      {"last end beyond the buffer", {0}, "ab", {3}},
      {"ends out of order", {0, 0}, "abc", {2, 1}},
      {"null row with text", {0, 1}, "abc", {1, 3}},
      {"flag neither 0 nor 1", {2}, "", {0}},
      {"text without rows", {}, "x", {}},
  };
  for (const TCase& c : bad) {
    EXPECT_THROW(column.AssignText(c.Nulls, c.Buffer, c.Ends), EDataSetError) << c.Note;
    EXPECT_EQ(3u, column.Size()) << c.Note;
    EXPECT_EQ("cde", column.Text(2)) << c.Note;
  }
  column.AssignText({}, "", {});
  EXPECT_EQ(0u, column.Size());
}

}  // namespace
}  // namespace qvr::data
