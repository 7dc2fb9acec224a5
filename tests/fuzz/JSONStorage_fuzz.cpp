// Fuzz target: a dataset in the JSON storage format as any text (see
// StorageFormatFuzz.h for what is checked).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/JSONStorage.h"
#include "fuzz/StorageFormatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using qvr::data::TJSONStorage;
  qvr::fuzz::CheckStorageFormat<qvr::data::EJSONStorageError>(
      std::string_view(reinterpret_cast<const char*>(AData), ASize),
      [](auto& ATable, std::string_view AText) { TJSONStorage::Load(ATable, AText); },
      [](const auto& ATable) { return TJSONStorage::SaveToText(ATable); });
  return 0;
}
