// A PostgreSQL cluster of the tests; see PostgresCluster.h.
#include "support/PostgresCluster.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/HttpTestServers.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace qvr::test {

namespace {

// nobody and nogroup on Debian.
constexpr const char* kNobody = "65534";

// The bin folder of the newest PostgreSQL Debian installed; "" for none.
std::string BinFolder() {
  const std::string base = "/usr/lib/postgresql";
  std::vector<int> versions;
  if (DIR* folder = ::opendir(base.c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      const int version = std::atoi(entry->d_name);
      const std::string initdb = base + "/" + entry->d_name + "/bin/initdb";
      if (version > 0 && ::access(initdb.c_str(), X_OK) == 0) versions.push_back(version);
    }
    ::closedir(folder);
  }
  if (versions.empty()) return {};
  return base + "/" + std::to_string(*std::max_element(versions.begin(), versions.end())) + "/bin";
}

}  // namespace

bool TPostgresCluster::Installed() { return !BinFolder().empty(); }

TPostgresCluster::TPostgresCluster(TDurability ADurability) : FBin(BinFolder()) {
  if (FBin.empty()) throw std::runtime_error(kMissing);
  // Under /tmp as root: the folders above must let nobody through.
  const char* temp = std::getenv("TMPDIR");
  std::string pattern =
      (RunningAsRoot() || temp == nullptr ? std::string("/tmp") : temp) + "/qvr-pg-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FFolder = pattern;
  std::filesystem::create_directory(FFolder + "/socket");
  if (RunningAsRoot()) {
    RunProgram("/bin/chown", {"-R", std::string(kNobody) + ":" + kNobody, FFolder});
  }
  Run(FBin + "/initdb",
      {"-D", FFolder + "/data", "-U", "qvr", "--auth=trust", "-E", "UTF8", "--no-locale", "-N"});
  FPort = ClosedPort();
  std::string settings = "\n# Set by the tests' cluster launcher.\n";
  settings += "listen_addresses = '127.0.0.1'\n";
  settings += "port = " + std::to_string(FPort) + "\n";
  settings += "unix_socket_directories = '" + FFolder + "/socket'\n";
  // Two instances of 32 request threads each, and the tests' own.
  settings += "max_connections = 200\n";
  settings += "shared_buffers = 64MB\n";
  switch (ADurability) {
    case TDurability::Throwaway:
      settings += "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n";
      break;
    case TDurability::AsSqlite:
      settings += "synchronous_commit = off\n";
      break;
    case TDurability::Flushed:
      break;
  }
  // As the owner: the file is the cluster's.
  const std::string conf = FFolder + "/data/postgresql.conf";
  WriteFileBytes(conf, ReadFileBytes(conf) + settings);
  Start();
}

TPostgresCluster::~TPostgresCluster() {
  if (FRunning) {
    try {
      Run(FBin + "/pg_ctl", {"stop", "-D", FFolder + "/data", "-m", "immediate", "-w"});
    } catch (...) {
      // The folder goes anyway.
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(FFolder, ignored);
}

std::vector<std::string> TPostgresCluster::AsOwner(const std::string& AProgram,
                                                   std::vector<std::string> AArgs) const {
  if (!RunningAsRoot()) {
    AArgs.insert(AArgs.begin(), AProgram);
    return AArgs;
  }
  std::vector<std::string> args = {"--reuid=" + std::string(kNobody),
                                   "--regid=" + std::string(kNobody), "--clear-groups", AProgram};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  return args;
}

void TPostgresCluster::Run(const std::string& AProgram,
                           const std::vector<std::string>& AArgs) const {
  auto args = AsOwner(AProgram, AArgs);
  const std::string program = RunningAsRoot() ? "/usr/bin/setpriv" : args.front();
  if (!RunningAsRoot()) args.erase(args.begin());
  TProgramOptions options;
  // PostgreSQL's programs look at their working folder, which must be one
  // the owner may enter.
  options.WorkingFolder = FFolder;
  options.Limit = std::chrono::seconds(120);
  const TProgramResult result = RunProgram(program, args, options);
  if (result.Status != 0) {
    throw std::runtime_error(AProgram + " failed (" + std::to_string(result.Status) +
                             "): " + result.Out + result.Err + "\n" + Log());
  }
}

void TPostgresCluster::Start() {
  Run(FBin + "/pg_ctl",
      {"start", "-D", FFolder + "/data", "-l", FFolder + "/log", "-w", "-t", "60"});
  FRunning = true;
}

void TPostgresCluster::Stop() {
  Run(FBin + "/pg_ctl", {"stop", "-D", FFolder + "/data", "-m", "fast", "-w", "-t", "60"});
  FRunning = false;
}

std::string TPostgresCluster::Log() const {
  return PathExists(FFolder + "/log") ? ReadFileBytes(FFolder + "/log") : std::string();
}

std::string TPostgresCluster::CreateDatabase() {
  const std::string name = "qvr_" + std::to_string(++FDatabases);
  const std::string admin = "postgresql://qvr@127.0.0.1:" + std::to_string(FPort) + "/postgres";
  Rows(admin, "CREATE DATABASE " + name);
  return "postgresql://qvr@127.0.0.1:" + std::to_string(FPort) + "/" + name;
}

std::vector<std::string> TPostgresCluster::Rows(const std::string& AURL,
                                                const std::string& ASql) const {
  TProgramOptions options;
  options.Limit = std::chrono::seconds(60);
  const TProgramResult result = RunProgram(
      FBin + "/psql",
      {"-X", "-q", "-A", "-t", "-F", "|", "-v", "ON_ERROR_STOP=1", "-d", AURL, "-c", ASql},
      options);
  if (result.Status != 0) throw std::runtime_error("psql failed: " + ASql + ": " + result.Err);
  std::vector<std::string> rows;
  std::stringstream lines(result.Out);
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  return rows;
}

std::string TPostgresCluster::One(const std::string& AURL, const std::string& ASql) const {
  const auto rows = Rows(AURL, ASql);
  return rows.empty() ? std::string() : rows.front();
}

}  // namespace qvr::test
