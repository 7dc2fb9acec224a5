// The credential store of an HTTP object; see CredentialsStorage.h.
#include "rest/http/CredentialsStorage.h"

#include <algorithm>

#include "rest/http/detail/HttpUrl.h"

namespace qvr::rest {

using detail::OriginOf;

void TCredentialsStorage::Add(const TCredential& ACredential) {
  const bool known =
      std::any_of(FCredentials.begin(), FCredentials.end(), [&](const TCredential& AItem) {
        return AItem.AuthTarget == ACredential.AuthTarget && AItem.Realm == ACredential.Realm &&
               AItem.URL == ACredential.URL && AItem.UserName == ACredential.UserName &&
               AItem.Password == ACredential.Password;
      });
  if (!known) FCredentials.push_back(ACredential);
}

std::vector<TCredential> TCredentialsStorage::Find(TAuthTargetType ATarget, std::string_view ARealm,
                                                   std::string_view AURL) const {
  std::vector<TCredential> result;
  const std::string origin = OriginOf(std::string(AURL));
  for (const TCredential& item : FCredentials) {
    if (item.AuthTarget != ATarget) continue;
    if (!item.Realm.empty() && !ARealm.empty() && item.Realm != ARealm) continue;
    if (!item.URL.empty() && (origin.empty() || OriginOf(item.URL) != origin)) continue;
    result.push_back(item);
  }
  return result;
}

}  // namespace qvr::rest
