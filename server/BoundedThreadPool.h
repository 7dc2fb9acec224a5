// A fixed number of worker threads with a bounded queue of waiting jobs. A
// job handed in while the queue is full waits in Enqueue until there is room,
// so a flood of connections backs up in the kernel's listen queue instead of
// in memory.
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

  // Queues AJob, waiting while the queue is full. After Shutdown the job runs
  // on the calling thread, so that nothing handed in is dropped.
  void Enqueue(std::function<void()> AJob);
  // Lets the workers finish every queued job, then joins them.
  void Shutdown();

 private:
  void Work();

  const std::size_t FMaxQueued;
  std::mutex FLock;
  std::condition_variable FHasJob;
  std::condition_variable FHasRoom;
  std::deque<std::function<void()>> FJobs;
  bool FShutdown = false;
  std::vector<std::thread> FThreads;
};

}  // namespace qvr::server
