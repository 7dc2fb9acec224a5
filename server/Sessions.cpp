// Sessions with idle expiry; see Sessions.h.
#include "server/Sessions.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "platform/SysUtils.h"

namespace qvr::server {

std::string RandomId() {
  unsigned char bytes[16];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Exception(std::string("No random source: ") + std::strerror(errno));
    }
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  id.reserve(2 * sizeof bytes);
  for (unsigned char byte : bytes) {
    id += kHex[byte >> 4];
    id += kHex[byte & 15];
  }
  return id;
}

TMemorySessionStore::TMemorySessionStore(std::chrono::milliseconds AIdleTimeout,
                                         std::size_t AMaxSessions, TDropEvent AOnDrop)
    : TSessionStore(std::move(AOnDrop)),
      FTimeout(AIdleTimeout),
      FMax(AMaxSessions == 0 ? 1 : AMaxSessions) {}

std::string TMemorySessionStore::Create(const std::string& AUserName) {
  std::vector<std::string> gone;
  std::string id;
  {
    std::scoped_lock lock(FLock);
    do {
      id = RandomId();
    } while (FById.count(id) != 0);
    FSessions.push_front(TSession{id, AUserName, TClock::now()});
    FById.emplace(id, FSessions.begin());
    CollectLocked(TClock::now(), gone);
  }
  Notify(gone);
  return id;
}

TSessionStore::TLookup TMemorySessionStore::Touch(const std::string& AId,
                                                  const std::string& AUserName) {
  std::vector<std::string> gone;
  TLookup result = TLookup::Unknown;
  {
    std::scoped_lock lock(FLock);
    const auto now = TClock::now();
    CollectLocked(now, gone);
    const auto found = FById.find(AId);
    if (found != FById.end()) {
      if (found->second->UserName != AUserName) {
        result = TLookup::OtherUser;
      } else {
        found->second->LastUse = now;
        FSessions.splice(FSessions.begin(), FSessions, found->second);
        result = TLookup::Found;
      }
    }
  }
  Notify(gone);
  return result;
}

void TMemorySessionStore::End(const std::string& AId) {
  std::vector<std::string> gone;
  {
    std::scoped_lock lock(FLock);
    const auto found = FById.find(AId);
    if (found == FById.end()) return;
    FSessions.erase(found->second);
    FById.erase(found);
    gone.push_back(AId);
  }
  Notify(gone);
}

void TMemorySessionStore::Sweep() {
  std::vector<std::string> gone;
  {
    std::scoped_lock lock(FLock);
    CollectLocked(TClock::now(), gone);
  }
  Notify(gone);
}

std::size_t TMemorySessionStore::Count() const {
  std::scoped_lock lock(FLock);
  return FSessions.size();
}

void TMemorySessionStore::CollectLocked(TClock::time_point ANow, std::vector<std::string>& AGone) {
  while (!FSessions.empty() &&
         (FSessions.size() > FMax || ANow - FSessions.back().LastUse > FTimeout)) {
    AGone.push_back(std::move(FSessions.back().Id));
    FById.erase(AGone.back());
    FSessions.pop_back();
  }
}

}  // namespace qvr::server
