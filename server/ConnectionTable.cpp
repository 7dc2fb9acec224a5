// The open connections of the front; see ConnectionTable.h.
#include "server/ConnectionTable.h"

#include <vector>

namespace qvr::server {

TConnectionTable::TSlot::~TSlot() {
  if (FTable != nullptr) FTable->Leave(FAddress, FId);
}

std::optional<TConnectionTable::TSlot> TConnectionTable::Enter(const std::string& AAddress,
                                                               std::function<void()> AStop) {
  std::scoped_lock lock(FLock);
  if (FStops.size() >= FMax) return std::nullopt;
  std::size_t& mine = FPerClient[AAddress];
  if (mine >= FMaxPerClient) return std::nullopt;
  ++mine;
  TSlot slot;
  slot.FTable = this;
  slot.FAddress = AAddress;
  slot.FId = FNextId++;
  FStops.emplace(slot.FId, std::move(AStop));
  return slot;
}

void TConnectionTable::StopAll() {
  std::vector<std::function<void()>> stops;
  {
    std::scoped_lock lock(FLock);
    for (const auto& [id, stop] : FStops) stops.push_back(stop);
  }
  // Outside the lock: a stop may end its connection, which then leaves.
  for (const auto& stop : stops) stop();
}

std::size_t TConnectionTable::Count() const {
  std::scoped_lock lock(FLock);
  return FStops.size();
}

void TConnectionTable::Leave(const std::string& AAddress, std::size_t AId) {
  std::scoped_lock lock(FLock);
  FStops.erase(AId);
  const auto it = FPerClient.find(AAddress);
  if (it != FPerClient.end() && --it->second == 0) FPerClient.erase(it);
}

}  // namespace qvr::server
