// The server-wide budget of bytes in flight; see MemoryBudget.h.
#include "server/MemoryBudget.h"

namespace qvr::server {

TMemoryBudget::TReservation& TMemoryBudget::TReservation::operator=(
    TReservation&& AOther) noexcept {
  if (this != &AOther) {
    Release();
    FBudget = AOther.FBudget;
    FBytes = AOther.FBytes;
    AOther.FBudget = nullptr;
    AOther.FBytes = 0;
  }
  return *this;
}

bool TMemoryBudget::TReservation::Grow(std::size_t ABytes) {
  if (FBudget == nullptr || !FBudget->Take(ABytes)) return false;
  FBytes += ABytes;
  return true;
}

void TMemoryBudget::TReservation::Release() noexcept {
  if (FBudget != nullptr && FBytes > 0) FBudget->Give(FBytes);
  FBytes = 0;
}

std::size_t TMemoryBudget::InUse() const {
  std::scoped_lock lock(FLock);
  return FInUse;
}

bool TMemoryBudget::Take(std::size_t ABytes) {
  std::scoped_lock lock(FLock);
  if (ABytes > FLimit - FInUse) return false;
  FInUse += ABytes;
  return true;
}

void TMemoryBudget::Give(std::size_t ABytes) noexcept {
  std::scoped_lock lock(FLock);
  FInUse -= ABytes;
}

}  // namespace qvr::server
