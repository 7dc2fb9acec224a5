// A fixed number of worker threads with a bounded queue of waiting jobs: the
// remote methods and the database run here, never on the front's I/O
// threads. A job offered while the queue is full is refused at once, so the
// front can answer 503 instead of holding the request (or a thread) while
// it waits.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qvr::server {

class TBoundedThreadPool {
 public:
  TBoundedThreadPool(std::size_t AThreads, std::size_t AMaxQueued);
  // Runs Shutdown when it was not called.
  ~TBoundedThreadPool();
  TBoundedThreadPool(const TBoundedThreadPool&) = delete;
  TBoundedThreadPool& operator=(const TBoundedThreadPool&) = delete;

  // Queues AJob; false, with AJob not run, when the queue is full or the
  // pool is shut down.
  bool TryEnqueue(std::function<void()> AJob);
  // Lets the workers finish every queued job, then joins them.
  void Shutdown();

 private:
  void Work();

  const std::size_t FMaxQueued;
  std::mutex FLock;
  std::condition_variable FHasJob;
  std::deque<std::function<void()>> FJobs;
  bool FShutdown = false;
  std::vector<std::thread> FThreads;
};

}  // namespace qvr::server
