// The users allowed to call the server, the table usuarios: a UID, a name
// (nombre) and the Argon2id hash of the password (clave; PasswordHash.h).
// The server reads it on every request; `qvr-server user ...`
// (UserCommand.h) changes it, also while a server runs on the same data
// folder: each change is one transaction, and a password is hashed before
// the transaction begins, so the table is never locked for the time of a
// hash.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SysUtils.h"
#include "server/Database.h"

namespace qvr::server {

// A change of the users refused: a name that cannot be a user's, a user
// that exists already or does not exist.
class EUserError : public Exception {
  using Exception::Exception;
};

struct TUserAccount {
  std::string UID;
  std::string Nombre;
  // The empty password is this user's: anyone who knows the UID can call.
  bool EmptyPassword = false;
};

inline constexpr std::size_t kMaxUserNameBytes = 64;
inline constexpr std::size_t kMaxUserNombreBytes = 200;

// Raises EUserError unless AUID can be a user name: 1 to 64 bytes of UTF-8
// without control characters or ":" (Basic credentials end the name at the
// first ":"), no blank at either end.
void CheckUserName(std::string_view AUID);
// Raises EUserError unless ANombre is at most 200 bytes of UTF-8 without
// control characters.
void CheckUserNombre(std::string_view ANombre);

// The stored hash of AUID's password; nothing when there is no such user.
std::optional<std::string> StoredPasswordHash(TSqliteConnection& AConnection,
                                              const std::string& AUID);
// Hashes every password of the table kept as text (a value without the
// hash's prefix), inside the caller's transaction, and returns how many.
std::size_t HashTextPasswords(TSqliteConnection& AConnection);

// Adds the user AUID with ANombre and the password APassword. Raises
// EUserError for a bad name or a user that exists; the table is unchanged
// then.
void AddUser(TSqliteConnection& AConnection, const std::string& AUID, const std::string& ANombre,
             std::string_view APassword);
// Gives AUID the password APassword. Raises EUserError when there is no
// such user.
void SetUserPassword(TSqliteConnection& AConnection, const std::string& AUID,
                     std::string_view APassword);
// Raises EUserError when there is no such user.
void RemoveUser(TSqliteConnection& AConnection, const std::string& AUID);
bool UserExists(TSqliteConnection& AConnection, const std::string& AUID);
// Every user, ordered by UID. Telling whether a password is empty takes a
// verification per user (some 170 ms each).
std::vector<TUserAccount> ListUsers(TSqliteConnection& AConnection);

}  // namespace qvr::server
