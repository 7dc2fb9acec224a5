// A listener of one PostgreSQL notification channel: a connection of its
// own, on a thread of its own, that hands every notification's payload to a
// callback as soon as it arrives. Notifications reach a listener only while
// its connection lives, so a state kept from them can be trusted only from
// a reading made while listening: the listener asks for one after LISTEN and
// again after every second without notifications (a connection that died
// silently, the network gone, then shows as a reading that does not come
// back), and says when the state is not to be trusted: before each reading,
// and when the connection is lost (the database restarting, the network
// away). It connects again every second until it is destroyed.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace qvr::server {

class TPgConnection;

class TPgListener {
 public:
  // Called on the listener's thread, one at a time.
  struct TEvents {
    // Read the state now, with the listening connection; every change
    // after it comes as a notification.
    std::function<void(TPgConnection&)> OnSynchronise;
    std::function<void(const std::string& APayload)> OnNotification;
    // The state may miss changes until the next OnSynchronise.
    std::function<void()> OnUnsure;
  };

  // Starts listening on AChannel (a plain identifier) of the database at
  // AURL. Raises std::system_error when the thread or its wake-up pipe
  // cannot be made.
  TPgListener(std::string AURL, std::string AChannel, TEvents AEvents);
  // Stops the thread; no callback runs after it returns.
  ~TPgListener();
  TPgListener(const TPgListener&) = delete;
  TPgListener& operator=(const TPgListener&) = delete;

 private:
  enum class TWaited { Readable, TimedOut, Stopping };
  void Run();
  // Waits at most AMilliseconds for ASocket to be readable (-1: no socket).
  TWaited Wait(int ASocket, int AMilliseconds);

  const std::string FURL;
  const std::string FChannel;
  const TEvents FEvents;
  std::atomic<bool> FStopping{false};
  // Written to by the destructor to end a wait at once.
  int FWake[2] = {-1, -1};
  std::thread FThread;
};

}  // namespace qvr::server
