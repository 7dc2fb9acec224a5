// Fuzz target: a dataset in the JSON storage format as any text. Loading
// either raises the JSON storage error, leaving the table as it was, or gives
// a table whose saved text loads back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/JSONStorage.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace qvr;
  using namespace qvr::data;
  const std::string_view text(reinterpret_cast<const char*>(AData), ASize);
  TAdaptedDataSet table;
  table.FieldDefs().Add("Kept", TFieldType::ftInteger);
  table.Open();
  table.AppendRecord({7});
  try {
    TJSONStorage::Load(table, text);
  } catch (const EJSONStorageError&) {
    fuzz::Check(table.FieldCount() == 1 && table.RecordCount() == 1, "a failed load changed it");
    return 0;
  }
  const std::string saved = TJSONStorage::SaveToText(table);
  TAdaptedDataSet back;
  TJSONStorage::Load(back, saved);
  fuzz::Check(TJSONStorage::SaveToText(back) == saved, "save, load and save again differ");
  fuzz::Check(back.ColumnDefs() == table.ColumnDefs(), "the columns survive a round trip");
  return 0;
}
