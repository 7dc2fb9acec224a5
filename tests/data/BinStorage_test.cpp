// The binary storage format: the header, round trips of every column type,
// and damaged or hostile streams, which must raise the storage error (code
// 710) and never read out of bounds (these tests also run under
// AddressSanitizer).
#include "data/BinStorage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "data/DataSetSamples.h"
#include "support/XorShift.h"

namespace qvr::data {
namespace {

void ExpectSameTable(TAdaptedDataSet& AExpected, TAdaptedDataSet& AActual) {
  ASSERT_EQ(AExpected.ColumnDefs(), AActual.ColumnDefs());
  ASSERT_EQ(AExpected.RecordCount(), AActual.RecordCount());
  EXPECT_EQ(AExpected.Name(), AActual.Name());
  for (int r = 0; r < AExpected.RecordCount(); ++r) {
    for (int c = 0; c < AExpected.FieldCount(); ++c) {
      EXPECT_EQ(AExpected.Value(r, c), AActual.Value(r, c)) << "row " << r << " column " << c;
    }
  }
}

std::uint32_t Le32At(const std::string& ABytes, std::size_t APos) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(ABytes[APos + i]);
  return v;
}

TEST(BinStorage, HeaderIsMagicVersionReservedAndDictionaryOffset) {
  auto t = test::MakeEveryTypeTable();
  const std::string bytes = TBinStorage::SaveToBytes(*t);
  ASSERT_GE(bytes.size(), 12u);
  EXPECT_EQ("BTBL", bytes.substr(0, 4));
  EXPECT_EQ(16, static_cast<unsigned char>(bytes[4]) | (static_cast<unsigned char>(bytes[5]) << 8));
  // The dictionary closes the stream: its first entry is the table name.
  const std::uint32_t dict = Le32At(bytes, 8);
  ASSERT_LT(dict, bytes.size());
  EXPECT_EQ(16u, static_cast<unsigned char>(bytes[dict]));  // "Personal" is 8 UTF-16 units
  EXPECT_EQ(std::string("P\0e\0", 4), bytes.substr(dict + 2, 4));

  t->ResourceOptions().SetStoreVersion(12);
  const std::string v12 = TBinStorage::SaveToBytes(*t);
  EXPECT_EQ(12, v12[4]);
  EXPECT_EQ(0, v12[5]);
}

// The example of docs/dataset-format.md, byte for byte.
TEST(BinStorage, DocumentedExampleBytes) {
  TAdaptedDataSet t;
  t.SetName("T");
  t.FieldDefs().Add("ID", TFieldType::ftInteger);
  t.Open();
  t.AppendRecord({5});
  t.AppendRecord({nullptr});
  const unsigned char expected[] = {
      0x42, 0x54, 0x42, 0x4C, 0x10, 0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0x00,  // header
      0x00, 0x00, 0x00, 0x00,                                                  // name: entry 0
      0x01, 0x00, 0x00, 0x00,                                                  // 1 column
      0x01, 0x00, 0x00, 0x00, 0x01, 0x00,                                      // "ID", Integer
      0x02, 0x00, 0x00, 0x00,                                                  // 2 rows
      0x00, 0x01,                                                              // null flags
      0x05, 0x00, 0x00, 0x00,                                                  // 5
      0x02, 0x00, 0x54, 0x00,                                                  // "T"
      0x04, 0x00, 0x49, 0x00, 0x44, 0x00,                                      // "ID"
  };
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(expected), sizeof expected),
            TBinStorage::SaveToBytes(t));
}

TEST(BinStorage, RoundTripOfEveryTypeNullsEmptyAndNonAsciiText) {
  auto t = test::MakeEveryTypeTable();
  t->SetRecNo(3);
  const std::string bytes = TBinStorage::SaveToBytes(*t);
  EXPECT_EQ(3, t->RecNo());  // saving does not move the cursor
  TAdaptedDataSet back;
  TBinStorage::Load(back, bytes);
  EXPECT_TRUE(back.Active());
  EXPECT_EQ(1, back.RecNo());
  ExpectSameTable(*t, back);
  EXPECT_TRUE(back.ColumnDefs()[0].Required);
  // Saving what was loaded gives the same bytes.
  EXPECT_EQ(bytes, TBinStorage::SaveToBytes(back));
}

TEST(BinStorage, RoundTripOfZeroRowsAndZeroColumns) {
  TAdaptedDataSet empty;
  empty.FieldDefs().Add("A", TFieldType::ftString);
  empty.Open();
  TAdaptedDataSet back;
  TBinStorage::Load(back, TBinStorage::SaveToBytes(empty));
  ExpectSameTable(empty, back);

  TAdaptedDataSet none;
  none.Open();
  TBinStorage::Load(back, TBinStorage::SaveToBytes(none));
  EXPECT_EQ(0, back.FieldCount());
  EXPECT_EQ(0, back.RecordCount());
}

TEST(BinStorage, LargeTableRoundTrip) {
  auto t = test::MakeMixedTable(5000);
  TAdaptedDataSet back;
  TBinStorage::Load(back, TBinStorage::SaveToBytes(*t));
  ExpectSameTable(*t, back);
}

TEST(BinStorage, ClosedDatasetIsNotSaved) {
  auto t = test::MakeEveryTypeTable();
  t->Close();
  EXPECT_THROW(TBinStorage::SaveToBytes(*t), EDataSetError);
}

TEST(BinStorage, StreamFormsReadFromPositionToEnd) {
  auto t = test::MakeEveryTypeTable();
  TMemoryStream stream;
  stream.Write(std::string_view("junk"));
  TBinStorage::Save(*t, stream);
  stream.SetPosition(4);
  TAdaptedDataSet back;
  TBinStorage::Load(back, stream);
  ExpectSameTable(*t, back);
}

TEST(BinStorage, InvalidUtf8InStoredTextIsRepaired) {
  TAdaptedDataSet t;
  t.FieldDefs().Add("S", TFieldType::ftString);
  t.Open();
  t.AppendRecord({"xx\xC3\xA9"});
  std::string bytes = TBinStorage::SaveToBytes(t);
  const std::size_t at = bytes.find("xx\xC3\xA9");
  ASSERT_NE(std::string::npos, at);
  bytes[at + 2] = '\xFF';  // now "xx\xFF\xA9"
  TAdaptedDataSet back;
  TBinStorage::Load(back, bytes);
  EXPECT_EQ("xx\xEF\xBF\xBD\xEF\xBF\xBD", back.Fields(0).AsString());
}

// --- Hostile streams --------------------------------------------------------

void ExpectStorageError(std::string_view ABytes) {
  TAdaptedDataSet ds;
  ds.FieldDefs().Add("Kept", TFieldType::ftInteger);
  ds.Open();
  ds.AppendRecord({5});
  try {
    TBinStorage::Load(ds, ABytes);
    ADD_FAILURE() << "loaded without error";
  } catch (const EStorageError& e) {
    EXPECT_EQ(710, e.ErrorCode());
    EXPECT_STREQ("Invalid binary storage format", e.what());
  }
  // The dataset is as it was.
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(1, ds.RecordCount());
  EXPECT_EQ("Kept", ds.Fields(0).FieldName());
}

// Builds streams by hand, so each case says exactly which count, length or
// offset lies.
class TStreamBuilder {
 public:
  TStreamBuilder& Raw(std::string_view ABytes) {
    FContent.append(ABytes);
    return *this;
  }
  TStreamBuilder& U8(std::uint8_t AValue) {
    FContent += static_cast<char>(AValue);
    return *this;
  }
  TStreamBuilder& U32(std::uint32_t AValue) {
    for (int i = 0; i < 4; ++i) FContent += static_cast<char>(AValue >> (8 * i));
    return *this;
  }
  // Header + content + dictionary (entries given as ASCII), with the real
  // offset unless AOffset overrides it.
  std::string Build(std::vector<std::string> ANames, std::int64_t AOffset = -1) const {
    std::string out = "BTBL";
    out += '\x10';
    out += '\0';
    out += "\xAB\xCD";  // reserved bytes: any content
    const std::uint32_t offset = AOffset >= 0 ? static_cast<std::uint32_t>(AOffset)
                                              : static_cast<std::uint32_t>(12 + FContent.size());
    for (int i = 0; i < 4; ++i) out += static_cast<char>(offset >> (8 * i));
    out += FContent;
    for (const auto& n : ANames) {
      out += static_cast<char>((n.size() * 2) & 0xFF);
      out += static_cast<char>((n.size() * 2) >> 8);
      for (char c : n) {
        out += c;
        out += '\0';
      }
    }
    return out;
  }

 private:
  std::string FContent;
};

// A valid one-column stream: table without name, column 0 "A" Integer, 2 rows.
TStreamBuilder ValidIntColumn() {
  TStreamBuilder b;
  b.U32(0xFFFFFFFF).U32(1).U32(0).U8(1).U8(0).U32(2).U8(0).U8(1).U32(77);
  return b;
}

TEST(BinStorageHostile, HandBuiltValidStreamLoads) {
  TAdaptedDataSet ds;
  TBinStorage::Load(ds, ValidIntColumn().Build({"A"}));
  ASSERT_EQ(2, ds.RecordCount());
  EXPECT_EQ(TValue(77), ds.Value(0, 0));
  EXPECT_TRUE(ds.IsNull(1, 0));
}

TEST(BinStorageHostile, DamagedStreamsTable) {
  const std::string valid = ValidIntColumn().Build({"A"});
  struct Case {
    const char* What;
    std::string Bytes;
  };
  auto withByte = [&](std::size_t APos, char AValue) {
    std::string s = valid;
    s[APos] = AValue;
    return s;
  };
  const std::vector<Case> cases = {
      {"empty", ""},
      {"11 bytes", valid.substr(0, 11)},
      {"other magic", "BTBX" + valid.substr(4)},
      {"lower-case magic", "btbl" + valid.substr(4)},
      {"dictionary offset below the header", ValidIntColumn().Build({"A"}, 11)},
      {"dictionary offset beyond the end", ValidIntColumn().Build({"A"}, 100000)},
      {"dictionary offset 0xFFFFFFFF", ValidIntColumn().Build({"A"}, 0xFFFFFFFF)},
      {"dictionary offset cuts the content", ValidIntColumn().Build({"A"}, 20)},
      {"dictionary entry longer than the stream", valid.substr(0, valid.size() - 1)},
      {"odd dictionary byte count",
       TStreamBuilder().U32(0xFFFFFFFF).U32(0).U32(0).Build({}) + std::string("\x03\x00"
                                                                              "abc",
                                                                              5)},
      {"table name index out of range", TStreamBuilder().U32(5).U32(0).U32(0).Build({"A"})},
      {"column count 0xFFFFFFFF",
       TStreamBuilder().U32(0xFFFFFFFF).U32(0xFFFFFFFF).U32(0).Build({"A"})},
      {"column name index out of range",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(1).U8(1).U8(0).U32(0).Build({"A"})},
      {"type code 0",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(0).U8(0).U32(0).Build({"A"})},
      {"type code 8",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(8).U8(0).U32(0).Build({"A"})},
      {"unknown column flag",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(1).U8(2).U32(0).Build({"A"})},
      {"duplicate column names (case ignored)", TStreamBuilder()
                                                    .U32(0xFFFFFFFF)
                                                    .U32(2)
                                                    .U32(0)
                                                    .U8(1)
                                                    .U8(0)
                                                    .U32(1)
                                                    .U8(1)
                                                    .U8(0)
                                                    .U32(0)
                                                    .Build({"A", "a"})},
      {"empty column name",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(1).U8(0).U32(0).Build({""})},
      {"row count 0xFFFFFFFF",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(1).U8(0).U32(0xFFFFFFFF).Build({"A"})},
      {"row count 0x7FFFFFFF without the flags to back it",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(5).U8(0).U32(0x7FFFFFFF).Build({"A"})},
      {"rows without columns", TStreamBuilder().U32(0xFFFFFFFF).U32(0).U32(1000000).Build({})},
      {"null flag 2", withByte(12 + 4 + 4 + 6 + 4, '\x02')},
      {"value missing",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(2).U8(0).U32(1).U8(0).U32(1).Build({"A"})},
      {"Boolean value 2",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(4).U8(0).U32(1).U8(0).U8(2).Build({"A"})},
      {"text length beyond the content", TStreamBuilder()
                                             .U32(0xFFFFFFFF)
                                             .U32(1)
                                             .U32(0)
                                             .U8(5)
                                             .U8(0)
                                             .U32(1)
                                             .U8(0)
                                             .U32(0xFFFFFFF0)
                                             .Raw("abc")
                                             .Build({"A"})},
      {"text length reaching into the dictionary", TStreamBuilder()
                                                       .U32(0xFFFFFFFF)
                                                       .U32(1)
                                                       .U32(0)
                                                       .U8(5)
                                                       .U8(0)
                                                       .U32(1)
                                                       .U8(0)
                                                       .U32(6)
                                                       .Raw("ab")
                                                       .Build({"A"})},
      {"bytes beyond the content",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(7).U8(0).U32(1).U8(0).U32(9).Build({"A"})},
      {"content left over before the dictionary",
       TStreamBuilder().U32(0xFFFFFFFF).U32(0).U32(0).U8(0).Build({})},
      {"required column holding a null",
       TStreamBuilder().U32(0xFFFFFFFF).U32(1).U32(0).U8(1).U8(1).U32(1).U8(1).Build({"A"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ExpectStorageError(c.Bytes);
  }
}

TEST(BinStorageHostile, EveryTruncationOfAValidStreamFails) {
  auto t = test::MakeEveryTypeTable();
  const std::string bytes = TBinStorage::SaveToBytes(*t);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    SCOPED_TRACE(n);
    std::string cut = bytes.substr(0, n);
    if (n >= 12) {
      // Keep the offset inside the cut stream as a careless writer might.
      const std::uint32_t dict = Le32At(bytes, 8);
      if (dict > n) continue;  // caught by the offset check, covered above
    }
    ExpectStorageError(cut);
  }
}

TEST(BinStorageHostile, EveryByteFlipEitherLoadsOrRaisesTheStorageError) {
  auto t = test::MakeEveryTypeTable();
  const std::string bytes = TBinStorage::SaveToBytes(*t);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    for (unsigned char x : {0x01u, 0x80u, 0xFFu}) {
      std::string damaged = bytes;
      damaged[i] = static_cast<char>(damaged[i] ^ x);
      TAdaptedDataSet ds;
      try {
        TBinStorage::Load(ds, damaged);
        // A flip inside a value loads: the table must still be coherent.
        for (int r = 0; r < ds.RecordCount(); ++r) {
          for (int c = 0; c < ds.FieldCount(); ++c) (void)ds.Value(r, c);
        }
      } catch (const EStorageError&) {
      }
    }
  }
}

// Random damage of several bytes at once, including the counts and lengths
// that single flips leave consistent (fixed seed: the same streams every run).
TEST(BinStorageHostile, RandomMultiByteDamageNeverReadsOutOfBounds) {
  auto t = test::MakeMixedTable(20);
  const std::string bytes = TBinStorage::SaveToBytes(*t);
  test::TXorShift next(0x9E3779B97F4A7C15ull);
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string damaged = bytes;
    const int edits = 1 + static_cast<int>(next() % 4);
    for (int e = 0; e < edits; ++e) {
      // Mostly the first 200 bytes, where the structure is.
      const std::size_t at = next() % 4 == 0 ? next() % damaged.size() : next() % 200;
      damaged[at] = static_cast<char>(next());
    }
    if (next() % 8 == 0) damaged.resize(next() % damaged.size());
    TAdaptedDataSet ds;
    try {
      TBinStorage::Load(ds, damaged);
      ++loaded;
      for (int r = 0; r < ds.RecordCount(); ++r) {
        for (int c = 0; c < ds.FieldCount(); ++c) (void)ds.Value(r, c);
      }
    } catch (const EStorageError&) {
    }
  }
  EXPECT_LT(loaded, 3000);
}

}  // namespace
}  // namespace qvr::data
