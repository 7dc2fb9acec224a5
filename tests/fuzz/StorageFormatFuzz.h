// The check shared by the fuzz targets of the dataset storage formats: a
// load of any input either raises the format's error and leaves the table as
// it was, or gives a table that saves and loads back to the same bytes, with
// the same columns, every one found by its name.
#pragma once

#include <string>
#include <string_view>

#include "data/DataSet.h"
#include "fuzz/FuzzSupport.h"

namespace qvr::fuzz {

// ALoad(table, bytes) and ASave(table) -> std::string are the format's
// functions; TError is the error it raises for bytes that are not its own.
template <typename TError, typename TLoad, typename TSave>
void CheckStorageFormat(std::string_view AInput, TLoad ALoad, TSave ASave) {
  using namespace qvr::data;
  TAdaptedDataSet table;
  table.FieldDefs().Add("Kept", TFieldType::ftInteger);
  table.Open();
  table.AppendRecord({7});
  try {
    ALoad(table, AInput);
  } catch (const TError&) {
    Check(table.FieldCount() == 1 && table.RecordCount() == 1, "a failed load changed the table");
    return;
  }
  const std::string saved = ASave(table);
  TAdaptedDataSet back;
  ALoad(back, saved);
  Check(ASave(back) == saved, "save, load and save again differ");
  Check(back.ColumnDefs() == table.ColumnDefs(), "the columns survive a round trip");
  for (int c = 0; c < table.FieldCount(); ++c) {
    const std::string& name = table.ColumnDefs()[static_cast<std::size_t>(c)].Name;
    Check(table.FieldByName(name).Index() == c, "a column is found by its name");
    for (int r = 0; r < table.RecordCount(); ++r) table.Value(r, c);
  }
}

}  // namespace qvr::fuzz
