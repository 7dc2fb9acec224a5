// The schema of the server's database, its upgrade from earlier versions,
// and the sample data a new database is seeded with: companies, time clocks,
// statuses, the users allowed to call (caja1 and kiosco, empty passwords),
// the options row and AEmployees employees with Spanish names, DNI numbers
// with their check letter, badge numbers, e-mail addresses and phone
// numbers. The data is the same on every machine for a given count (a fixed
// pseudo-random sequence); the password hashes are not (each has its salt).
#pragma once

#include <cstddef>
#include <string>

#include "server/Database.h"

namespace qvr::server {

// The schema version CreateSchema writes. 1 kept passwords as text; 2 keeps
// them as Argon2id hashes.
inline constexpr int kSchemaVersion = 2;

// Creates the tables (the database must be empty) and fills them, inside the
// caller's transaction.
void CreateSchema(TSqliteConnection& AConnection);
void SeedSampleData(TSqliteConnection& AConnection, int AEmployees);
// Brings the existing database APath to kSchemaVersion inside the caller's
// transaction: hashes every password kept as text (all of them in a version
// 1 database; in a version 2 one, rows added by hand since) and records the
// version. Returns the number of passwords hashed. Raises ESqliteError for a
// database that is no qvr-server's or has a schema this server does not know.
std::size_t UpgradeSchema(TSqliteConnection& AConnection, const std::string& APath);

}  // namespace qvr::server
