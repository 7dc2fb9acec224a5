// Storage dispatch of the in-memory table; see MemTable.h.
#include "data/MemTable.h"

#include "data/BinStorage.h"
#include "data/JSONStorage.h"

namespace qvr::data {

namespace {

void CheckRegistered(TStorageFormat AFormat) {
  if (!IsStorageFormatRegistered(AFormat)) {
    throw EDataSetError(
        Format("Storage format '%s' is not registered", StorageFormatName(AFormat)));
  }
}

}  // namespace

void TMemTable::SaveToStream(TStream& AStream, TStorageFormat AFormat) const {
  CheckRegistered(AFormat);
  if (AFormat == TStorageFormat::sfBinary) {
    TBinStorage::Save(*this, AStream);
  } else {
    TJSONStorage::Save(*this, AStream);
  }
}

void TMemTable::LoadFromStream(TStream& AStream, TStorageFormat AFormat) {
  CheckRegistered(AFormat);
  if (AFormat == TStorageFormat::sfBinary) {
    TBinStorage::Load(*this, AStream);
  } else {
    TJSONStorage::Load(*this, AStream);
  }
}

}  // namespace qvr::data
