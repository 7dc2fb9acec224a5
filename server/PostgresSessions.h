// The sessions in the PostgreSQL database that several server instances
// share, so that a client's next request may reach any of them: the table
// sesiones holds each session's id, user and last use, in the database's
// clock (the instances' clocks may differ). Expiry and the bound on their
// number hold across the instances: an expired session reads as unknown
// wherever it is asked for, and the instances delete the expired ones
// (each at most once a second) and, beyond the bound, the least recently
// used, telling their cache area which went. A renewal of the last use is
// written at most every tenth of the time-out (and at least every second),
// which spares a write per request; a session may so expire that much
// early.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "server/PostgresDatabase.h"
#include "server/Sessions.h"

namespace qvr::server {

class TPostgresSessionStore : public TSessionStore {
 public:
  TPostgresSessionStore(TPgPool& APool, std::chrono::milliseconds AIdleTimeout,
                        std::size_t AMaxSessions, TDropEvent AOnDrop);

  // Raise EStoreUnavailable while the database cannot be reached.
  std::string Create(const std::string& AUserName) override;
  // A session this instance found live in the database within the renewal
  // period is taken as live without asking again: another instance's end of
  // it (ClearSession, expiry) shows here within that period.
  TLookup Touch(const std::string& AId, const std::string& AUserName) override;
  std::optional<TLookup> TouchFromMemory(const std::string& AId,
                                         const std::string& AUserName) override;
  bool CreatesInMemory() const override { return false; }
  // The end reaches the other instances' memory of the session within the
  // renewal period.
  void End(const std::string& AId) override;
  void Sweep() override;
  // The live sessions of every instance.
  std::size_t Count() const override;

 private:
  // Touch asked of the database.
  TLookup TouchDatabase(const std::string& AId, const std::string& AUserName);
  // Sweep, unless this instance swept within the last second.
  void SweepNowAndThen();

  TPgPool& FPool;
  const std::chrono::milliseconds FTimeout;
  const std::chrono::milliseconds FRenewal;
  const std::size_t FMax;
  std::atomic<std::chrono::steady_clock::rep> FLastSweep{0};

  // The sessions this instance saw live lately: id, user, when.
  struct TSeen {
    std::string UserName;
    std::chrono::steady_clock::time_point When;
  };
  // At most this many are remembered; beyond, the memory starts afresh.
  static constexpr std::size_t kMaxSeen = 65536;
  std::mutex FSeenLock;
  std::unordered_map<std::string, TSeen> FSeen;
};

}  // namespace qvr::server
