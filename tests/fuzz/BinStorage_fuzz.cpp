// Fuzz target: a dataset stream in the binary storage format as any bytes.
// Loading either raises the storage error, leaving the table as it was, or
// gives a table that saves and loads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/BinStorage.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace qvr;
  using namespace qvr::data;
  const std::string_view bytes(reinterpret_cast<const char*>(AData), ASize);
  TAdaptedDataSet table;
  table.FieldDefs().Add("Kept", TFieldType::ftInteger);
  table.Open();
  table.AppendRecord({7});
  try {
    TBinStorage::Load(table, bytes);
  } catch (const EStorageError&) {
    fuzz::Check(table.FieldCount() == 1 && table.RecordCount() == 1, "a failed load changed it");
    return 0;
  }
  const std::string saved = TBinStorage::SaveToBytes(table);
  TAdaptedDataSet back;
  TBinStorage::Load(back, saved);
  fuzz::Check(TBinStorage::SaveToBytes(back) == saved, "save, load and save again differ");
  fuzz::Check(back.ColumnDefs() == table.ColumnDefs(), "the columns survive a round trip");
  // Every value is reachable by row and by name.
  for (int c = 0; c < table.FieldCount(); ++c) {
    fuzz::Check(
        table.FieldByName(table.ColumnDefs()[static_cast<std::size_t>(c)].Name).Index() == c,
        "a column is found by its name");
    for (int r = 0; r < table.RecordCount(); ++r) table.Value(r, c);
  }
  return 0;
}
