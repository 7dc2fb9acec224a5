// Fuzz target: a dataset stream in the binary storage format as any bytes
// (see StorageFormatFuzz.h for what is checked).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/BinStorage.h"
#include "fuzz/StorageFormatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using qvr::data::TBinStorage;
  qvr::fuzz::CheckStorageFormat<qvr::data::EStorageError>(
      std::string_view(reinterpret_cast<const char*>(AData), ASize),
      [](auto& ATable, std::string_view ABytes) { TBinStorage::Load(ATable, ABytes); },
      [](const auto& ATable) { return TBinStorage::SaveToBytes(ATable); });
  return 0;
}
