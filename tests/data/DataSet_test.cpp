// The dataset: column definitions, open/closed state, appending, cursor and
// typed field access.
#include "data/DataSet.h"

#include <gtest/gtest.h>

#include "data/DataSetSamples.h"

namespace qvr::data {
namespace {

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.FieldDefs().Add("ID", TFieldType::ftInteger, true);
    ds.FieldDefs().Add("Name", TFieldType::ftString);
    ds.FieldDefs().Add("Big", TFieldType::ftLargeint);
  }
  TAdaptedDataSet ds;
};

TEST_F(DataSetTest, ClosedDatasetRefusesRowAccessAndOpenOneRefusesNewDefinitions) {
  EXPECT_FALSE(ds.Active());
  try {
    ds.RecordCount();
    FAIL() << "no exception";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ("Cannot perform this operation on a closed dataset", e.what());
  }
  ds.Open();
  EXPECT_EQ(3, ds.FieldDefs().Count());  // reading the definitions is fine
  EXPECT_THROW(ds.FieldDefs().Add("More", TFieldType::ftString), EDataSetError);
  EXPECT_THROW(ds.FieldDefs().Clear(), EDataSetError);
  TFieldDefs copy = ds.FieldDefs();  // a free-standing copy may change
  copy.Add("More", TFieldType::ftString);
  EXPECT_EQ(3, ds.FieldDefs().Count());
  EXPECT_THROW(ds.FieldDefs() = copy, EDataSetError);
  EXPECT_EQ(0, ds.RecordCount());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(0, ds.RecNo());
}

TEST_F(DataSetTest, DefinitionErrors) {
  EXPECT_THROW(ds.FieldDefs().Add("id", TFieldType::ftString), EDataSetError);  // case ignored
  EXPECT_THROW(ds.FieldDefs().Add("", TFieldType::ftString), EDataSetError);
  EXPECT_THROW(ds.FieldDefs().Add("X", static_cast<TFieldType>(0)), EDataSetError);
}

TEST_F(DataSetTest, AppendPostAndBrowse) {
  ds.Open();
  ds.Append();
  ds.FieldByName("id").SetAsInteger(7);
  ds.FieldByName("Name").SetAsString("Ana");
  EXPECT_EQ(0, ds.RecordCount());  // pending until Post
  ds.Post();
  ds.AppendRecord({8, "Luis", std::int64_t{1} << 40});
  ds.AppendRecord({9});  // trailing values null
  ASSERT_EQ(3, ds.RecordCount());

  std::vector<std::string> seen;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    seen.push_back(ds.FieldByName("ID").AsString() + ":" + ds.FieldByName("Name").AsString() + ":" +
                   (ds.FieldByName("Big").IsNull() ? "null" : ds.Fields(2).AsString()));
  }
  EXPECT_EQ((std::vector<std::string>{"7:Ana:null", "8:Luis:1099511627776", "9::null"}), seen);
  ds.Last();
  EXPECT_EQ(3, ds.RecNo());
  ds.SetRecNo(2);
  EXPECT_EQ(8, ds.Fields(0).AsInteger());
  EXPECT_EQ(TValue("Luis"), ds.Value(1, 1));
  EXPECT_TRUE(ds.IsNull(2, 1));
}

TEST_F(DataSetTest, FailedAppendLeavesEveryColumnAsItWas) {
  ds.Open();
  ds.AppendRecord({1, "a", std::int64_t{5}});
  // The third value does not fit: the first two must be taken back.
  EXPECT_THROW(ds.AppendRecord({2, "b", "not a number"}), EDataSetError);
  EXPECT_THROW(ds.AppendRecord({nullptr, "b"}), EDataSetError);           // required
  EXPECT_THROW(ds.AppendRecord({1, "a", 1, 2}), EDataSetError);           // too many values
  EXPECT_THROW(ds.AppendRecord({std::int64_t{1} << 33}), EDataSetError);  // not 32-bit
  ASSERT_EQ(1, ds.RecordCount());
  ds.AppendRecord({3, "c"});
  EXPECT_EQ(TValue("c"), ds.Value(1, 1));
  EXPECT_EQ(TValue(3), ds.Value(1, 0));
}

TEST_F(DataSetTest, PostOfMissingRequiredValueKeepsRecordPending) {
  ds.Open();
  ds.Append();
  ds.FieldByName("Name").SetAsString("x");
  try {
    ds.Post();
    FAIL() << "no exception";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ("Field 'ID' must have a value", e.what());
  }
  EXPECT_EQ(TDataSetState::dsInsert, ds.State());
  ds.FieldByName("ID").SetAsInteger(1);
  ds.Post();
  EXPECT_EQ(1, ds.RecordCount());
  EXPECT_THROW(ds.FieldByName("ID").SetAsInteger(2), EDataSetError);  // not appending
}

TEST_F(DataSetTest, CloseKeepsRowsAndEventsRunInOrder) {
  std::vector<std::string> events;
  ds.SetBeforeOpen([&](TAdaptedDataSet&) { events.push_back("BeforeOpen"); });
  ds.SetAfterOpen([&](TAdaptedDataSet&) { events.push_back("AfterOpen"); });
  ds.SetBeforeClose([&](TAdaptedDataSet&) { events.push_back("BeforeClose"); });
  ds.SetAfterClose([&](TAdaptedDataSet&) { events.push_back("AfterClose"); });
  ds.Open();
  ds.AppendRecord({1, "x"});
  ds.Close();
  ds.Open();
  EXPECT_EQ(1, ds.RecordCount());
  EXPECT_EQ((std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose",
                                      "BeforeOpen", "AfterOpen"}),
            events);
  ds.EmptyDataSet();
  EXPECT_EQ(0, ds.RecordCount());
}

TEST_F(DataSetTest, FailingBeforeOpenLeavesDatasetClosed) {
  ds.SetBeforeOpen([](TAdaptedDataSet&) { throw EDataSetError("no connection"); });
  EXPECT_THROW(ds.Open(), EDataSetError);
  EXPECT_FALSE(ds.Active());
}

TEST_F(DataSetTest, UnknownFieldAndIndex) {
  ds.Open();
  try {
    ds.FieldByName("Nope");
    FAIL() << "no exception";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ("Field 'Nope' not found", e.what());
  }
  EXPECT_FALSE(ds.FindField("Nope").has_value());
  EXPECT_THROW(ds.Fields(3), EDataSetError);
  EXPECT_THROW(ds.Value(0, 0), EDataSetError);  // no rows
}

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

TEST(FieldAccess, IntegerValuesOfEveryWidth) {
  EXPECT_EQ(TValue(std::int64_t{7}), TValue(static_cast<unsigned char>(7)));
  EXPECT_EQ(TValue(std::int64_t{-7}), TValue(-7LL));
  EXPECT_EQ(TValue(std::int64_t{INT64_MAX}), TValue(static_cast<std::uint64_t>(INT64_MAX)));
  EXPECT_THROW(TValue(static_cast<std::uint64_t>(INT64_MAX) + 1), EDataSetError);
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

TEST(FieldAccess, StoreVersionRange) {
  TAdaptedDataSet ds;
  EXPECT_EQ(-1, ds.ResourceOptions().StoreVersion());
  ds.ResourceOptions().SetStoreVersion(65535);
  EXPECT_THROW(ds.ResourceOptions().SetStoreVersion(65536), EArgumentOutOfRangeException);
  EXPECT_THROW(ds.ResourceOptions().SetStoreVersion(-2), EArgumentOutOfRangeException);
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
