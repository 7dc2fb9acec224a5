// The cache of verified passwords; see VerifiedPasswords.h.
#include "server/VerifiedPasswords.h"

#include <sodium.h>

#include <algorithm>

#include "server/PasswordHash.h"

namespace qvr::server {

static_assert(crypto_generichash_KEYBYTES == 32);

TVerifiedPasswords::TVerifiedPasswords(std::chrono::milliseconds ALifetime, std::size_t AMaxEntries)
    : FLifetime(ALifetime), FMaxEntries(std::max<std::size_t>(AMaxEntries, 1)) {
  StartPasswordHashing();
  crypto_generichash_keygen(FKey.data());
}

TVerifiedPasswords::~TVerifiedPasswords() { sodium_memzero(FKey.data(), FKey.size()); }

TVerifiedPasswords::TDigest TVerifiedPasswords::Digest(const std::string& AUserName,
                                                       std::string_view APassword) const {
  // The user name is part of the digest, so that two users with the same
  // password do not have the same digest.
  crypto_generichash_state state;
  crypto_generichash_init(&state, FKey.data(), FKey.size(), kDigestBytes);
  const std::uint64_t length = AUserName.size();
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(&length), sizeof length);
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(AUserName.data()),
                            AUserName.size());
  crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(APassword.data()),
                            APassword.size());
  TDigest digest;
  crypto_generichash_final(&state, digest.data(), digest.size());
  return digest;
}

bool TVerifiedPasswords::Holds(const std::string& AUserName, std::string_view APassword,
                               std::string_view AStoredHash) {
  return Check(AUserName, APassword, [&](TEntry& AEntry, TClock::time_point ANow) {
    if (AEntry.StoredHash != AStoredHash) return TVerdict::Forget;
    AEntry.Confirmed = ANow;
    return TVerdict::Match;
  });
}

bool TVerifiedPasswords::HoldsConfirmedWithin(const std::string& AUserName,
                                              std::string_view APassword,
                                              std::chrono::milliseconds AConfirmed) {
  return Check(AUserName, APassword, [&](TEntry& AEntry, TClock::time_point ANow) {
    return ANow - AEntry.Confirmed < AConfirmed ? TVerdict::Match : TVerdict::NoMatch;
  });
}

template <class TRule>
bool TVerifiedPasswords::Check(const std::string& AUserName, std::string_view APassword,
                               TRule ARule) {
  const TDigest digest = Digest(AUserName, APassword);
  std::scoped_lock lock(FLock);
  const auto found = FEntries.find(AUserName);
  if (found == FEntries.end()) return false;
  TEntry& entry = found->second;
  const auto now = TClock::now();
  // In constant time: how much of a guess matches must not show.
  if (now - entry.Verified >= FLifetime ||
      sodium_memcmp(entry.Digest.data(), digest.data(), digest.size()) != 0) {
    if (now - entry.Verified >= FLifetime) FEntries.erase(found);
    return false;
  }
  switch (ARule(entry, now)) {
    case TVerdict::Match:
      return true;
    case TVerdict::Forget:
      FEntries.erase(found);
      return false;
    case TVerdict::NoMatch:
      break;
  }
  return false;
}

void TVerifiedPasswords::Remember(const std::string& AUserName, std::string_view APassword,
                                  std::string_view AStoredHash) {
  const auto now = TClock::now();
  TEntry entry{Digest(AUserName, APassword), std::string(AStoredHash), now, now};
  std::scoped_lock lock(FLock);
  if (FEntries.size() >= FMaxEntries && !FEntries.contains(AUserName)) {
    std::erase_if(FEntries, [&](const auto& AItem) {
      return entry.Verified - AItem.second.Verified >= FLifetime;
    });
    if (FEntries.size() >= FMaxEntries) {
      FEntries.erase(std::min_element(FEntries.begin(), FEntries.end(),
                                      [](const auto& ALeft, const auto& ARight) {
                                        return ALeft.second.Verified < ARight.second.Verified;
                                      }));
    }
  }
  FEntries.insert_or_assign(AUserName, std::move(entry));
}

std::size_t TVerifiedPasswords::Size() {
  std::scoped_lock lock(FLock);
  return FEntries.size();
}

}  // namespace qvr::server
