// Ending a child process that a test started; see ChildProcess.h.
#include "support/ChildProcess.h"

#include <signal.h>
#include <sys/wait.h>

#include <thread>

namespace qvr::test {

int StopChild(pid_t APid, int ASignal, std::chrono::seconds AGrace) {
  ::kill(APid, ASignal);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + AGrace;
  while (::waitpid(APid, &status, WNOHANG) != APid) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(APid, SIGKILL);
      ::waitpid(APid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

}  // namespace qvr::test
