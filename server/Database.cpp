// SQLite connections, statements, transactions and the pool; see Database.h.
#include "server/Database.h"

#include <sqlite3.h>

#include <utility>

namespace qvr::server {

namespace {

[[noreturn]] void Fail(sqlite3* ADb, const std::string& AWhat) {
  throw ESqliteError(AWhat + ": " + (ADb != nullptr ? sqlite3_errmsg(ADb) : "out of memory"));
}

}  // namespace

// ---------------------------------------------------------------------------
// TSqliteStatement

TSqliteStatement::TSqliteStatement(sqlite3* ADb, std::string_view ASql) : FDb(ADb) {
  if (sqlite3_prepare_v2(FDb, ASql.data(), static_cast<int>(ASql.size()), &FStatement, nullptr) !=
      SQLITE_OK) {
    Fail(FDb, "Cannot prepare statement");
  }
}

TSqliteStatement::~TSqliteStatement() { sqlite3_finalize(FStatement); }

TSqliteStatement::TSqliteStatement(TSqliteStatement&& AOther) noexcept
    : FDb(AOther.FDb), FStatement(std::exchange(AOther.FStatement, nullptr)) {}

TSqliteStatement& TSqliteStatement::Bind(int AIndex, std::int64_t AValue) {
  if (sqlite3_bind_int64(FStatement, AIndex, AValue) != SQLITE_OK) Fail(FDb, "Cannot bind");
  return *this;
}

TSqliteStatement& TSqliteStatement::Bind(int AIndex, double AValue) {
  if (sqlite3_bind_double(FStatement, AIndex, AValue) != SQLITE_OK) Fail(FDb, "Cannot bind");
  return *this;
}

TSqliteStatement& TSqliteStatement::Bind(int AIndex, std::string_view AText) {
  // SQLITE_TRANSIENT: the text is copied, so the caller's buffer may go.
  if (sqlite3_bind_text64(FStatement, AIndex, AText.data(), AText.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8) != SQLITE_OK) {
    Fail(FDb, "Cannot bind");
  }
  return *this;
}

TSqliteStatement& TSqliteStatement::BindNull(int AIndex) {
  if (sqlite3_bind_null(FStatement, AIndex) != SQLITE_OK) Fail(FDb, "Cannot bind");
  return *this;
}

bool TSqliteStatement::Step() {
  const int rc = sqlite3_step(FStatement);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(FDb, "Statement failed");
}

void TSqliteStatement::Reset() {
  sqlite3_reset(FStatement);
  sqlite3_clear_bindings(FStatement);
}

bool TSqliteStatement::IsNull(int AColumn) const {
  return sqlite3_column_type(FStatement, AColumn) == SQLITE_NULL;
}

std::int64_t TSqliteStatement::Int64(int AColumn) const {
  return sqlite3_column_int64(FStatement, AColumn);
}

double TSqliteStatement::Double(int AColumn) const {
  return sqlite3_column_double(FStatement, AColumn);
}

std::string_view TSqliteStatement::Text(int AColumn) const {
  const auto* text = sqlite3_column_text(FStatement, AColumn);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text),
          static_cast<std::size_t>(sqlite3_column_bytes(FStatement, AColumn))};
}

// ---------------------------------------------------------------------------
// TSqliteConnection

TSqliteConnection::TSqliteConnection(const std::string& APath, TOpenMode AMode) {
  // NOMUTEX: a connection serves one thread at a time (the pool sees to it).
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX |
                    (AMode == TOpenMode::CreateWhenMissing ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(APath.c_str(), &FDb, flags, nullptr) != SQLITE_OK) {
    const std::string message = "Cannot open database " + APath + ": " +
                                (FDb != nullptr ? sqlite3_errmsg(FDb) : "out of memory");
    sqlite3_close(FDb);
    throw ESqliteError(message);
  }
  try {
    sqlite3_busy_timeout(FDb, 10000);
    Exec("PRAGMA journal_mode=WAL");
    // In WAL mode NORMAL loses no committed transaction on a crash of the
    // program, only possibly the last ones on a power cut.
    Exec("PRAGMA synchronous=NORMAL");
    Exec("PRAGMA foreign_keys=ON");
  } catch (...) {
    sqlite3_close(FDb);
    throw;
  }
}

TSqliteConnection::~TSqliteConnection() { sqlite3_close(FDb); }

void TSqliteConnection::Exec(std::string_view ASql) {
  const std::string sql(ASql);
  char* error = nullptr;
  if (sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : sqlite3_errmsg(FDb);
    sqlite3_free(error);
    throw ESqliteError("Statement failed: " + message);
  }
}

TSqliteStatement TSqliteConnection::Prepare(std::string_view ASql) {
  return TSqliteStatement(FDb, ASql);
}

int TSqliteConnection::Changes() const { return sqlite3_changes(FDb); }

std::int64_t TSqliteConnection::QueryInt(std::string_view ASql) {
  auto statement = Prepare(ASql);
  return statement.Step() ? statement.Int64(0) : 0;
}

// ---------------------------------------------------------------------------
// TTransaction

TTransaction::TTransaction(TSqliteConnection& AConnection) : FConnection(AConnection) {
  FConnection.Exec("BEGIN IMMEDIATE");
}

TTransaction::~TTransaction() {
  if (FDone) return;
  try {
    FConnection.Exec("ROLLBACK");
  } catch (...) {
    // Nothing more can be done: SQLite rolls back itself when it cannot.
  }
}

void TTransaction::Commit() {
  FConnection.Exec("COMMIT");
  FDone = true;
}

// ---------------------------------------------------------------------------
// TConnectionPool

TConnectionPool::TConnectionPool(std::string APath, std::size_t AMaxConnections)
    : FPath(std::move(APath)), FMax(AMaxConnections == 0 ? 1 : AMaxConnections) {}

TConnectionPool::TLease TConnectionPool::Borrow() {
  {
    std::unique_lock lock(FLock);
    FReturned.wait(lock, [&] { return !FIdle.empty() || FOpen < FMax; });
    if (!FIdle.empty()) {
      auto connection = std::move(FIdle.back());
      FIdle.pop_back();
      return TLease(*this, std::move(connection));
    }
    ++FOpen;
  }
  try {
    return TLease(*this, std::make_unique<TSqliteConnection>(FPath));
  } catch (...) {
    std::scoped_lock lock(FLock);
    --FOpen;
    FReturned.notify_one();
    throw;
  }
}

void TConnectionPool::Return(std::unique_ptr<TSqliteConnection> AConnection) {
  std::scoped_lock lock(FLock);
  FIdle.push_back(std::move(AConnection));
  FReturned.notify_one();
}

TConnectionPool::TLease::~TLease() {
  if (FConnection) FPool->Return(std::move(FConnection));
}

}  // namespace qvr::server
