// The cache area in the shared database; see PostgresCacheArea.h.
#include "server/PostgresCacheArea.h"

#include <limits>

#include "server/ServerErrors.h"

namespace qvr::server {

namespace {

// A command number the database can hold (a bigint).
std::optional<std::int64_t> StoredNumber(std::string_view AText) {
  const auto number = TCacheArea::CommandNumber(AText);
  if (!number || *number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(*number);
}

std::int64_t Sum(const TPgResult& AResult) {
  std::int64_t sum = 0;
  for (int row = 0; row < AResult.Rows(); ++row) sum += AResult.Int64(row, 0);
  return sum;
}

// Takes the area's turn: the row of cache_total stays locked to the end of
// the transaction, so that the area's changes of all instances come one
// after another and always in the same order of locks. Returns the bytes
// of all commands.
std::int64_t LockTotal(TPgConnection& AConnection) {
  return AConnection.Exec("SELECT bytes FROM cache_total FOR UPDATE").Int64(0, 0);
}

void SetTotal(TPgConnection& AConnection, std::int64_t ABytes) {
  AConnection.Exec("UPDATE cache_total SET bytes = $1", TPgParams().Add(ABytes));
}

}  // namespace

TPostgresCacheArea::TPostgresCacheArea(TPgPool& APool, std::size_t AMaxCommandsPerSession,
                                       std::size_t AMaxBytes)
    : FPool(APool),
      FMaxPerSession(AMaxCommandsPerSession == 0 ? 1 : AMaxCommandsPerSession),
      FMaxBytes(AMaxBytes) {}

std::vector<std::string> TPostgresCacheArea::Store(const std::string& ASession,
                                                   const std::string& AMethod,
                                                   std::string AParameters, TMethodAnswer AAnswer) {
  std::size_t size = AParameters.size() + AMethod.size();
  for (auto element : AAnswer.Elements) size += element.size();
  if (size > FMaxBytes) {
    throw EHttpError(
        507, "The result is larger than the cache area (" + std::to_string(FMaxBytes) + " bytes)");
  }
  auto connection = FPool.Borrow();
  TPgTransaction transaction(*connection);
  std::int64_t total = LockTotal(*connection);
  // The session's oldest beyond its share, to make room for this one.
  total -= Sum(connection->Exec(
      "DELETE FROM cache_comandos WHERE numero IN (SELECT numero FROM cache_comandos "
      "WHERE sesion = $1 ORDER BY numero DESC OFFSET $2) RETURNING bytes",
      TPgParams().Add(ASession).Add(static_cast<std::int64_t>(FMaxPerSession - 1))));
  // The oldest of any session while the area would be too full.
  const auto bytes = static_cast<std::int64_t>(size);
  while (total + bytes > static_cast<std::int64_t>(FMaxBytes)) {
    const auto oldest = connection->Exec(
        "DELETE FROM cache_comandos WHERE numero = (SELECT min(numero) FROM cache_comandos) "
        "RETURNING bytes");
    if (oldest.Rows() == 0) {
      // Only a total that drifted (a command lost with its instance between
      // two statements cannot be; this is a guard) could leave this.
      total = 0;
      break;
    }
    total -= Sum(oldest);
  }
  const std::int64_t number =
      connection
          ->Exec(
              "INSERT INTO cache_comandos (sesion, metodo, parametros, elementos, bytes) "
              "VALUES ($1, $2, $3, $4, $5) RETURNING numero",
              TPgParams()
                  .Add(ASession)
                  .Add(AMethod)
                  .Add(AParameters)
                  .Add(static_cast<std::int64_t>(AAnswer.Elements.size()))
                  .Add(bytes))
          .Int64(0, 0);
  for (std::size_t i = 0; i < AAnswer.Elements.size(); ++i) {
    connection->Exec(
        "INSERT INTO cache_valores (numero, indice, valor) VALUES ($1, $2, $3)",
        TPgParams().Add(number).Add(static_cast<std::int64_t>(i)).Add(AAnswer.Elements[i]));
  }
  SetTotal(*connection, total + bytes);
  transaction.Commit();

  std::vector<std::string> paths;
  for (std::size_t i = 0; i < AAnswer.Elements.size(); ++i) {
    paths.push_back(std::to_string(number) + "/" + std::to_string(i));
  }
  return paths;
}

std::optional<TCacheArea::TValue> TPostgresCacheArea::Value(const std::string& ASession,
                                                            std::string_view AItemPath) {
  const auto slash = AItemPath.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const auto number = StoredNumber(AItemPath.substr(0, slash));
  const auto index = StoredNumber(AItemPath.substr(slash + 1));
  if (!number || !index) return std::nullopt;
  auto connection = FPool.Borrow();
  const auto found = connection->Exec(
      "SELECT v.valor FROM cache_valores v JOIN cache_comandos c ON c.numero = v.numero "
      "WHERE c.numero = $1 AND c.sesion = $2 AND v.indice = $3",
      TPgParams().Add(*number).Add(ASession).Add(*index));
  if (found.Rows() == 0) return std::nullopt;
  auto holder = std::make_shared<const std::string>(found.Text(0, 0));
  const std::string_view text = *holder;
  return TValue{std::move(holder), text};
}

std::optional<std::string> TPostgresCacheArea::Command(const std::string& ASession,
                                                       std::string_view ACommandPath) {
  const auto number = StoredNumber(ACommandPath);
  if (!number) return std::nullopt;
  auto connection = FPool.Borrow();
  const auto found = connection->Exec(
      "SELECT metodo, parametros, elementos FROM cache_comandos WHERE numero = $1 AND sesion = $2",
      TPgParams().Add(*number).Add(ASession));
  if (found.Rows() == 0) return std::nullopt;
  return CommandText(static_cast<std::uint64_t>(*number), std::string(found.Text(0, 0)),
                     std::string(found.Text(0, 1)), static_cast<std::size_t>(found.Int64(0, 2)));
}

bool TPostgresCacheArea::Delete(const std::string& ASession, std::string_view ACommandPath) {
  const auto number = StoredNumber(ACommandPath);
  if (!number) return false;
  auto connection = FPool.Borrow();
  TPgTransaction transaction(*connection);
  const std::int64_t total = LockTotal(*connection);
  const auto gone = connection->Exec(
      "DELETE FROM cache_comandos WHERE numero = $1 AND sesion = $2 RETURNING bytes",
      TPgParams().Add(*number).Add(ASession));
  if (gone.Rows() == 0) return false;
  SetTotal(*connection, total - Sum(gone));
  transaction.Commit();
  return true;
}

void TPostgresCacheArea::DropSessions(const std::vector<std::string>& AIds) {
  if (AIds.empty()) return;
  auto connection = FPool.Borrow();
  TPgTransaction transaction(*connection);
  std::int64_t total = LockTotal(*connection);
  for (const auto& id : AIds) {
    total -= Sum(connection->Exec("DELETE FROM cache_comandos WHERE sesion = $1 RETURNING bytes",
                                  TPgParams().Add(id)));
  }
  SetTotal(*connection, total);
  transaction.Commit();
}

std::size_t TPostgresCacheArea::Bytes() const {
  auto connection = FPool.Borrow();
  return static_cast<std::size_t>(connection->Exec("SELECT bytes FROM cache_total").Int64(0, 0));
}

std::size_t TPostgresCacheArea::CommandCount() const {
  auto connection = FPool.Borrow();
  return static_cast<std::size_t>(
      connection->Exec("SELECT count(*) FROM cache_comandos").Int64(0, 0));
}

}  // namespace qvr::server
