// Thin RAII layer over libpq for the PostgreSQL store: a connection whose
// statements are prepared once and then run with bound parameters (text
// format), a result, a transaction that rolls back unless committed, and a
// pool of connections shared by the request threads that replaces the
// connections a restart of the database broke. A statement that fails
// raises EPostgresError with PostgreSQL's message and SQLSTATE; a database
// that cannot be reached (refused, restarting, the connection lost) raises
// EStoreUnavailable, which the front answers 503. libpq-fe.h stays out of
// this header.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/SysUtils.h"

struct pg_conn;
struct pg_result;

namespace qvr::server {

class EPostgresError : public Exception {
 public:
  EPostgresError(std::string AMessage, std::string ASqlState)
      : Exception(std::move(AMessage)), FSqlState(std::move(ASqlState)) {}
  // The five characters of PostgreSQL's error code ("23505": a unique key
  // taken); empty when there is none.
  const std::string& SqlState() const { return FSqlState; }

 private:
  std::string FSqlState;
};

// The parameters of one statement, $1, $2, ... in the order added, sent as
// text apart from the statement.
class TPgParams {
 public:
  TPgParams& Add(std::int64_t AValue);
  TPgParams& Add(std::string_view AText);
  TPgParams& Add(const std::optional<std::int64_t>& AValue);
  TPgParams& AddNull();
  std::size_t Count() const { return FValues.size(); }
  // libpq's arrays: a null pointer for a NULL value.
  std::vector<const char*> Pointers() const;

 private:
  std::vector<std::string> FValues;
  std::vector<bool> FNull;
};

class TPgResult {
 public:
  explicit TPgResult(pg_result* AResult) : FResult(AResult) {}
  ~TPgResult();
  TPgResult(TPgResult&& AOther) noexcept;
  TPgResult& operator=(TPgResult&&) = delete;
  TPgResult(const TPgResult&) = delete;
  TPgResult& operator=(const TPgResult&) = delete;

  int Rows() const;
  // Rows changed by an INSERT, UPDATE or DELETE.
  std::int64_t Changed() const;
  // Rows and columns count from 0; values are in text format.
  bool IsNull(int ARow, int AColumn) const;
  std::string_view Text(int ARow, int AColumn) const;
  std::int64_t Int64(int ARow, int AColumn) const;
  // A boolean column ("t" or "f").
  bool Bool(int ARow, int AColumn) const;

 private:
  pg_result* FResult;
};

class TPgConnection {
 public:
  // Connects to AURL (postgresql://...); raises EStoreUnavailable when the
  // database cannot be reached or refuses the connection.
  explicit TPgConnection(const std::string& AURL);
  ~TPgConnection();
  TPgConnection(const TPgConnection&) = delete;
  TPgConnection& operator=(const TPgConnection&) = delete;

  // Runs ASql with AParams, preparing it on first use on this connection.
  // Raises EStoreUnavailable when the connection is lost, EPostgresError
  // for any other failure.
  TPgResult Exec(std::string_view ASql, const TPgParams& AParams = {});
  // Runs ASql, which has no parameters, as it stands (BEGIN, COMMIT,
  // several statements of a schema).
  void Run(std::string_view ASql);
  // False once the connection is known to be lost. Cheap: reads what the
  // server may have sent meanwhile (a notice that it is shutting down) without
  // waiting.
  bool Usable();

  // The connection's socket, for a caller that waits for notifications.
  int Socket() const;
  // The payloads of the notifications that arrived (without waiting), in
  // order. Raises EStoreUnavailable when the connection is lost.
  std::vector<std::string> Notifications();

 private:
  [[noreturn]] void Fail(pg_result* AResult, std::string_view AWhat);
  void Check(pg_result* AResult, std::string_view AWhat);

  pg_conn* FConnection = nullptr;
  // The statements prepared on this connection, by their text.
  std::unordered_map<std::string, std::string> FPrepared;
};

// BEGIN at construction, ROLLBACK at destruction unless Commit ran.
class TPgTransaction {
 public:
  explicit TPgTransaction(TPgConnection& AConnection);
  ~TPgTransaction();
  TPgTransaction(const TPgTransaction&) = delete;
  TPgTransaction& operator=(const TPgTransaction&) = delete;
  // Raises EStoreUnavailable when the connection went before the commit
  // was confirmed: the caller cannot tell whether it took place.
  void Commit();

 private:
  TPgConnection& FConnection;
  bool FDone = false;
};

// Connections to one database, lent to one thread at a time. A connection
// is opened when none is idle; at most AMaxConnections exist, and a
// borrower waits while all are lent. A connection found lost is closed
// instead of going back, and with it every idle one opened before (a
// restart of the database broke them all), so that the requests after a
// restart get new connections rather than each meeting a broken one.
class TPgPool {
 public:
  TPgPool(std::string AURL, std::size_t AMaxConnections);

  class TLease {
   public:
    TLease(TPgPool& APool, std::unique_ptr<TPgConnection> AConnection, std::uint64_t AGeneration)
        : FPool(&APool), FConnection(std::move(AConnection)), FGeneration(AGeneration) {}
    ~TLease();
    TLease(TLease&& AOther) noexcept = default;
    TLease& operator=(TLease&&) = delete;
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;
    TPgConnection& operator*() const { return *FConnection; }
    TPgConnection* operator->() const { return FConnection.get(); }

   private:
    TPgPool* FPool;
    std::unique_ptr<TPgConnection> FConnection;
    std::uint64_t FGeneration;
  };

  // Raises EStoreUnavailable when no connection can be opened.
  TLease Borrow();
  const std::string& URL() const { return FURL; }

 private:
  void Return(std::unique_ptr<TPgConnection> AConnection, std::uint64_t AGeneration);

  struct TIdle {
    std::unique_ptr<TPgConnection> Connection;
    std::uint64_t Generation;
  };
  std::string FURL;
  std::size_t FMax;
  std::size_t FOpen = 0;
  std::uint64_t FGeneration = 0;
  std::mutex FLock;
  std::condition_variable FReturned;
  std::vector<TIdle> FIdle;
};

}  // namespace qvr::server
