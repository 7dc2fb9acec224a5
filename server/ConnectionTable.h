// The open connections of the front: counted in all and per client address,
// so that neither one client nor everyone together can hold more than the
// caps; and listed, so that a stopping server can end the ones waiting idle.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace qvr::server {

class TConnectionTable {
 public:
  TConnectionTable(std::size_t AMaxConnections, std::size_t AMaxPerClient)
      : FMax(AMaxConnections), FMaxPerClient(AMaxPerClient) {}
  TConnectionTable(const TConnectionTable&) = delete;
  TConnectionTable& operator=(const TConnectionTable&) = delete;

  // A connection's place in the table, given back when it goes.
  class TSlot {
   public:
    TSlot() = default;
    TSlot(TSlot&& AOther) noexcept
        : FTable(AOther.FTable), FAddress(std::move(AOther.FAddress)), FId(AOther.FId) {
      AOther.FTable = nullptr;
    }
    TSlot& operator=(TSlot&&) = delete;
    TSlot(const TSlot&) = delete;
    TSlot& operator=(const TSlot&) = delete;
    ~TSlot();

   private:
    friend class TConnectionTable;
    TConnectionTable* FTable = nullptr;
    std::string FAddress;
    std::size_t FId = 0;
  };

  // A slot for a new connection from AAddress, with AStop, which ends the
  // connection when the server stops (called on any thread); none when a cap
  // is reached.
  std::optional<TSlot> Enter(const std::string& AAddress, std::function<void()> AStop);
  // Calls the stop of every connection.
  void StopAll();
  std::size_t Count() const;

 private:
  void Leave(const std::string& AAddress, std::size_t AId);

  const std::size_t FMax;
  const std::size_t FMaxPerClient;
  mutable std::mutex FLock;
  std::map<std::string, std::size_t> FPerClient;
  std::map<std::size_t, std::function<void()>> FStops;
  std::size_t FNextId = 1;
};

}  // namespace qvr::server
