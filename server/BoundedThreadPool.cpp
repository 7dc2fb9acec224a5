// Worker threads with a bounded queue; see BoundedThreadPool.h.
#include "server/BoundedThreadPool.h"

namespace qvr::server {

TBoundedThreadPool::TBoundedThreadPool(std::size_t AThreads, std::size_t AMaxQueued)
    : FMaxQueued(AMaxQueued == 0 ? 1 : AMaxQueued) {
  if (AThreads == 0) AThreads = 1;
  FThreads.reserve(AThreads);
  for (std::size_t i = 0; i < AThreads; ++i) FThreads.emplace_back([this] { Work(); });
}

TBoundedThreadPool::~TBoundedThreadPool() { Shutdown(); }

bool TBoundedThreadPool::TryEnqueue(std::function<void()> AJob) {
  {
    std::scoped_lock lock(FLock);
    if (FShutdown || FJobs.size() >= FMaxQueued) return false;
    FJobs.push_back(std::move(AJob));
  }
  FHasJob.notify_one();
  return true;
}

void TBoundedThreadPool::Shutdown() {
  {
    std::scoped_lock lock(FLock);
    if (FShutdown && FThreads.empty()) return;
    FShutdown = true;
  }
  FHasJob.notify_all();
  for (auto& thread : FThreads) {
    if (thread.joinable()) thread.join();
  }
  FThreads.clear();
}

void TBoundedThreadPool::Work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(FLock);
      FHasJob.wait(lock, [&] { return FShutdown || !FJobs.empty(); });
      if (FJobs.empty()) return;
      job = std::move(FJobs.front());
      FJobs.pop_front();
    }
    job();
  }
}

}  // namespace qvr::server
