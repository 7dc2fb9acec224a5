// The binary storage format of datasets (sfBinary): the form in which a
// dataset travels inside a dataset-list blob and in which a server sends its
// tables. The layout is described completely in docs/dataset-format.md. Loading
// treats the bytes as hostile: every count, length and offset is checked
// against the bytes before use, and a damaged stream raises EStorageError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/DataSet.h"
#include "data/DataSetExceptions.h"
#include "platform/Streams.h"

namespace qvr::data {

class TBinStorage {
 public:
  // The format version written when the dataset's StoreVersion is -1.
  static constexpr std::uint16_t kVersion = 16;
  static constexpr std::size_t kHeaderSize = 12;

  // The dataset's structure and rows in the binary format. The dataset must be
  // open (EDataSetError otherwise); its cursor does not move. Raises
  // EDataSetError when a name or the whole exceeds what the format's 16-bit and
  // 32-bit sizes can describe.
  static std::string SaveToBytes(const TAdaptedDataSet& ADataSet);
  // SaveToBytes written to AStream at its position.
  static void Save(const TAdaptedDataSet& ADataSet, TStream& AStream);

  // Replaces ADataSet's structure and rows with those of ABytes and leaves it
  // open on the first row. Raises EStorageError for bytes that are not a whole,
  // valid stream of the format; ADataSet is then unchanged. Text that is not
  // valid UTF-8 is kept with U+FFFD in place of each bad sequence.
  static void Load(TAdaptedDataSet& ADataSet, std::string_view ABytes);
  // Load from the bytes of AStream between its position and its end.
  static void Load(TAdaptedDataSet& ADataSet, TStream& AStream);
};

}  // namespace qvr::data
