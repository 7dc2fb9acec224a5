// libpq connections, statements, transactions and the pool; see
// PostgresDatabase.h. Every libpq failure is mapped to an exception here,
// in Fail, and nowhere else.
#include "server/PostgresDatabase.h"

#include <libpq-fe.h>

#include <charconv>
#include <utility>

#include "server/AttendanceStore.h"

namespace qvr::server {

namespace {

// Whether the SQLSTATE ACode says that the database is away rather than
// that the statement is wrong: a connection exception (class 08), the
// database shutting down or starting (57P01 to 57P03), too many
// connections (53300).
bool UnreachableState(std::string_view ACode) {
  return ACode.starts_with("08") || ACode == "57P01" || ACode == "57P02" || ACode == "57P03" ||
         ACode == "53300";
}

std::string Trimmed(const char* AText) {
  std::string text = AText != nullptr ? AText : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// TPgParams

TPgParams& TPgParams::Add(std::int64_t AValue) {
  FValues.push_back(std::to_string(AValue));
  FNull.push_back(false);
  return *this;
}

TPgParams& TPgParams::Add(std::string_view AText) {
  FValues.emplace_back(AText);
  FNull.push_back(false);
  return *this;
}

TPgParams& TPgParams::Add(const std::optional<std::int64_t>& AValue) {
  return AValue ? Add(*AValue) : AddNull();
}

TPgParams& TPgParams::AddNull() {
  FValues.emplace_back();
  FNull.push_back(true);
  return *this;
}

std::vector<const char*> TPgParams::Pointers() const {
  std::vector<const char*> pointers;
  pointers.reserve(FValues.size());
  for (std::size_t i = 0; i < FValues.size(); ++i) {
    pointers.push_back(FNull[i] ? nullptr : FValues[i].c_str());
  }
  return pointers;
}

// ---------------------------------------------------------------------------
// TPgResult

TPgResult::~TPgResult() { PQclear(FResult); }

TPgResult::TPgResult(TPgResult&& AOther) noexcept
    : FResult(std::exchange(AOther.FResult, nullptr)) {}

int TPgResult::Rows() const { return PQntuples(FResult); }

std::int64_t TPgResult::Changed() const {
  const char* text = PQcmdTuples(FResult);
  std::int64_t count = 0;
  if (text != nullptr) std::from_chars(text, text + std::char_traits<char>::length(text), count);
  return count;
}

bool TPgResult::IsNull(int ARow, int AColumn) const {
  return PQgetisnull(FResult, ARow, AColumn) != 0;
}

std::string_view TPgResult::Text(int ARow, int AColumn) const {
  return {PQgetvalue(FResult, ARow, AColumn),
          static_cast<std::size_t>(PQgetlength(FResult, ARow, AColumn))};
}

std::int64_t TPgResult::Int64(int ARow, int AColumn) const {
  const std::string_view text = Text(ARow, AColumn);
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

bool TPgResult::Bool(int ARow, int AColumn) const { return Text(ARow, AColumn) == "t"; }

// ---------------------------------------------------------------------------
// TPgConnection

TPgConnection::TPgConnection(const std::string& AURL) {
  // Defaults first: the URL's own settings come later and win. The time-out
  // and the keep-alives bound how long a request waits for a database that
  // went away without closing its connections (a machine or a network
  // down).
  const char* const keywords[] = {"connect_timeout",
                                  "keepalives_idle",
                                  "keepalives_interval",
                                  "keepalives_count",
                                  "application_name",
                                  "client_encoding",
                                  "dbname",
                                  nullptr};
  const char* const values[] = {"5", "10", "5", "3", "qvr-server", "UTF8", AURL.c_str(), nullptr};
  FConnection = PQconnectdbParams(keywords, values, 1);
  if (FConnection == nullptr) throw EStoreUnavailable("Cannot connect to the database: no memory");
  if (PQstatus(FConnection) != CONNECTION_OK) {
    const std::string message = Trimmed(PQerrorMessage(FConnection));
    PQfinish(FConnection);
    throw EStoreUnavailable("Cannot connect to the database: " + message);
  }
}

TPgConnection::~TPgConnection() { PQfinish(FConnection); }

void TPgConnection::Fail(pg_result* AResult, std::string_view AWhat) {
  const char* state = AResult != nullptr ? PQresultErrorField(AResult, PG_DIAG_SQLSTATE) : nullptr;
  const std::string code = state != nullptr ? state : "";
  std::string message = Trimmed(AResult != nullptr ? PQresultErrorMessage(AResult) : nullptr);
  if (message.empty()) message = Trimmed(PQerrorMessage(FConnection));
  PQclear(AResult);
  if (PQstatus(FConnection) != CONNECTION_OK || UnreachableState(code)) {
    throw EStoreUnavailable("The database is not reachable now (" + message + "); try again");
  }
  throw EPostgresError(std::string(AWhat) + ": " + message, code);
}

void TPgConnection::Check(pg_result* AResult, std::string_view AWhat) {
  const ExecStatusType status = AResult != nullptr ? PQresultStatus(AResult) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(AResult, AWhat);
}

TPgResult TPgConnection::Exec(std::string_view ASql, const TPgParams& AParams) {
  const std::string sql(ASql);
  auto prepared = FPrepared.find(sql);
  if (prepared == FPrepared.end()) {
    std::string name = "q";
    name += std::to_string(FPrepared.size() + 1);
    pg_result* result = PQprepare(FConnection, name.c_str(), sql.c_str(), 0, nullptr);
    Check(result, "Cannot prepare statement");
    PQclear(result);
    prepared = FPrepared.emplace(sql, name).first;
  }
  const auto values = AParams.Pointers();
  pg_result* result =
      PQexecPrepared(FConnection, prepared->second.c_str(), static_cast<int>(values.size()),
                     values.data(), nullptr, nullptr, 0);
  Check(result, "Statement failed");
  return TPgResult(result);
}

void TPgConnection::Run(std::string_view ASql) {
  const std::string sql(ASql);
  pg_result* result = PQexec(FConnection, sql.c_str());
  Check(result, "Statement failed");
  PQclear(result);
}

bool TPgConnection::Usable() {
  if (PQstatus(FConnection) != CONNECTION_OK) return false;
  // A database shutting down closes its connections: reading that close
  // (without waiting) marks the connection lost now rather than at its next
  // statement.
  PQconsumeInput(FConnection);
  return PQstatus(FConnection) == CONNECTION_OK;
}

int TPgConnection::Socket() const { return PQsocket(FConnection); }

std::vector<std::string> TPgConnection::Notifications() {
  if (PQconsumeInput(FConnection) == 0 || PQstatus(FConnection) != CONNECTION_OK) {
    throw EStoreUnavailable("The database is not reachable now (" +
                            Trimmed(PQerrorMessage(FConnection)) + "); try again");
  }
  std::vector<std::string> payloads;
  while (PGnotify* notify = PQnotifies(FConnection)) {
    payloads.emplace_back(notify->extra != nullptr ? notify->extra : "");
    PQfreemem(notify);
  }
  return payloads;
}

// ---------------------------------------------------------------------------
// TPgTransaction

TPgTransaction::TPgTransaction(TPgConnection& AConnection) : FConnection(AConnection) {
  FConnection.Run("BEGIN");
}

TPgTransaction::~TPgTransaction() {
  if (FDone) return;
  try {
    FConnection.Run("ROLLBACK");
  } catch (...) {
    // A lost connection rolls back on the database's side.
  }
}

void TPgTransaction::Commit() {
  FDone = true;
  FConnection.Run("COMMIT");
}

// ---------------------------------------------------------------------------
// TPgPool

TPgPool::TPgPool(std::string AURL, std::size_t AMaxConnections)
    : FURL(std::move(AURL)), FMax(AMaxConnections == 0 ? 1 : AMaxConnections) {}

TPgPool::TLease TPgPool::Borrow() {
  std::uint64_t generation = 0;
  for (;;) {
    std::unique_ptr<TPgConnection> stale;
    {
      std::unique_lock lock(FLock);
      FReturned.wait(lock, [&] { return !FIdle.empty() || FOpen < FMax; });
      generation = FGeneration;
      if (FIdle.empty()) {
        ++FOpen;
        break;
      }
      TIdle idle = std::move(FIdle.back());
      FIdle.pop_back();
      if (idle.Generation == FGeneration && idle.Connection->Usable()) {
        return TLease(*this, std::move(idle.Connection), idle.Generation);
      }
      // Closed outside the lock; its place is free again.
      stale = std::move(idle.Connection);
      --FOpen;
    }
  }
  try {
    return TLease(*this, std::make_unique<TPgConnection>(FURL), generation);
  } catch (...) {
    std::scoped_lock lock(FLock);
    --FOpen;
    FReturned.notify_one();
    throw;
  }
}

void TPgPool::Return(std::unique_ptr<TPgConnection> AConnection, std::uint64_t AGeneration) {
  const bool usable = AConnection->Usable();
  std::vector<TIdle> stale;
  {
    std::scoped_lock lock(FLock);
    if (usable && AGeneration == FGeneration) {
      FIdle.push_back({std::move(AConnection), AGeneration});
    } else {
      --FOpen;
      if (!usable && AGeneration == FGeneration) {
        // The others were opened before the loss too.
        ++FGeneration;
        FOpen -= FIdle.size();
        stale = std::move(FIdle);
        FIdle.clear();
      }
    }
  }
  FReturned.notify_all();
  // stale and AConnection close here, outside the lock.
}

TPgPool::TLease::~TLease() {
  if (FConnection) FPool->Return(std::move(FConnection), FGeneration);
}

}  // namespace qvr::server
