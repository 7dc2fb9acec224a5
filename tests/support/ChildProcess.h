// Ending a child process that a test started (a server, a proxy).
#pragma once

#include <sys/types.h>

#include <chrono>

namespace qvr::test {

// Sends ASignal to the child APid and waits for it to end; after AGrace it is
// killed with SIGKILL. Returns its exit status, or 128 + the signal that
// ended it.
int StopChild(pid_t APid, int ASignal, std::chrono::seconds AGrace);

}  // namespace qvr::test
