// Running a program for a test; see ProgramRun.h.
#include "support/ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace qvr::test {

namespace {

using TClock = std::chrono::steady_clock;

struct TPipe {
  int Read = -1;
  int Write = -1;
  TPipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    Read = fds[0];
    Write = fds[1];
  }
  ~TPipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (Read >= 0) ::close(Read);
    Read = -1;
  }
  void CloseWrite() {
    if (Write >= 0) ::close(Write);
    Write = -1;
  }
};

}  // namespace

TProgramResult RunProgram(const std::string& AProgram, const std::vector<std::string>& AArgs,
                          const TProgramOptions& AOptions) {
  std::vector<std::string> args = {AProgram};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // A variable the caller sets replaces the inherited one: getenv takes the
  // first entry of a name, so appending alone would not override it.
  const auto overridden = [&AOptions](std::string_view AEntry) {
    const std::size_t equals = AEntry.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view name = AEntry.substr(0, equals + 1);
    return std::any_of(AOptions.Environment.begin(), AOptions.Environment.end(),
                       [name](const std::string& AOwn) { return AOwn.starts_with(name); });
  };
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!overridden(*e)) env.emplace_back(*e);
  }
  env.insert(env.end(), AOptions.Environment.begin(), AOptions.Environment.end());
  std::vector<char*> envp;
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  TPipe in, out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.Read, 0);
  posix_spawn_file_actions_adddup2(&actions, out.Write, 1);
  posix_spawn_file_actions_adddup2(&actions, err.Write, 2);
  if (!AOptions.WorkingFolder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, AOptions.WorkingFolder.c_str());
  }
  // Writing to a program that ended must not end the test: the test ignores
  // SIGPIPE, and the program gets its default back.
  ::signal(SIGPIPE, SIG_IGN);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();
  if (rc != 0) throw std::runtime_error("Cannot start " + AProgram);

  TProgramResult result;
  std::size_t written = 0;
  if (AOptions.Input.empty()) in.CloseWrite();
  const auto deadline = TClock::now() + AOptions.Limit;
  while (out.Read >= 0 || err.Read >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) {
      result.TimedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd entries[3] = {{out.Read, POLLIN, 0}, {err.Read, POLLIN, 0}, {in.Write, POLLOUT, 0}};
    if (::poll(entries, 3, static_cast<int>(std::min<long long>(left, 1000))) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      TPipe& pipe = i == 0 ? out : err;
      if (pipe.Read < 0 || (entries[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(pipe.Read, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.Out : result.Err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        pipe.CloseRead();
      }
    }
    if (in.Write >= 0 && (entries[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      // The program may end without reading it all: a broken pipe is no failure.
      const ssize_t n = ::write(in.Write, AOptions.Input.data() + written,
                                std::min<std::size_t>(AOptions.Input.size() - written, 65536));
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 || written == AOptions.Input.size()) in.CloseWrite();
    }
  }
  in.CloseWrite();
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace qvr::test
