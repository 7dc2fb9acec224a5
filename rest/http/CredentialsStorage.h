// The credential store of an HTTP object (TCredentialsStorage, entries
// TCredential): the pairs it has learnt, and which of them match a challenge.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rest/http/HTTPTypes.h"

namespace qvr::rest {

// One entry of the credential store.
struct TCredential {
  TAuthTargetType AuthTarget = TAuthTargetType::Server;
  // Empty matches every realm.
  std::string Realm;
  // The URL the credential was given for; empty matches every URL. A non-empty
  // one matches URLs of the same scheme, host and port.
  std::string URL;
  std::string UserName;
  std::string Password;
};

// The credentials an HTTP object has learnt, in the order they were added.
class TCredentialsStorage {
 public:
  // Appends the credential unless an identical one is already stored.
  void Add(const TCredential& ACredential);
  void Clear() { FCredentials.clear(); }
  const std::vector<TCredential>& Credentials() const { return FCredentials; }
  // The stored credentials for ATarget whose realm and URL match, in store order.
  std::vector<TCredential> Find(TAuthTargetType ATarget, std::string_view ARealm,
                                std::string_view AURL) const;

 private:
  std::vector<TCredential> FCredentials;
};

}  // namespace qvr::rest
