// The counted registry of storage formats; see StorageFormats.h.
#include "data/StorageFormats.h"

#include <array>
#include <mutex>

namespace qvr::data {

namespace {

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

std::array<int, 2>& Registrations() {
  static std::array<int, 2> counts{};
  return counts;
}

std::size_t Slot(TStorageFormat AFormat) { return AFormat == TStorageFormat::sfBinary ? 0 : 1; }

}  // namespace

std::string StorageFormatName(TStorageFormat AFormat) {
  return AFormat == TStorageFormat::sfBinary ? "Binary" : "JSON";
}

bool IsStorageFormatRegistered(TStorageFormat AFormat) {
  std::scoped_lock guard(RegistryLock());
  return Registrations()[Slot(AFormat)] > 0;
}

TStorageLink::TStorageLink(TStorageFormat AFormat) : FFormat(AFormat) {
  std::scoped_lock guard(RegistryLock());
  ++Registrations()[Slot(AFormat)];
}

TStorageLink::~TStorageLink() {
  std::scoped_lock guard(RegistryLock());
  --Registrations()[Slot(FFormat)];
}

}  // namespace qvr::data
