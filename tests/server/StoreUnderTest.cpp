// The stores of the server's tests; see StoreUnderTest.h.
#include "server/StoreUnderTest.h"

#include <memory>

namespace qvr::test {

bool StoreAvailable(TStoreKind AKind) {
  return AKind == TStoreKind::Sqlite || TPostgresCluster::Installed();
}

std::string StoreMissing(TStoreKind AKind) {
  return AKind == TStoreKind::Sqlite ? std::string() : TPostgresCluster::kMissing;
}

TPostgresCluster& SharedCluster() {
  // Destroyed when the binary ends, which stops the cluster and removes its
  // folder.
  static const std::unique_ptr<TPostgresCluster> cluster = std::make_unique<TPostgresCluster>();
  return *cluster;
}

std::vector<std::string> StoreArgs(TStoreKind AKind) {
  if (AKind == TStoreKind::Sqlite) return {};
  return {"--database", SharedCluster().CreateDatabase()};
}

std::string StoreName(const ::testing::TestParamInfo<TStoreKind>& AInfo) {
  return AInfo.param == TStoreKind::Sqlite ? "SQLite" : "PostgreSQL";
}

}  // namespace qvr::test
