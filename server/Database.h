// Thin RAII layer over SQLite for the server's storage: a connection, a
// prepared statement, an immediate transaction that rolls back unless
// committed, and a pool of connections shared by the request threads. Every
// SQLite failure becomes ESqliteError with SQLite's own message. sqlite3.h
// stays out of this header.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SysUtils.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qvr::server {

class ESqliteError : public Exception {
  using Exception::Exception;
};

class TSqliteStatement {
 public:
  TSqliteStatement(sqlite3* ADb, std::string_view ASql);
  ~TSqliteStatement();
  TSqliteStatement(TSqliteStatement&& AOther) noexcept;
  TSqliteStatement& operator=(TSqliteStatement&&) = delete;
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;

  // Parameters count from 1, as in SQL.
  TSqliteStatement& Bind(int AIndex, std::int64_t AValue);
  TSqliteStatement& Bind(int AIndex, double AValue);
  TSqliteStatement& Bind(int AIndex, std::string_view AText);
  TSqliteStatement& BindNull(int AIndex);
  // Runs to the next row: true while there is one, false when done.
  bool Step();
  // Ready for new bindings and another run.
  void Reset();

  // Columns count from 0.
  bool IsNull(int AColumn) const;
  std::int64_t Int64(int AColumn) const;
  double Double(int AColumn) const;
  std::string_view Text(int AColumn) const;

 private:
  sqlite3* FDb;
  sqlite3_stmt* FStatement = nullptr;
};

class TSqliteConnection {
 public:
  enum class TOpenMode { CreateWhenMissing, ExistingOnly };

  // Opens (creating when missing, unless AMode says otherwise) the database
  // file at APath in WAL mode with a busy time-out, so that readers and the
  // one writer, in this process or another, do not block each other for
  // long.
  explicit TSqliteConnection(const std::string& APath,
                             TOpenMode AMode = TOpenMode::CreateWhenMissing);
  ~TSqliteConnection();
  TSqliteConnection(const TSqliteConnection&) = delete;
  TSqliteConnection& operator=(const TSqliteConnection&) = delete;

  void Exec(std::string_view ASql);
  TSqliteStatement Prepare(std::string_view ASql);
  // Rows changed by the last INSERT, UPDATE or DELETE.
  int Changes() const;
  // Answer of a query with one integer cell (0 when it gives no row).
  std::int64_t QueryInt(std::string_view ASql);

 private:
  sqlite3* FDb = nullptr;
};

// BEGIN IMMEDIATE at construction (the write lock is taken at once, so two
// writers never deadlock upgrading), ROLLBACK at destruction unless Commit ran.
class TTransaction {
 public:
  explicit TTransaction(TSqliteConnection& AConnection);
  ~TTransaction();
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;
  void Commit();

 private:
  TSqliteConnection& FConnection;
  bool FDone = false;
};

// Connections to one database file, lent to one thread at a time. A
// connection is opened when none is idle; at most AMaxConnections exist, and
// a borrower waits while all are lent.
class TConnectionPool {
 public:
  TConnectionPool(std::string APath, std::size_t AMaxConnections);

  class TLease {
   public:
    TLease(TConnectionPool& APool, std::unique_ptr<TSqliteConnection> AConnection)
        : FPool(&APool), FConnection(std::move(AConnection)) {}
    ~TLease();
    TLease(TLease&& AOther) noexcept = default;
    TLease& operator=(TLease&&) = delete;
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;
    TSqliteConnection& operator*() const { return *FConnection; }
    TSqliteConnection* operator->() const { return FConnection.get(); }

   private:
    TConnectionPool* FPool;
    std::unique_ptr<TSqliteConnection> FConnection;
  };

  TLease Borrow();
  const std::string& Path() const { return FPath; }

 private:
  void Return(std::unique_ptr<TSqliteConnection> AConnection);

  std::string FPath;
  std::size_t FMax;
  std::size_t FOpen = 0;
  std::mutex FLock;
  std::condition_variable FReturned;
  std::vector<std::unique_ptr<TSqliteConnection>> FIdle;
};

}  // namespace qvr::server
