// What a user name and a name may be; see UserAccounts.h.
#include "server/UserAccounts.h"

#include "platform/Utf.h"

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

}  // namespace qvr::server
