// Tables of very many columns, as a hostile or careless server can send them:
// defining, loading and finding columns by name must stay near-linear in the
// number of columns, with the case rule of names (ASCII letters without regard
// to case) kept. A search per name that goes through all names makes the
// 40,000-column cases here take tens of seconds; CTest's time-out for this
// executable (tests/data/datasets.cmake) is a few seconds, so such a search
// fails the run rather than slowing it down.
#include <gtest/gtest.h>

#include <string>

#include "data/BinStorage.h"
#include "data/JSONStorage.h"
#include "data/MemTable.h"
#include "platform/Streams.h"

namespace qvr::data {
namespace {

constexpr int kColumns = 40000;

std::string ColumnName(int AIndex) { return "Columna" + std::to_string(AIndex); }

void PutU16(std::string& AOut, std::uint32_t AValue) {
  AOut += static_cast<char>(AValue & 0xFF);
  AOut += static_cast<char>((AValue >> 8) & 0xFF);
}
void PutU32(std::string& AOut, std::uint32_t AValue) {
  for (int i = 0; i < 4; ++i) AOut += static_cast<char>((AValue >> (8 * i)) & 0xFF);
}

// A binary storage stream of kColumns Integer columns and no rows, built by
// hand so that nothing of the library is used to make it. ALastName replaces
// the name of the last column.
std::string WideStream(const std::string& ALastName) {
  std::string content;
  PutU32(content, 0xFFFFFFFFu);  // no table name
  PutU32(content, kColumns);
  for (int c = 0; c < kColumns; ++c) {
    PutU32(content, static_cast<std::uint32_t>(c));
    content += '\x01';  // Integer
    content += '\x00';  // no flags
  }
  PutU32(content, 0);  // rows
  std::string out = "BTBL";
  PutU16(out, 16);
  PutU16(out, 0);
  PutU32(out, static_cast<std::uint32_t>(12 + content.size()));
  out += content;
  for (int c = 0; c < kColumns; ++c) {
    const std::string name = c + 1 == kColumns ? ALastName : ColumnName(c);
    PutU16(out, static_cast<std::uint32_t>(name.size() * 2));
    for (char ch : name) {
      out += ch;
      out += '\0';
    }
  }
  return out;
}

// Every column is found by its name in another letter case, at its own index.
void ExpectEveryColumnFound(TAdaptedDataSet& ADataSet) {
  ASSERT_EQ(ADataSet.FieldCount(), kColumns);
  for (int c = 0; c < kColumns; ++c) {
    std::string upper = ColumnName(c);
    for (char& ch : upper)
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    ASSERT_EQ(ADataSet.FieldByName(upper).Index(), c) << upper;
  }
  EXPECT_FALSE(ADataSet.FindField("Columna" + std::to_string(kColumns)).has_value());
}

TEST(ManyColumnsTest, BinaryStreamLoadsAndEveryColumnIsFound) {
  TMemTable table;
  TBinStorage::Load(table, WideStream(ColumnName(kColumns - 1)));
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_EQ(table.FieldDefs().Count(), kColumns);
  ExpectEveryColumnFound(table);
}

TEST(ManyColumnsTest, BinaryStreamWithALateDuplicateIsRefused) {
  // The duplicate differs from the first name only in letter case.
  TMemTable table;
  EXPECT_THROW(TBinStorage::Load(table, WideStream("COLUMNA0")), EStorageError);
  EXPECT_EQ(table.FieldDefs().Count(), 0);
}

TEST(ManyColumnsTest, DefinitionsCreateOpenSaveAndLoadAgain) {
  TMemTable table;
  for (int c = 0; c < kColumns; ++c) table.FieldDefs().Add(ColumnName(c), TFieldType::ftInteger);
  try {
    table.FieldDefs().Add("COLUMNA123", TFieldType::ftString);
    FAIL() << "a duplicate in another case was added";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ(e.what(), "Duplicate field name 'COLUMNA123'");
  }
  for (int c = 0; c < kColumns; c += 997) {
    EXPECT_EQ(table.FieldDefs().IndexOf(ColumnName(c)), c);
  }
  table.CreateDataSet();
  table.AppendRecord({1, 2, 3});
  ExpectEveryColumnFound(table);

  TBinStorageLink bin;
  TJSONStorageLink json;
  for (const TStorageFormat format : {TStorageFormat::sfBinary, TStorageFormat::sfJSON}) {
    SCOPED_TRACE(StorageFormatName(format));
    TMemoryStream stream;
    table.SaveToStream(stream, format);
    stream.SetPosition(0);
    TMemTable back;
    back.LoadFromStream(stream, format);
    EXPECT_EQ(back.RecordCount(), 1);
    EXPECT_EQ(back.Value(0, 2), TValue(3));
    ExpectEveryColumnFound(back);
  }
}

TEST(ManyColumnsTest, ClearAndReplacedDefinitionsForgetTheOldNames) {
  TFieldDefs defs;
  for (int c = 0; c < kColumns; ++c) defs.Add(ColumnName(c), TFieldType::ftInteger);
  TFieldDefs copy = defs;
  EXPECT_EQ(copy.IndexOf("columna39999"), kColumns - 1);
  defs.Clear();
  EXPECT_EQ(defs.IndexOf(ColumnName(0)), -1);
  defs.Add(ColumnName(0), TFieldType::ftString);
  EXPECT_EQ(defs.IndexOf("COLUMNA0"), 0);
  copy = defs;
  EXPECT_EQ(copy.Count(), 1);
  EXPECT_EQ(copy.IndexOf(ColumnName(1)), -1);
}

}  // namespace
}  // namespace qvr::data
