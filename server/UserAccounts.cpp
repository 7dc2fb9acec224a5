// The users table and its changes; see UserAccounts.h.
#include "server/UserAccounts.h"

#include <utility>

#include "platform/Utf.h"
#include "server/PasswordHash.h"

namespace qvr::server {

namespace {

bool HasControlCharacter(std::string_view AText) {
  for (const char c : AText) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

}  // namespace

void CheckUserName(std::string_view AUID) {
  if (AUID.empty()) throw EUserError("A user name cannot be empty");
  if (AUID.size() > kMaxUserNameBytes) {
    throw EUserError("A user name has at most " + std::to_string(kMaxUserNameBytes) + " bytes");
  }
  if (!IsValidUtf8(AUID) || HasControlCharacter(AUID) || AUID.find(':') != std::string::npos ||
      AUID.front() == ' ' || AUID.back() == ' ') {
    throw EUserError(
        "A user name is UTF-8 text without control characters or \":\", and no blank at either "
        "end");
  }
}

void CheckUserNombre(std::string_view ANombre) {
  if (ANombre.size() > kMaxUserNombreBytes) {
    throw EUserError("A user's name (--nombre) has at most " + std::to_string(kMaxUserNombreBytes) +
                     " bytes");
  }
  if (!IsValidUtf8(ANombre) || HasControlCharacter(ANombre)) {
    throw EUserError("A user's name (--nombre) is UTF-8 text without control characters");
  }
}

std::optional<std::string> StoredPasswordHash(TSqliteConnection& AConnection,
                                              const std::string& AUID) {
  auto query = AConnection.Prepare("SELECT clave FROM usuarios WHERE uid = ?");
  query.Bind(1, AUID);
  if (!query.Step()) return std::nullopt;
  return std::string(query.Text(0));
}

std::size_t HashTextPasswords(TSqliteConnection& AConnection) {
  std::vector<std::pair<std::string, std::string>> texts;
  {
    auto query =
        AConnection.Prepare("SELECT uid, clave FROM usuarios WHERE substr(clave, 1, ?) <> ?");
    query.Bind(1, static_cast<std::int64_t>(kPasswordHashPrefix.size()))
        .Bind(2, kPasswordHashPrefix);
    while (query.Step()) texts.emplace_back(query.Text(0), query.Text(1));
  }
  auto update = AConnection.Prepare("UPDATE usuarios SET clave = ? WHERE uid = ?");
  for (const auto& [uid, text] : texts) {
    update.Bind(1, HashPassword(text)).Bind(2, uid);
    update.Step();
    update.Reset();
  }
  return texts.size();
}

bool UserExists(TSqliteConnection& AConnection, const std::string& AUID) {
  return StoredPasswordHash(AConnection, AUID).has_value();
}

void AddUser(TSqliteConnection& AConnection, const std::string& AUID, const std::string& ANombre,
             std::string_view APassword) {
  CheckUserName(AUID);
  CheckUserNombre(ANombre);
  const std::string hash = HashPassword(APassword);
  TTransaction transaction(AConnection);
  if (UserExists(AConnection, AUID)) throw EUserError("The user " + AUID + " exists already");
  auto insert = AConnection.Prepare("INSERT INTO usuarios (uid, clave, nombre) VALUES (?, ?, ?)");
  insert.Bind(1, AUID).Bind(2, hash).Bind(3, ANombre);
  insert.Step();
  transaction.Commit();
}

void SetUserPassword(TSqliteConnection& AConnection, const std::string& AUID,
                     std::string_view APassword) {
  const std::string hash = HashPassword(APassword);
  TTransaction transaction(AConnection);
  auto update = AConnection.Prepare("UPDATE usuarios SET clave = ? WHERE uid = ?");
  update.Bind(1, hash).Bind(2, AUID);
  update.Step();
  if (AConnection.Changes() == 0) throw EUserError("There is no user " + AUID);
  transaction.Commit();
}

void RemoveUser(TSqliteConnection& AConnection, const std::string& AUID) {
  TTransaction transaction(AConnection);
  auto remove = AConnection.Prepare("DELETE FROM usuarios WHERE uid = ?");
  remove.Bind(1, AUID);
  remove.Step();
  if (AConnection.Changes() == 0) throw EUserError("There is no user " + AUID);
  transaction.Commit();
}

std::vector<TUserAccount> ListUsers(TSqliteConnection& AConnection) {
  std::vector<std::pair<TUserAccount, std::string>> rows;
  {
    auto query = AConnection.Prepare("SELECT uid, nombre, clave FROM usuarios ORDER BY uid");
    while (query.Step()) {
      rows.push_back({{std::string(query.Text(0)), std::string(query.Text(1)), false},
                      std::string(query.Text(2))});
    }
  }
  // Verified after the query is done, so that no read stays open during
  // the hashes.
  std::vector<TUserAccount> users;
  for (auto& [user, hash] : rows) {
    user.EmptyPassword = PasswordMatches(hash, "");
    users.push_back(std::move(user));
  }
  return users;
}

}  // namespace qvr::server
