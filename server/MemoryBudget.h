// The server-wide budget of bytes in flight: request bodies being read, JSON
// being parsed, datasets inflating. Whatever may hold much memory for a
// request reserves it here first, so that many maximal requests at once
// cannot together take more than the budget; a reservation the budget cannot
// grant is refused, and the front then waits briefly or answers 503.
#pragma once

#include <cstddef>
#include <mutex>

namespace qvr::server {

class TMemoryBudget {
 public:
  explicit TMemoryBudget(std::size_t ALimit) : FLimit(ALimit) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  // Bytes reserved and released through it; moves, never copies. Releases
  // what it holds when it goes.
  class TReservation {
   public:
    TReservation() = default;
    TReservation(TReservation&& AOther) noexcept : FBudget(AOther.FBudget), FBytes(AOther.FBytes) {
      AOther.FBudget = nullptr;
      AOther.FBytes = 0;
    }
    TReservation& operator=(TReservation&& AOther) noexcept;
    TReservation(const TReservation&) = delete;
    TReservation& operator=(const TReservation&) = delete;
    ~TReservation() { Release(); }

    std::size_t Bytes() const noexcept { return FBytes; }
    // Adds ABytes to the reservation; false (and nothing added) when the
    // budget cannot grant them.
    bool Grow(std::size_t ABytes);
    void Release() noexcept;

   private:
    friend class TMemoryBudget;
    TMemoryBudget* FBudget = nullptr;
    std::size_t FBytes = 0;
  };

  // An empty reservation on this budget, to grow as bytes are needed.
  TReservation Open() {
    TReservation reservation;
    reservation.FBudget = this;
    return reservation;
  }

  std::size_t Limit() const noexcept { return FLimit; }
  std::size_t InUse() const;

 private:
  bool Take(std::size_t ABytes);
  void Give(std::size_t ABytes) noexcept;

  const std::size_t FLimit;
  mutable std::mutex FLock;
  std::size_t FInUse = 0;
};

}  // namespace qvr::server
