// Fuzz target: one dataset blob of a dataset list (base64 text of zlib data of
// a dataset in the binary storage format) as any bytes. A blob that does not
// read fails with the library's exceptions only; a table read from one saves
// to a blob that reads back into a table saving to the same storage bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/BinStorage.h"
#include "fuzz/FuzzSupport.h"
#include "platform/SysUtils.h"
#include "rest/datasets/DataSetJSONReflect.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace qvr;
  using namespace qvr::rest;
  std::unique_ptr<data::TMemTable> table;
  try {
    table = TDataSetListInterceptor::BlobToDataSet(
        std::string_view(reinterpret_cast<const char*>(AData), ASize));
  } catch (const Exception&) {
    return 0;  // EZDecompressionError, the storage error
  }
  fuzz::Check(table != nullptr, "a blob that reads gives a table");
  const std::string storage = data::TBinStorage::SaveToBytes(*table);
  const auto copy =
      TDataSetListInterceptor::BlobToDataSet(TDataSetListInterceptor::DataSetToBlob(*table));
  fuzz::Check(data::TBinStorage::SaveToBytes(*copy) == storage,
              "the table's blob reads back to the same storage");
  return 0;
}
