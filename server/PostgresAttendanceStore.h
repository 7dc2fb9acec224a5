// The store on PostgreSQL, for sites that run several server instances on
// a database server of their own: `qvr-server --database postgresql://...`.
// The same tables as on SQLite, created, seeded and upgraded by the server
// (the table esquema holds the version; instances starting together take
// turns), every statement with bound parameters, every change one
// transaction. Besides the data it holds what the instances share: the
// sessions and the cache area (PostgresSessions.h, PostgresCacheArea.h)
// and a counter of changes to the listed data, so that each instance's
// encoded list answers follow a change made through another. Each change
// of the counter is also notified (channel qvr_version_datos) to every
// instance, which so knows the counter without asking for it on each list.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "server/AttendanceStore.h"
#include "server/PostgresDatabase.h"
#include "server/PostgresNotifications.h"

namespace qvr::server {

class TPostgresAttendanceStore : public TAttendanceStore {
 public:
  // Connects to ASettings.Database; see OpenAttendanceStore.
  explicit TPostgresAttendanceStore(const TStoreSettings& ASettings);

  std::string Location() const override { return FPool.URL(); }
  // The counter as the notifications tell it, without a round trip, while
  // they can be trusted (a change through another instance shows once its
  // notification arrived, within a moment of its commit); read from the
  // database otherwise.
  std::uint64_t DataVersion() override;
  void CheckReachable() override;

  int IDStatusDefault() override;
  bool EmployeeExists(std::int32_t ACodigo) override;
  std::unique_ptr<rest::TJSONObject> EmployeeInfo(std::int32_t ACodigo) override;
  std::int64_t AttendanceCount() override;
  std::optional<std::string> StoredPasswordHash(const std::string& AUID) override;

  std::unique_ptr<TSessionStore> MakeSessionStore(std::chrono::milliseconds AIdleTimeout,
                                                  std::size_t AMaxSessions,
                                                  TSessionStore::TDropEvent AOnDrop) override;
  std::unique_ptr<TCacheArea> MakeCacheArea(std::size_t AMaxCommandsPerSession,
                                            std::size_t AMaxBytes) override;

 protected:
  bool ChangeEmployee(std::int64_t ACodigo, const std::vector<TEmployeeChange>& AChanges) override;
  void InsertAttendance(const std::string& AArchivo, const std::vector<TAttendanceRow>& ARows,
                        const std::string& AUserName, const std::string& AReceived) override;
  bool InsertUser(const std::string& AUID, const std::string& AHash,
                  const std::string& ANombre) override;
  bool ChangeUserHash(const std::string& AUID, const std::string& AHash) override;
  bool DeleteUser(const std::string& AUID) override;
  std::vector<TUserRow> UserRows() override;

 private:
  std::unique_ptr<data::TMemTable> Query(const std::string& ASql,
                                         const std::vector<data::TFieldDef>& AColumns) override;
  // Creates or upgrades the schema (and seeds a new one) in one
  // transaction.
  void Prepare(const TStoreSettings& ASettings);
  // Raises the known counter to AVersion (never lowers it).
  void KnowVersion(std::uint64_t AVersion);

  TPgPool FPool;
  std::atomic<bool> FVersionTrusted{false};
  std::atomic<std::uint64_t> FKnownVersion{0};
  // Started by the first DataVersion (the user commands never list);
  // declared last, so that it stops before what its events touch goes.
  std::once_flag FListenerStarted;
  std::unique_ptr<TPgListener> FVersionListener;
};

// Inserts ARows rows of AColumns values each (AAddRow adds row i's values
// in column order) with "<AInsert> VALUES (...), (...)" statements of a few
// fixed sizes, so that a large insert takes few round trips and a
// connection prepares few statements.
void InsertRowsInBatches(TPgConnection& AConnection, std::string_view AInsert, int AColumns,
                         std::size_t ARows,
                         const std::function<void(std::size_t, TPgParams&)>& AAddRow);

}  // namespace qvr::server
