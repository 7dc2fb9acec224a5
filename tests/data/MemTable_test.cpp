// The in-memory table's storage dispatch and the storage-format registration
// components.
#include "data/MemTable.h"

#include <gtest/gtest.h>

#include "data/BinStorage.h"
#include "data/DataSetSamples.h"
#include "data/JSONStorage.h"

namespace qvr::data {
namespace {

TEST(StorageFormats, RegisteredWhileARegistrationExists) {
  EXPECT_FALSE(IsStorageFormatRegistered(TStorageFormat::sfBinary));
  {
    TBinStorageLink bin;
    EXPECT_TRUE(IsStorageFormatRegistered(TStorageFormat::sfBinary));
    EXPECT_FALSE(IsStorageFormatRegistered(TStorageFormat::sfJSON));
    {
      TBinStorageLink second;
      TJSONStorageLink json;
      EXPECT_TRUE(IsStorageFormatRegistered(TStorageFormat::sfJSON));
    }
    // The first binary registration still stands.
    EXPECT_TRUE(IsStorageFormatRegistered(TStorageFormat::sfBinary));
    EXPECT_FALSE(IsStorageFormatRegistered(TStorageFormat::sfJSON));
  }
  EXPECT_FALSE(IsStorageFormatRegistered(TStorageFormat::sfBinary));
}

TEST(MemTable, UnregisteredFormatIsRefused) {
  auto t = test::MakeEveryTypeTable();
  TMemoryStream stream;
  try {
    t->SaveToStream(stream);
    FAIL() << "no exception";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ("Storage format 'Binary' is not registered", e.what());
  }
  EXPECT_EQ(0, stream.Size());
  EXPECT_THROW(t->LoadFromStream(stream, TStorageFormat::sfJSON), EDataSetError);
}

TEST(MemTable, SavesAndLoadsEachRegisteredFormat) {
  TBinStorageLink bin;
  TJSONStorageLink json;
  for (TStorageFormat format : {TStorageFormat::sfBinary, TStorageFormat::sfJSON}) {
    SCOPED_TRACE(StorageFormatName(format));
    auto t = test::MakeEveryTypeTable();
    TMemoryStream stream;
    t->SaveToStream(stream, format);
    EXPECT_EQ(format == TStorageFormat::sfBinary ? TBinStorage::SaveToBytes(*t)
                                                 : TJSONStorage::SaveToText(*t),
              stream.Bytes());
    stream.SetPosition(0);
    TMemTable back;
    back.LoadFromStream(stream, format);
    ASSERT_EQ(t->RecordCount(), back.RecordCount());
    for (int r = 0; r < t->RecordCount(); ++r) {
      for (int c = 0; c < t->FieldCount(); ++c) EXPECT_EQ(t->Value(r, c), back.Value(r, c));
    }
  }
}

}  // namespace
}  // namespace qvr::data
