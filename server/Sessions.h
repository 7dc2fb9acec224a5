// The server's sessions: a random, unguessable id per session, handed to the
// client in the answer's Pragma header ("sessionid=<id>") and sent back by
// it with every later request; the user that opened it; and an idle expiry.
// The number of sessions is bounded: beyond it the least recently used one
// goes. A session that expired or went is forgotten, so its id then reads as
// unknown. Whoever keeps data per session (the cache area) hears of every
// session that goes.
//
// TSessionStore is what admission uses; TMemorySessionStore keeps the
// sessions in the server's memory (one instance, the SQLite store), and
// PostgresSessions.h in the database that several instances share.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qvr::server {

// Abstract rather than an I... interface by name only: admission holds it
// by this name.
class TSessionStore {
 public:
  // Called, outside any lock of the store, with the ids of sessions that
  // went.
  using TDropEvent = std::function<void(const std::vector<std::string>& AIds)>;

  virtual ~TSessionStore() = default;

  // A new session of AUserName; returns its id (32 hexadecimal digits from
  // the kernel's random source).
  virtual std::string Create(const std::string& AUserName) = 0;

  enum class TLookup { Found, Unknown, OtherUser };
  // Finds the live session AId and marks it used now. Unknown covers ids
  // that never existed, expired and were dropped. OtherUser: the session
  // belongs to another user (it is left as it was).
  virtual TLookup Touch(const std::string& AId, const std::string& AUserName) = 0;
  // Touch answered from memory alone, for a request the front answers on
  // its I/O thread; none when only the database can tell.
  virtual std::optional<TLookup> TouchFromMemory(const std::string& AId,
                                                 const std::string& AUserName) = 0;
  // Whether Create works in memory alone.
  virtual bool CreatesInMemory() const = 0;

  // Ends the session AId at its holder's request: from now on its id reads
  // as unknown, and whoever keeps data for it hears that it went. Nothing
  // for an id the store does not hold.
  virtual void End(const std::string& AId) = 0;
  // Drops the sessions idle for longer than the time-out.
  virtual void Sweep() = 0;
  virtual std::size_t Count() const = 0;

 protected:
  explicit TSessionStore(TDropEvent AOnDrop) : FOnDrop(std::move(AOnDrop)) {}
  // Tells the drop event of the sessions in AGone, if any; call it outside
  // the store's locks.
  void Notify(const std::vector<std::string>& AGone) const {
    if (!AGone.empty() && FOnDrop) FOnDrop(AGone);
  }

 private:
  const TDropEvent FOnDrop;
};

class TMemorySessionStore : public TSessionStore {
 public:
  using TClock = std::chrono::steady_clock;

  TMemorySessionStore(std::chrono::milliseconds AIdleTimeout, std::size_t AMaxSessions,
                      TDropEvent AOnDrop);

  std::string Create(const std::string& AUserName) override;
  TLookup Touch(const std::string& AId, const std::string& AUserName) override;
  void End(const std::string& AId) override;
  std::optional<TLookup> TouchFromMemory(const std::string& AId,
                                         const std::string& AUserName) override {
    return Touch(AId, AUserName);
  }
  bool CreatesInMemory() const override { return true; }
  // Cheap when called often: it looks at the least recently used end only.
  void Sweep() override;
  std::size_t Count() const override;

 private:
  struct TSession {
    std::string Id;
    std::string UserName;
    TClock::time_point LastUse;
  };
  using TList = std::list<TSession>;

  // Takes out expired sessions (and, beyond the limit, the oldest) into AGone.
  void CollectLocked(TClock::time_point ANow, std::vector<std::string>& AGone);

  const std::chrono::milliseconds FTimeout;
  const std::size_t FMax;
  mutable std::mutex FLock;
  // Most recently used first.
  TList FSessions;
  std::unordered_map<std::string, TList::iterator> FById;
};

// 16 bytes from the kernel's random source as 32 lower-case hexadecimal
// digits.
std::string RandomId();

}  // namespace qvr::server
