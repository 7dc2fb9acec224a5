// The passwords the server verified lately, so that a client, which sends
// its credentials with every request, pays for an Argon2id verification
// (PasswordHash.h) once in a while rather than on every call.
//
// An entry is a user name, a keyed BLAKE2b digest of the password (the key
// is drawn at random when the cache is made and never leaves the process;
// the password itself is not kept), the stored hash the password was checked
// against and the time of the check. A request hits only while the database
// still holds that same hash: a changed password (new hash, new salt) or a
// removed user stops working at its next request, whichever program changed
// the table. Entries live at most ALifetime; at most AMaxEntries are kept,
// the oldest going first. Only successful verifications are kept, so the
// entries belong to users that exist. Safe to use from any thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qvr::server {

class TVerifiedPasswords {
 public:
  using TClock = std::chrono::steady_clock;

  TVerifiedPasswords(std::chrono::milliseconds ALifetime, std::size_t AMaxEntries);
  ~TVerifiedPasswords();
  TVerifiedPasswords(const TVerifiedPasswords&) = delete;
  TVerifiedPasswords& operator=(const TVerifiedPasswords&) = delete;

  // Whether AUserName's password APassword was verified against
  // AStoredHash within the lifetime.
  bool Holds(const std::string& AUserName, std::string_view APassword,
             std::string_view AStoredHash);
  // Whether AUserName's password APassword was verified within the
  // lifetime and its stored hash found unchanged (by Holds or Remember)
  // within AConfirmed: a request the server answers without reading the
  // database, so that a changed or removed user stops working within
  // AConfirmed rather than at its very next request.
  bool HoldsConfirmedWithin(const std::string& AUserName, std::string_view APassword,
                            std::chrono::milliseconds AConfirmed);
  // Records that APassword is AUserName's password while AStoredHash is
  // stored, in place of what was recorded for that user before.
  void Remember(const std::string& AUserName, std::string_view APassword,
                std::string_view AStoredHash);
  std::size_t Size();

 private:
  static constexpr std::size_t kDigestBytes = 32;
  using TDigest = std::array<std::uint8_t, kDigestBytes>;
  struct TEntry {
    TDigest Digest;
    std::string StoredHash;
    TClock::time_point Verified;
    // When the database last showed StoredHash unchanged.
    TClock::time_point Confirmed;
  };

  TDigest Digest(const std::string& AUserName, std::string_view APassword) const;
  // What a check makes of an entry whose password matches.
  enum class TVerdict { Match, NoMatch, Forget };
  // Finds AUserName's live entry and compares APassword with it; a match
  // then stands as ARule(entry, now) says. An entry past its lifetime goes.
  template <class TRule>
  bool Check(const std::string& AUserName, std::string_view APassword, TRule ARule);

  const std::chrono::milliseconds FLifetime;
  const std::size_t FMaxEntries;
  std::array<std::uint8_t, 32> FKey{};
  std::mutex FLock;
  std::unordered_map<std::string, TEntry> FEntries;
};

}  // namespace qvr::server
