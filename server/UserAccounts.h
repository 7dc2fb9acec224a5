// The users allowed to call the server, the table usuarios: a UID, a name
// (nombre) and the Argon2id hash of the password (clave; PasswordHash.h).
// The server reads it on every request; `qvr-server user ...`
// (UserCommand.h) changes it through the store (AttendanceStore.h), also
// while servers run on the same database. This unit holds what a user name
// and a name may be.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SysUtils.h"

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

}  // namespace qvr::server
