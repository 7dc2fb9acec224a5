// A real PostgreSQL cluster for the tests and benchmarks: Debian's
// postgresql package (initdb, pg_ctl) made in a temporary folder, listening
// on a free port of 127.0.0.1 and a socket in its own folder, and removed
// with the object. PostgreSQL refuses to run as root, so as root the
// cluster runs as the user nobody, with its folder owned by nobody; as
// any other user it runs as that user. One cluster serves a test binary;
// each test takes a database of its own (CreateDatabase).
//
//   if (!TPostgresCluster::Installed()) GTEST_SKIP() << TPostgresCluster::kMissing;
//   TPostgresCluster cluster;
//   const std::string url = cluster.CreateDatabase();   // postgresql://...
//   TServerProcess server({"--database", url});
#pragma once

#include <string>
#include <vector>

namespace qvr::test {

class TPostgresCluster {
 public:
  static constexpr const char* kMissing =
      "PostgreSQL is not installed (scripts/install-deps installs it): no test of the "
      "PostgreSQL store";
  // Whether Debian's PostgreSQL server programs are there
  // (/usr/lib/postgresql/<version>/bin).
  static bool Installed();

  // How much of what is committed survives a crash of the machine.
  enum class TDurability {
    // Nothing is flushed (fsync off), as a throwaway cluster can afford.
    Throwaway,
    // What the SQLite store keeps (WAL, synchronous NORMAL): the data files
    // are flushed and never left torn, but a commit returns before it is
    // flushed, so the last moment's commits may be lost.
    AsSqlite,
    // PostgreSQL's defaults: every commit flushed before it returns.
    Flushed,
  };
  // Makes and starts the cluster. Raises std::runtime_error when it cannot.
  explicit TPostgresCluster(TDurability ADurability = TDurability::Throwaway);
  // Stops the cluster at once and removes its folder.
  ~TPostgresCluster();
  TPostgresCluster(const TPostgresCluster&) = delete;
  TPostgresCluster& operator=(const TPostgresCluster&) = delete;

  int Port() const { return FPort; }
  // A new empty database; returns its URL, postgresql://qvr@127.0.0.1:<port>/<name>.
  std::string CreateDatabase();
  // The rows of ASql run in the database of AURL with psql, their cells
  // joined by "|" ("" for NULL). Raises std::runtime_error when psql fails.
  std::vector<std::string> Rows(const std::string& AURL, const std::string& ASql) const;
  // The first row of Rows, or "" when there is none.
  std::string One(const std::string& AURL, const std::string& ASql) const;

  // Stops the cluster (pg_ctl stop, fast: open connections are ended) and
  // starts it again, on the same port.
  void Stop();
  void Start();
  bool Running() const { return FRunning; }
  // The cluster's log so far.
  std::string Log() const;

 private:
  // The arguments that run the PostgreSQL program AProgram as the
  // cluster's owner.
  std::vector<std::string> AsOwner(const std::string& AProgram,
                                   std::vector<std::string> AArgs) const;
  void Run(const std::string& AProgram, const std::vector<std::string>& AArgs) const;

  std::string FBin;
  std::string FFolder;
  int FPort = 0;
  int FDatabases = 0;
  bool FRunning = false;
};

}  // namespace qvr::test
