// The schema of the server's database and the sample data a new database is
// seeded with: companies, time clocks, statuses, the users allowed to call
// (caja1 and kiosco, empty passwords), the options row and AEmployees
// employees with Spanish names, DNI numbers with their check letter, badge
// numbers, e-mail addresses and phone numbers. The data is the same on every
// machine for a given count (a fixed pseudo-random sequence).
#pragma once

#include "server/Database.h"

namespace qvr::server {

// Creates the tables (the database must be empty) and fills them, inside the
// caller's transaction.
void CreateSchema(TSqliteConnection& AConnection);
void SeedSampleData(TSqliteConnection& AConnection, int AEmployees);

}  // namespace qvr::server
