// The JSON storage format of datasets (sfJSON): a readable form of a table's
// structure and rows, for files and diagnostics. No payload between client and
// server uses it; the layout is in docs/dataset-format.md. Loading checks the
// document's shape and every value against its column before use.
#pragma once

#include <string>
#include <string_view>

#include "data/DataSet.h"
#include "data/DataSetExceptions.h"
#include "platform/Streams.h"

namespace qvr::data {

class TJSONStorage {
 public:
  // The table (which must be open) as UTF-8 JSON text; the cursor does not move.
  static std::string SaveToText(const TAdaptedDataSet& ADataSet);
  static void Save(const TAdaptedDataSet& ADataSet, TStream& AStream);
  // Replaces ADataSet's structure and rows with those of AText and leaves it
  // open. Raises EJSONStorageError for text that is not such a document;
  // ADataSet is then unchanged.
  static void Load(TAdaptedDataSet& ADataSet, std::string_view AText);
  // Load from the bytes of AStream between its position and its end.
  static void Load(TAdaptedDataSet& ADataSet, TStream& AStream);
};

}  // namespace qvr::data
