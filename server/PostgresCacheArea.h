// The cache area in the PostgreSQL database that several server instances
// share, so that an item cached through one instance is found through any:
// the table cache_comandos holds each command (its number, unique across
// the instances, its session, method, parameters, and the bytes it counts)
// and cache_valores its values. The bounds hold across the instances: every
// change of the area takes its turn on the one row of cache_total, which
// holds the bytes of all commands, and drops the session's oldest commands
// beyond its share and the oldest of any session beyond the area's size in
// the same transaction as the new one.
#pragma once

#include "server/CacheArea.h"
#include "server/PostgresDatabase.h"

namespace qvr::server {

class TPostgresCacheArea : public TCacheArea {
 public:
  TPostgresCacheArea(TPgPool& APool, std::size_t AMaxCommandsPerSession, std::size_t AMaxBytes);

  // Raise EStoreUnavailable while the database cannot be reached.
  std::vector<std::string> Store(const std::string& ASession, const std::string& AMethod,
                                 std::string AParameters, TMethodAnswer AAnswer) override;
  std::optional<TValue> Value(const std::string& ASession, std::string_view AItemPath) override;
  std::optional<std::string> Command(const std::string& ASession,
                                     std::string_view ACommandPath) override;
  bool Delete(const std::string& ASession, std::string_view ACommandPath) override;
  void DropSessions(const std::vector<std::string>& AIds) override;
  std::size_t Bytes() const override;
  std::size_t CommandCount() const override;

 private:
  TPgPool& FPool;
  const std::size_t FMaxPerSession;
  const std::size_t FMaxBytes;
};

}  // namespace qvr::server
