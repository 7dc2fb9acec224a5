// The store on SQLite, the embedded default: one database file,
// qvr-server.db, in the data folder (WAL mode), created with its schema and
// seeded on first start, an older one upgraded. Request threads borrow
// connections from a pool; every change is one BEGIN IMMEDIATE transaction.
// Sessions and the cache area stay in the server's memory. Other programs
// may change the file meanwhile (the user commands do); changes to the
// listed data made by others reach the list answers after this server's
// next change or a restart.
#pragma once

#include <atomic>

#include "server/AttendanceStore.h"
#include "server/Database.h"

namespace qvr::server {

class TSqliteAttendanceStore : public TAttendanceStore {
 public:
  // Opens ASettings.DataFolder/qvr-server.db; see OpenAttendanceStore.
  explicit TSqliteAttendanceStore(const TStoreSettings& ASettings);

  std::string Location() const override { return FPool.Path(); }
  std::uint64_t DataVersion() override { return FDataVersion.load(); }
  void CheckReachable() override;

  int IDStatusDefault() override;
  bool EmployeeExists(std::int32_t ACodigo) override;
  std::unique_ptr<rest::TJSONObject> EmployeeInfo(std::int32_t ACodigo) override;
  std::int64_t AttendanceCount() override;
  std::optional<std::string> StoredPasswordHash(const std::string& AUID) override;

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

  TConnectionPool FPool;
  std::atomic<std::uint64_t> FDataVersion{1};
};

}  // namespace qvr::server
