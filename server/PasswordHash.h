// Passwords as the server keeps them: Argon2id hashes in the text form of
// libsodium's crypto_pwhash_str ("$argon2id$v=19$m=65536,t=2,p=1$<salt>$<hash>"),
// each with a random salt of its own, so equal passwords give different
// texts and the table says nothing about the passwords but their hashes.
//
// The cost is libsodium's "interactive" one, 2 passes over 64 MiB, about
// 170 ms of one core per hash or verification: the server checks Basic
// credentials on every request, and its verification cache (see
// VerifiedPasswords.h) makes that once per user and minute, but a login
// must stay quick and a burst of them must fit in memory. Verifications
// already stored keep the cost they were made with (it is in the text).
// At most kMaxConcurrentHashes hashes are computed at once, the others
// wait, so a flood of wrong passwords takes at most that many times 64 MiB.
// sodium.h stays out of this header.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/SysUtils.h"

namespace qvr::server {

// The hashing library could not start, or a hash could not be computed (out
// of memory).
class EPasswordHashError : public Exception {
  using Exception::Exception;
};

inline constexpr std::size_t kMaxConcurrentHashes = 4;
// The prefix of every hash this server stores; a value without it was kept
// as text by an earlier version.
inline constexpr std::string_view kPasswordHashPrefix = "$argon2id$";

// Starts the hashing library; later calls return at once. Raises
// EPasswordHashError when it cannot start.
void StartPasswordHashing();
// The Argon2id hash of APassword with a new random salt. Raises
// EPasswordHashError when it cannot be computed.
std::string HashPassword(std::string_view APassword);
// Whether APassword is the password AHash was made from. False for a text
// that is no hash (a password kept as text is never compared as text).
bool PasswordMatches(std::string_view AHash, std::string_view APassword);
// Whether AStored is an Argon2id hash rather than a password kept as text.
bool IsPasswordHash(std::string_view AStored);
// Spends the time of one verification of APassword, for a user name that
// does not exist, so that the time of a refusal does not tell which names
// do.
void SpendVerificationTime(std::string_view APassword);

}  // namespace qvr::server
