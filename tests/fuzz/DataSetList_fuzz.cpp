// Fuzz target: a dataset list document as the server sends it, as any text,
// read the way the client reads it (JSON text, marshalled object, base64,
// inflate, binary storage). A document that does not read fails with the
// library's exceptions only; every dataset of a list that reads saves to a
// blob that reads back into a table saving to the same storage bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/BinStorage.h"
#include "fuzz/FuzzSupport.h"
#include "platform/SysUtils.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace qvr;
  using namespace qvr::rest;
  const std::unique_ptr<TJSONValue> doc =
      ParseJSON(std::string_view(reinterpret_cast<const char*>(AData), ASize));
  if (doc == nullptr) return 0;
  std::unique_ptr<TObject> object;
  try {
    object = TJSONConverters::GetJSONUnMarshaler()->Unmarshal(*doc);
  } catch (const Exception&) {
    return 0;
  }
  const auto* list = dynamic_cast<const TDataSetList*>(object.get());
  if (list == nullptr) return 0;
  fuzz::Check(list->OwnsDataSets(), "a list read from a document owns its datasets");
  fuzz::Check(static_cast<int>(list->Names().size()) == list->Count(), "a name per dataset");
  for (int i = 0; i < list->Count(); ++i) {
    const data::TAdaptedDataSet& table = list->DataSet(i);
    const std::string storage = data::TBinStorage::SaveToBytes(table);
    const std::string blob = TDataSetListInterceptor::DataSetToBlob(table);
    const auto copy = TDataSetListInterceptor::BlobToDataSet(blob);
    fuzz::Check(data::TBinStorage::SaveToBytes(*copy) == storage,
                "a dataset's blob reads back to the same storage");
  }
  return 0;
}
