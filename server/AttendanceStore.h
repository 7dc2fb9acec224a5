// The server's storage as the rest of the server sees it: the check of every
// request's credentials, the queries and changes of the remote methods, the
// users, and where the sessions and the cache area live. Two stores hold
// it: SQLite in the data folder (SqliteAttendanceStore.h, the embedded
// default) and PostgreSQL (PostgresAttendanceStore.h, for several server
// instances on one database). Both have the same tables and seed, create
// and upgrade their schema themselves; docs/server.md describes them.
//
// TAttendanceStore is an abstract class rather than an I... interface: it
// holds what both stores share (the verification cache, the reading and
// checking of employee changes and uploads, the rules of user changes) and
// leaves the statements to the stores.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/MemTable.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONValues.h"
#include "server/CacheArea.h"
#include "server/ServerErrors.h"
#include "server/Sessions.h"
#include "server/UserAccounts.h"
#include "server/VerifiedPasswords.h"

namespace qvr::server {

// The database cannot be reached now (stopped, restarting, the network
// away): the request is answered 503 and may be tried again; nothing of it
// was stored.
class EStoreUnavailable : public EHttpError {
 public:
  explicit EStoreUnavailable(std::string AMessage) : EHttpError(503, std::move(AMessage)) {}
};

// Which store to open, and how.
struct TStoreSettings {
  // A PostgreSQL URL (postgresql://... or postgres://...): that database.
  // Empty: SQLite, the file kFileName in DataFolder.
  std::string Database;
  std::string DataFolder;
  // Employees of a newly created database.
  int SeedEmployees = 300;
  // Connections the request threads may hold at once.
  std::size_t MaxConnections = 8;
  // ExistingOnly: the database must exist with its schema (a user command
  // never creates one, so a mistyped folder or URL is no new database).
  enum class TOpenMode { CreateWhenMissing, ExistingOnly };
  TOpenMode Mode = TOpenMode::CreateWhenMissing;
};

class TAttendanceStore {
 public:
  // The most employees the seeding makes.
  static constexpr int kMaxSeedEmployees = 200000;
  // The file name of the SQLite database inside the data folder.
  static constexpr const char* kFileName = "qvr-server.db";

  // How long a verified password is taken on trust, and for how many users
  // at most (VerifiedPasswords.h).
  static constexpr std::chrono::seconds kVerifiedLifetime{60};
  static constexpr std::size_t kMaxVerified = 1024;

  TAttendanceStore() = default;
  virtual ~TAttendanceStore() = default;
  TAttendanceStore(const TAttendanceStore&) = delete;
  TAttendanceStore& operator=(const TAttendanceStore&) = delete;

  // Where the data is, for messages: the database file, or the URL.
  virtual std::string Location() const = 0;
  // Whether this start created and seeded the database.
  bool Seeded() const { return FSeeded; }
  // The passwords kept as text that this start hashed.
  std::size_t HashedPasswords() const { return FHashedPasswords; }
  // Moves whenever what the lists hold changes (through this server or, in
  // a shared database, another instance); the list answers are cached until
  // it moves.
  virtual std::uint64_t DataVersion() = 0;
  // Raises EStoreUnavailable unless the database answers now (the health
  // check of a load balancer).
  virtual void CheckReachable() = 0;

  // Whether AUserName may call the server with APassword: the user is in
  // the table usuarios now, and APassword verifies against its stored hash
  // (or did within kVerifiedLifetime, while that same hash is stored). An
  // unknown user takes the time of a verification too.
  bool UserAllowed(const std::string& AUserName, const std::string& APassword);
  // Whether AUserName was allowed with APassword by UserAllowed a moment
  // ago (its stored hash seen unchanged within a second), answered from
  // memory without the database; false says only "ask UserAllowed".
  bool UserRecentlyAllowed(const std::string& AUserName, const std::string& APassword);
  virtual int IDStatusDefault() = 0;

  // The datasets of the list methods (names and columns in docs/server.md).
  std::unique_ptr<data::TMemTable> Relojes();
  std::unique_ptr<data::TMemTable> Empresas();
  std::unique_ptr<data::TMemTable> PersonalParcial();
  std::unique_ptr<data::TMemTable> PersonalCompleta();
  std::unique_ptr<data::TMemTable> Status();

  virtual bool EmployeeExists(std::int32_t ACodigo) = 0;
  // The employee's members, or an empty object when there is none.
  virtual std::unique_ptr<rest::TJSONObject> EmployeeInfo(std::int32_t ACodigo) = 0;
  // Changes the members ADatos names of the employee ADatos["Codigo"].
  // Returns false when no employee has that code. Raises EHttpError 400 for
  // a missing code, an unknown member, a value of the wrong kind or a
  // reference to a company, clock or status that does not exist; nothing is
  // changed then.
  bool UpdateEmployee(const rest::TJSONObject& ADatos);
  // Appends every row of every dataset of AList to the attendance table in
  // one transaction, all or nothing, and returns the number of rows. Raises
  // EHttpError 400 for a dataset without the columns Codigo and FechaHora,
  // and (naming dataset, row and column) for a value that is no integer or
  // no date and time (CalendarText.h); nothing is stored then.
  std::size_t AppendAttendance(const std::string& AArchivo, const rest::TDataSetList& AList,
                               const std::string& AUserName);
  // Rows in the attendance table (for tests and the command line).
  virtual std::int64_t AttendanceCount() = 0;

  // The users (UserAccounts.h). Each change is one transaction, and a
  // password is hashed before it begins, so the table is never locked for
  // the time of a hash.
  // The stored hash of AUID's password; nothing when there is no such user.
  virtual std::optional<std::string> StoredPasswordHash(const std::string& AUID) = 0;
  bool UserExists(const std::string& AUID) { return StoredPasswordHash(AUID).has_value(); }
  // Raises EUserError for a bad name or a user that exists; the table is
  // unchanged then.
  void AddUser(const std::string& AUID, const std::string& ANombre, std::string_view APassword);
  // Raises EUserError when there is no such user.
  void SetUserPassword(const std::string& AUID, std::string_view APassword);
  // Raises EUserError when there is no such user.
  void RemoveUser(const std::string& AUID);
  // Every user, ordered by UID. Telling whether a password is empty takes a
  // verification per user (some 170 ms each).
  std::vector<TUserAccount> ListUsers();

  // Where the sessions and the cache area live. The SQLite store keeps them
  // in the server's memory; a shared database keeps them in its tables, so
  // that every instance on it honours a client's session and finds its
  // cached items.
  virtual std::unique_ptr<TSessionStore> MakeSessionStore(std::chrono::milliseconds AIdleTimeout,
                                                          std::size_t AMaxSessions,
                                                          TSessionStore::TDropEvent AOnDrop);
  virtual std::unique_ptr<TCacheArea> MakeCacheArea(std::size_t AMaxCommandsPerSession,
                                                    std::size_t AMaxBytes);

 protected:
  // The rows of ASql as a table with the columns AColumns, in their order;
  // each store reads its own engine's values into them. The list methods'
  // statements are written once, in the SQL both engines speak.
  virtual std::unique_ptr<data::TMemTable> Query(const std::string& ASql,
                                                 const std::vector<data::TFieldDef>& AColumns) = 0;

  // One column ActualizarEmpleado changes, checked already.
  struct TEmployeeChange {
    const char* Member;
    const char* Column;
    bool IsInteger;
    // The table whose key an integer must name, or null.
    const char* ReferencedTable;
    const char* ReferencedColumn;
    std::int64_t Integer = 0;
    std::string Text;
  };
  // Applies AChanges to the employee ACodigo in one transaction: false when
  // there is no such employee; EHttpError 400 (through
  // MissingReference) when an integer names no row. Moves DataVersion when
  // something changed.
  virtual bool ChangeEmployee(std::int64_t ACodigo,
                              const std::vector<TEmployeeChange>& AChanges) = 0;
  static EHttpError MissingReference(const TEmployeeChange& AChange);

  // One attendance row of an upload, read and checked already.
  struct TAttendanceRow {
    const std::string* Set;
    std::int64_t Codigo;
    std::string FechaHora;
    std::optional<std::int64_t> Reloj;
    std::optional<std::int64_t> Tipo;
  };
  // Stores ARows in one transaction, all or none.
  virtual void InsertAttendance(const std::string& AArchivo,
                                const std::vector<TAttendanceRow>& ARows,
                                const std::string& AUserName, const std::string& AReceived) = 0;

  // The users table: false when the user exists (InsertUser) or does not
  // (the others); each one transaction.
  virtual bool InsertUser(const std::string& AUID, const std::string& AHash,
                          const std::string& ANombre) = 0;
  virtual bool ChangeUserHash(const std::string& AUID, const std::string& AHash) = 0;
  virtual bool DeleteUser(const std::string& AUID) = 0;
  struct TUserRow {
    std::string UID;
    std::string Nombre;
    std::string Hash;
  };
  // Ordered by UID.
  virtual std::vector<TUserRow> UserRows() = 0;

  bool FSeeded = false;
  std::size_t FHashedPasswords = 0;

 private:
  TVerifiedPasswords FVerified{kVerifiedLifetime, kMaxVerified};
};

// Whether ADatabase names a PostgreSQL database (a postgresql:// or
// postgres:// URL).
bool IsPostgresUrl(std::string_view ADatabase);

// Opens the store ASettings name: SQLite in the data folder (the folder and
// the database created when missing, unless ExistingOnly) or PostgreSQL. A
// new database gets the schema and the sample data; an older one is
// upgraded (its passwords kept as text are hashed). Raises ESqliteError,
// EPostgresError, EStoreUnavailable (PostgreSQL not reachable) or Exception
// (a folder that cannot be created, no database with ExistingOnly), and then
// leaves no half-seeded or half-upgraded database behind.
std::unique_ptr<TAttendanceStore> OpenAttendanceStore(const TStoreSettings& ASettings);

}  // namespace qvr::server
