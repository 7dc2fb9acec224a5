// The server's storage: one SQLite database (WAL mode) in the data folder,
// created with its schema and seeded with sample data on first start (an
// older one upgraded: SampleData.h), the check of every request's
// credentials, and the queries and changes the remote methods make. The
// schema and the meaning of every column are described in docs/server.md.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/MemTable.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONValues.h"
#include "server/Database.h"
#include "server/VerifiedPasswords.h"

namespace qvr::server {

class TAttendanceStore {
 public:
  // The most employees the seeding makes.
  static constexpr int kMaxSeedEmployees = 200000;
  // The file name of the database inside the data folder.
  static constexpr const char* kFileName = "qvr-server.db";

  // How long a verified password is taken on trust, and for how many users
  // at most (VerifiedPasswords.h).
  static constexpr std::chrono::seconds kVerifiedLifetime{60};
  static constexpr std::size_t kMaxVerified = 1024;

  // Opens ADataFolder/qvr-server.db, creating the folder and the database
  // when missing; a new database gets the schema and sample data with
  // ASeedEmployees employees, an older one is upgraded (its passwords kept
  // as text are hashed). Raises ESqliteError (or EHttpError-free Exception
  // for a folder that cannot be created) and then leaves no half-seeded or
  // half-upgraded database behind: each is one transaction.
  TAttendanceStore(const std::string& ADataFolder, int ASeedEmployees, std::size_t AMaxConnections);

  const std::string& Path() const { return FPool.Path(); }
  // Whether this start created and seeded the database.
  bool Seeded() const { return FSeeded; }
  // The passwords kept as text that this start hashed.
  std::size_t HashedPasswords() const { return FHashedPasswords; }
  // Counts the writes that change what the lists hold; the list answers are
  // cached until it moves.
  std::uint64_t DataVersion() const { return FDataVersion.load(); }

  // Whether AUserName may call the server with APassword: the user is in
  // the table usuarios now, and APassword verifies against its stored hash
  // (or did within kVerifiedLifetime, while that same hash is stored). An
  // unknown user takes the time of a verification too.
  bool UserAllowed(const std::string& AUserName, const std::string& APassword);
  // Whether AUserName is in the table usuarios now (a caller whose Kerberos
  // ticket proved the name, which takes no password).
  bool UserExists(const std::string& AUserName);
  int IDStatusDefault();

  // The datasets of the list methods (names and columns in docs/server.md).
  std::unique_ptr<data::TMemTable> Relojes();
  std::unique_ptr<data::TMemTable> Empresas();
  std::unique_ptr<data::TMemTable> PersonalParcial();
  std::unique_ptr<data::TMemTable> PersonalCompleta();
  std::unique_ptr<data::TMemTable> Status();

  bool EmployeeExists(std::int32_t ACodigo);
  // The employee's members, or an empty object when there is none.
  std::unique_ptr<rest::TJSONObject> EmployeeInfo(std::int32_t ACodigo);
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
  std::int64_t AttendanceCount();

 private:
  std::unique_ptr<data::TMemTable> Query(const std::string& ASql,
                                         const std::vector<data::TFieldDef>& AColumns);

  TConnectionPool FPool;
  TVerifiedPasswords FVerified{kVerifiedLifetime, kMaxVerified};
  bool FSeeded = false;
  std::size_t FHashedPasswords = 0;
  std::atomic<std::uint64_t> FDataVersion{1};
};

}  // namespace qvr::server
