// The two stores the server's tests run against: SQLite in a temporary data
// folder, and PostgreSQL in the test binary's one cluster
// (support/PostgresCluster.h), made on first use and stopped when the
// binary ends; each server gets a database of its own in it. A table of
// cases is run against both with a value-parameterized test:
//
//   INSTANTIATE_TEST_SUITE_P(Stores, ServerMethodsTest, AllStores(), StoreName);
//   ... in SetUp: if (!StoreAvailable(GetParam())) GTEST_SKIP() << StoreMissing(GetParam());
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/PostgresCluster.h"

namespace qvr::test {

enum class TStoreKind { Sqlite, Postgres };

// Whether AKind can run here (PostgreSQL must be installed), and why not.
bool StoreAvailable(TStoreKind AKind);
std::string StoreMissing(TStoreKind AKind);
// The binary's cluster, started on first use. Raises std::runtime_error
// when PostgreSQL is not installed or does not start.
TPostgresCluster& SharedCluster();
// The options that put a new server on a new database of AKind: none for
// SQLite (the server's temporary data folder), --database with a new
// database of the cluster for PostgreSQL.
std::vector<std::string> StoreArgs(TStoreKind AKind);

inline auto AllStores() { return ::testing::Values(TStoreKind::Sqlite, TStoreKind::Postgres); }
// "SQLite" or "PostgreSQL", the parameter's name in test names.
std::string StoreName(const ::testing::TestParamInfo<TStoreKind>& AInfo);

}  // namespace qvr::test
