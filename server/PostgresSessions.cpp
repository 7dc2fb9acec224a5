// The sessions in the shared database; see PostgresSessions.h.
#include "server/PostgresSessions.h"

#include <algorithm>

namespace qvr::server {

namespace {

// Ids are RandomId's: 32 lower-case hexadecimal digits. Anything else is
// unknown without asking the database (and may be no text it could
// compare).
bool LooksLikeId(std::string_view AId) {
  return AId.size() == 32 && std::all_of(AId.begin(), AId.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

}  // namespace

TPostgresSessionStore::TPostgresSessionStore(TPgPool& APool, std::chrono::milliseconds AIdleTimeout,
                                             std::size_t AMaxSessions, TDropEvent AOnDrop)
    : TSessionStore(std::move(AOnDrop)),
      FPool(APool),
      FTimeout(AIdleTimeout),
      FRenewal(std::min<std::chrono::milliseconds>(std::chrono::seconds(1), AIdleTimeout / 10)),
      FMax(AMaxSessions == 0 ? 1 : AMaxSessions) {}

std::string TPostgresSessionStore::Create(const std::string& AUserName) {
  SweepNowAndThen();
  std::string id;
  std::vector<std::string> gone;
  {
    auto connection = FPool.Borrow();
    for (;;) {
      id = RandomId();
      const auto inserted = connection->Exec(
          "INSERT INTO sesiones (id, usuario, ultimo_uso) VALUES ($1, $2, clock_timestamp()) "
          "ON CONFLICT (id) DO NOTHING",
          TPgParams().Add(id).Add(AUserName));
      if (inserted.Changed() == 1) break;
    }
    // Beyond the bound the least recently used go, whichever instance
    // made them.
    const auto beyond = connection->Exec(
        "DELETE FROM sesiones WHERE id IN (SELECT id FROM sesiones "
        "ORDER BY ultimo_uso DESC, id DESC OFFSET $1) RETURNING id",
        TPgParams().Add(static_cast<std::int64_t>(FMax)));
    for (int row = 0; row < beyond.Rows(); ++row) gone.emplace_back(beyond.Text(row, 0));
  }
  Notify(gone);
  return id;
}

std::optional<TSessionStore::TLookup> TPostgresSessionStore::TouchFromMemory(
    const std::string& AId, const std::string& AUserName) {
  std::scoped_lock lock(FSeenLock);
  const auto seen = FSeen.find(AId);
  if (seen == FSeen.end() || seen->second.UserName != AUserName ||
      std::chrono::steady_clock::now() - seen->second.When >= FRenewal) {
    return std::nullopt;
  }
  return TLookup::Found;
}

TSessionStore::TLookup TPostgresSessionStore::Touch(const std::string& AId,
                                                    const std::string& AUserName) {
  if (const auto known = TouchFromMemory(AId, AUserName)) return *known;
  const TLookup found = TouchDatabase(AId, AUserName);
  std::scoped_lock lock(FSeenLock);
  if (found == TLookup::Found) {
    if (FSeen.size() >= kMaxSeen) FSeen.clear();
    FSeen.insert_or_assign(AId, TSeen{AUserName, std::chrono::steady_clock::now()});
  } else {
    FSeen.erase(AId);
  }
  return found;
}

TSessionStore::TLookup TPostgresSessionStore::TouchDatabase(const std::string& AId,
                                                            const std::string& AUserName) {
  SweepNowAndThen();
  if (!LooksLikeId(AId)) return TLookup::Unknown;
  auto connection = FPool.Borrow();
  // One round trip: the live session's user, and its last use renewed when
  // it is the caller's and the last renewal is older than FRenewal (a
  // data-modifying WITH runs whether or not its rows are read).
  const auto found = connection->Exec(
      "WITH live AS (SELECT usuario FROM sesiones WHERE id = $1 "
      "AND ultimo_uso >= clock_timestamp() - $3::bigint * interval '1 millisecond'), "
      "renewed AS (UPDATE sesiones SET ultimo_uso = clock_timestamp() WHERE id = $1 "
      "AND usuario = $2 AND ultimo_uso >= clock_timestamp() - $3::bigint * interval '1 "
      "millisecond' "
      "AND ultimo_uso < clock_timestamp() - $4::bigint * interval '1 millisecond' RETURNING 1) "
      "SELECT usuario FROM live",
      TPgParams()
          .Add(AId)
          .Add(AUserName)
          .Add(static_cast<std::int64_t>(FTimeout.count()))
          .Add(static_cast<std::int64_t>(FRenewal.count())));
  if (found.Rows() == 0) return TLookup::Unknown;
  return found.Text(0, 0) == AUserName ? TLookup::Found : TLookup::OtherUser;
}

void TPostgresSessionStore::End(const std::string& AId) {
  {
    std::scoped_lock lock(FSeenLock);
    FSeen.erase(AId);
  }
  if (!LooksLikeId(AId)) return;
  std::vector<std::string> gone;
  {
    auto connection = FPool.Borrow();
    const auto ended =
        connection->Exec("DELETE FROM sesiones WHERE id = $1 RETURNING id", TPgParams().Add(AId));
    for (int row = 0; row < ended.Rows(); ++row) gone.emplace_back(ended.Text(row, 0));
  }
  Notify(gone);
}

void TPostgresSessionStore::Sweep() {
  std::vector<std::string> gone;
  {
    auto connection = FPool.Borrow();
    const auto expired = connection->Exec(
        "DELETE FROM sesiones WHERE ultimo_uso < clock_timestamp() - $1::bigint * interval "
        "'1 millisecond' RETURNING id",
        TPgParams().Add(static_cast<std::int64_t>(FTimeout.count())));
    for (int row = 0; row < expired.Rows(); ++row) gone.emplace_back(expired.Text(row, 0));
  }
  Notify(gone);
}

void TPostgresSessionStore::SweepNowAndThen() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  auto last = FLastSweep.load();
  const auto period =
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::seconds(1))
          .count();
  // One thread of the instance sweeps; the others go on.
  if (now - last < period || !FLastSweep.compare_exchange_strong(last, now)) return;
  Sweep();
}

std::size_t TPostgresSessionStore::Count() const {
  auto connection = FPool.Borrow();
  return static_cast<std::size_t>(
      connection
          ->Exec("SELECT count(*) FROM sesiones WHERE ultimo_uso >= clock_timestamp() - "
                 "$1::bigint * interval '1 millisecond'",
                 TPgParams().Add(static_cast<std::int64_t>(FTimeout.count())))
          .Int64(0, 0));
}

}  // namespace qvr::server
