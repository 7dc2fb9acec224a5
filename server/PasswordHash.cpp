// Argon2id hashing through libsodium; see PasswordHash.h.
#include "server/PasswordHash.h"

#include <sodium.h>

#include <algorithm>
#include <mutex>
#include <semaphore>
#include <thread>

namespace qvr::server {

namespace {

// Hashing takes 64 MiB for its whole run; this bounds how many run at once.
class THashGate {
 public:
  THashGate() { Slots().acquire(); }
  ~THashGate() { Slots().release(); }
  THashGate(const THashGate&) = delete;
  THashGate& operator=(const THashGate&) = delete;

 private:
  static std::counting_semaphore<kMaxConcurrentHashes>& Slots() {
    static std::counting_semaphore<kMaxConcurrentHashes> slots(static_cast<std::ptrdiff_t>(
        std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMaxConcurrentHashes)));
    return slots;
  }
};

}  // namespace

void StartPasswordHashing() {
  static const int started = sodium_init();
  if (started < 0) throw EPasswordHashError("The password hashing library cannot start");
}

std::string HashPassword(std::string_view APassword) {
  StartPasswordHashing();
  char hash[crypto_pwhash_STRBYTES];
  THashGate gate;
  if (crypto_pwhash_str(hash, APassword.data(), APassword.size(),
                        crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    throw EPasswordHashError("Cannot hash a password: out of memory");
  }
  return hash;
}

bool PasswordMatches(std::string_view AHash, std::string_view APassword) {
  if (!IsPasswordHash(AHash) || AHash.size() >= crypto_pwhash_STRBYTES) return false;
  StartPasswordHashing();
  // libsodium reads the hash as a C string.
  char hash[crypto_pwhash_STRBYTES] = {};
  std::copy(AHash.begin(), AHash.end(), hash);
  THashGate gate;
  return crypto_pwhash_str_verify(hash, APassword.data(), APassword.size()) == 0;
}

bool IsPasswordHash(std::string_view AStored) { return AStored.starts_with(kPasswordHashPrefix); }

void SpendVerificationTime(std::string_view APassword) {
  static const std::string unknown = HashPassword("\x01 no user has this password \x01");
  PasswordMatches(unknown, APassword);
}

}  // namespace qvr::server
