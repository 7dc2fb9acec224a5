// The dataset: its definitions refused while open, open/closed state and
// events, appending and taking back, the cursor, and finding fields.
#include "data/DataSet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace qvr::data
