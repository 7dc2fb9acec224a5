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

// Adds ABytes to the bytes of all commands and returns the new total. The
// row of cache_total stays locked to the end of the transaction: the area's
// changes of all instances take their turn on it, each as its last step, so
// that the turn lasts a round trip and the commit.
std::int64_t AddToTotal(TPgConnection& AConnection, std::int64_t ABytes) {
  return AConnection
      .Exec("UPDATE cache_total SET bytes = bytes + $1 RETURNING bytes", TPgParams().Add(ABytes))
      .Int64(0, 0);
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
  const std::size_t size = CountedBytes(AMethod, AParameters, AAnswer, FMaxBytes);
  const auto bytes = static_cast<std::int64_t>(size);
  auto connection = FPool.Borrow();
  TPgTransaction transaction(*connection);
  // The session's oldest beyond its share, to make room for this one.
  const std::int64_t freed = Sum(connection->Exec(
      "DELETE FROM cache_comandos WHERE numero IN (SELECT numero FROM cache_comandos "
      "WHERE sesion = $1 ORDER BY numero DESC OFFSET $2 FOR UPDATE SKIP LOCKED) RETURNING bytes",
      TPgParams().Add(ASession).Add(static_cast<std::int64_t>(FMaxPerSession - 1))));
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
  // The area's turn comes last and lasts to the commit, a round trip.
  std::int64_t total = AddToTotal(*connection, bytes - freed);
  // The oldest of any session while the area is too full. Rows another
  // transaction holds are passed over rather than waited for: that one
  // takes the area's turn after its rows, and waiting for it here, in the
  // turn, could wait for each other.
  while (total > static_cast<std::int64_t>(FMaxBytes)) {
    const auto oldest = connection->Exec(
        "DELETE FROM cache_comandos WHERE numero = (SELECT numero FROM cache_comandos "
        "WHERE numero <> $1 ORDER BY numero LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING bytes",
        TPgParams().Add(number));
    if (oldest.Rows() == 0) break;
    total = AddToTotal(*connection, -Sum(oldest));
  }
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
  const auto gone = connection->Exec(
      "DELETE FROM cache_comandos WHERE numero = $1 AND sesion = $2 RETURNING bytes",
      TPgParams().Add(*number).Add(ASession));
  if (gone.Rows() == 0) return false;
  AddToTotal(*connection, -Sum(gone));
  transaction.Commit();
  return true;
}

void TPostgresCacheArea::DropSessions(const std::vector<std::string>& AIds) {
  if (AIds.empty()) return;
  auto connection = FPool.Borrow();
  TPgTransaction transaction(*connection);
  std::int64_t freed = 0;
  for (const auto& id : AIds) {
    freed += Sum(connection->Exec("DELETE FROM cache_comandos WHERE sesion = $1 RETURNING bytes",
                                  TPgParams().Add(id)));
  }
  AddToTotal(*connection, -freed);
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
