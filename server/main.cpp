// qvr-server: the reference attendance server. Opens (creating and seeding
// on first start, upgrading an older one) the database in the data folder or
// the PostgreSQL database of --database, listens, prints the address it
// listens on as one line on standard output, and serves until SIGINT or
// SIGTERM; it then answers the requests in flight, closes the database and
// exits 0. A second signal ends it at once. `qvr-server user ...` manages
// the users instead (UserCommand.h).
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "server/AttendanceStore.h"
#include "server/HttpFront.h"
#include "server/ServerOptions.h"
#include "server/UserCommand.h"

using namespace qvr::server;

namespace {

// `qvr-server user ...`: parses, resolves the data folder and runs it.
int UserCommand(const std::vector<std::string>& AArgs) {
  TUserCommand command;
  try {
    command = ParseUserCommand(std::vector<std::string>(AArgs.begin() + 1, AArgs.end()));
    if (command.Help) {
      std::fputs(ServerUsage().c_str(), stdout);
      return 0;
    }
    if (command.DataFolder.empty() && command.Database.empty()) {
      command.DataFolder = DefaultDataFolder();
    }
  } catch (const std::exception& AError) {
    std::fprintf(stderr, "qvr-server: %s\n(qvr-server --help describes the user commands)\n",
                 AError.what());
    return 2;
  }
  return RunUserCommand(command);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (IsUserCommand(args)) return UserCommand(args);
  TServerOptions options;
  try {
    options = ParseServerOptions(args);
    if (options.Help) {
      std::fputs(ServerUsage().c_str(), stdout);
      return 0;
    }
    if (options.DataFolder.empty() && options.Database.empty()) {
      options.DataFolder = DefaultDataFolder();
    }
  } catch (const std::exception& AError) {
    std::fprintf(stderr, "qvr-server: %s\n\n%s", AError.what(), ServerUsage().c_str());
    return 2;
  }

  // The signals are taken by one thread with sigwait; every other thread,
  // started after this, inherits the blocked mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A client that goes away mid-answer must not end the server.
  signal(SIGPIPE, SIG_IGN);
  // Memory a request held goes back to the system when the request ends:
  // large buffers (bodies, blobs, encoded lists) are mapped on their own
  // rather than left in the heap, whose free parts the front also trims
  // after a large request; and few heap arenas, so that free memory is not
  // spread over one per worker thread.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  mallopt(M_ARENA_MAX, 4);

  try {
    TStoreSettings settings;
    settings.Database = options.Database;
    settings.DataFolder = options.DataFolder;
    settings.SeedEmployees = options.SeedEmployees;
    settings.MaxConnections = static_cast<std::size_t>(options.Threads) + 2;
    const auto store = OpenAttendanceStore(settings);
    if (store->HashedPasswords() > 0) {
      std::fprintf(stderr, "qvr-server: hashed %zu password(s) kept as text in %s\n",
                   store->HashedPasswords(), store->Location().c_str());
    }
    if (store->Seeded()) {
      std::fprintf(stderr, "qvr-server: created %s with %d employees\n", store->Location().c_str(),
                   options.SeedEmployees);
    } else if (options.SeedEmployeesGiven) {
      std::fprintf(stderr, "qvr-server: %s exists; --seed-employees applies to a new database\n",
                   store->Location().c_str());
    }
    TAttendanceServer server(options, *store);
    const int port = server.Bind();
    std::printf("Listening on %s:%d\n", options.ListenHost.c_str(), port);
    std::fflush(stdout);

    std::atomic<bool> done{false};
    std::thread watcher([&] {
      bool stopping = false;
      for (;;) {
        int received = 0;
        sigwait(&signals, &received);
        if (done) return;
        if (stopping) std::_Exit(130);
        stopping = true;
        std::fprintf(stderr, "qvr-server: stopping (%s)\n",
                     received == SIGINT ? "SIGINT" : "SIGTERM");
        server.Stop();
      }
    });
    server.Run();
    // Wakes the watcher, which is waiting for a first or second signal.
    done = true;
    pthread_kill(watcher.native_handle(), SIGTERM);
    watcher.join();
    std::fprintf(stderr, "qvr-server: stopped\n");
  } catch (const std::exception& AError) {
    std::fprintf(stderr, "qvr-server: %s\n", AError.what());
    return 1;
  }
  return 0;
}
