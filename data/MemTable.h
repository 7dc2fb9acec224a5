// The in-memory table: a dataset that is saved to and loaded from a stream in
// one of the registered storage formats (data/StorageFormats.h). Dataset lists
// decode every dataset they read into a new TMemTable.
#pragma once

#include <string_view>

#include "data/DataSet.h"
#include "data/StorageFormats.h"
#include "platform/Streams.h"

namespace qvr::data {

class TMemTable : public TAdaptedDataSet {
 public:
  TMemTable() = default;

  // Writes the table (which must be open) to AStream at its position in
  // AFormat. Raises EDataSetError "Storage format '%s' is not registered" when
  // no registration of AFormat exists.
  void SaveToStream(TStream& AStream, TStorageFormat AFormat = TStorageFormat::sfBinary) const;
  // Replaces the table's structure and rows with those stored in AStream from
  // its position to its end, and leaves it open. Raises the format's storage
  // error for damaged bytes (the table is then unchanged), and EDataSetError
  // for an unregistered format.
  void LoadFromStream(TStream& AStream, TStorageFormat AFormat = TStorageFormat::sfBinary);
};

}  // namespace qvr::data
