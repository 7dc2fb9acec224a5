// The listener of a notification channel; see PostgresNotifications.h.
#include "server/PostgresNotifications.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "server/PostgresDatabase.h"

namespace qvr::server {

namespace {

// How long a listener goes without reading the state again, and waits
// before it connects again when it lost its connection.
constexpr int kQuietMilliseconds = 1000;

}  // namespace

TPgListener::TPgListener(std::string AURL, std::string AChannel, TEvents AEvents)
    : FURL(std::move(AURL)), FChannel(std::move(AChannel)), FEvents(std::move(AEvents)) {
  if (::pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  FThread = std::thread([this] { Run(); });
}

TPgListener::~TPgListener() {
  FStopping = true;
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = ::write(FWake[1], &byte, 1);
  FThread.join();
  ::close(FWake[0]);
  ::close(FWake[1]);
}

TPgListener::TWaited TPgListener::Wait(int ASocket, int AMilliseconds) {
  pollfd fds[2] = {{FWake[0], POLLIN, 0}, {ASocket, POLLIN, 0}};
  const nfds_t count = ASocket >= 0 ? 2 : 1;
  int ready = -1;
  while (!FStopping && (ready = ::poll(fds, count, AMilliseconds)) < 0 && errno == EINTR) {
  }
  if (FStopping) return TWaited::Stopping;
  return ready > 0 ? TWaited::Readable : TWaited::TimedOut;
}

void TPgListener::Run() {
  while (!FStopping) {
    try {
      TPgConnection connection(FURL);
      connection.Run("LISTEN " + FChannel);
      for (;;) {
        FEvents.OnUnsure();
        FEvents.OnSynchronise(connection);
        TWaited waited;
        while ((waited = Wait(connection.Socket(), kQuietMilliseconds)) == TWaited::Readable) {
          // A lost connection raises EStoreUnavailable here.
          for (const std::string& payload : connection.Notifications()) {
            FEvents.OnNotification(payload);
          }
        }
        if (waited == TWaited::Stopping) return;
      }
    } catch (const std::exception&) {
      // The database is away or refused: tried again below.
    }
    FEvents.OnUnsure();
    if (Wait(-1, kQuietMilliseconds) == TWaited::Stopping) return;
  }
}

}  // namespace qvr::server
