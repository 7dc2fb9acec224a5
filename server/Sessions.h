// The server's sessions: a random, unguessable id per session, handed to the
// client in the answer's Pragma header ("sessionid=<id>") and sent back by
// it with every later request; the user that opened it; and an idle expiry.
// The number of sessions is bounded: beyond it the least recently used one
// goes. A session that expired or went is forgotten, so its id then reads as
// unknown. Whoever keeps data per session (the cache area) hears of every
// session that goes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace qvr::server {

class TSessionStore {
 public:
  using TClock = std::chrono::steady_clock;
  // Called, outside the store's lock, with the ids of sessions that went.
  using TDropEvent = std::function<void(const std::vector<std::string>& AIds)>;

  TSessionStore(std::chrono::milliseconds AIdleTimeout, std::size_t AMaxSessions,
                TDropEvent AOnDrop);

  // A new session of AUserName; returns its id (32 hexadecimal digits from
  // the kernel's random source).
  std::string Create(const std::string& AUserName);

  enum class TLookup { Found, Unknown, OtherUser };
  // Finds the live session AId and marks it used now. Unknown covers ids
  // that never existed, expired and were dropped. OtherUser: the session
  // belongs to another user (it is left as it was).
  TLookup Touch(const std::string& AId, const std::string& AUserName);

  // Ends the session AId at its holder's request: from now on its id reads
  // as unknown, and whoever keeps data for it hears that it went. Nothing
  // for an id the store does not hold.
  void End(const std::string& AId);

  // Drops the sessions idle for longer than the time-out. Cheap when called
  // often: it looks at the least recently used end only.
  void Sweep();
  std::size_t Count() const;

 private:
  struct TSession {
    std::string Id;
    std::string UserName;
    TClock::time_point LastUse;
  };
  using TList = std::list<TSession>;

  // Takes out expired sessions (and, beyond the limit, the oldest) into AGone.
  void CollectLocked(TClock::time_point ANow, std::vector<std::string>& AGone);
  void Notify(const std::vector<std::string>& AGone) const;

  const std::chrono::milliseconds FTimeout;
  const std::size_t FMax;
  const TDropEvent FOnDrop;
  mutable std::mutex FLock;
  // Most recently used first.
  TList FSessions;
  std::unordered_map<std::string, TList::iterator> FById;
};

// 16 bytes from the kernel's random source as 32 lower-case hexadecimal
// digits.
std::string RandomId();

}  // namespace qvr::server
