// Many maximal requests at once, of one kind each, as a hostile client on a
// network sends them: bodies at the body limit, head sets at the header
// limits, heads that never end, bodies of one huge JSON array, and uploads
// whose blobs inflate far beyond anything. Each flood runs its connections
// on threads of its own from a loopback address of its own (so that the cap
// per client address does not decide), for a test that checks the server
// stays up, keeps its memory within bounds and still answers a legitimate
// call, and for the benchmark that does the same with the defaults.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qvr::test {

enum class TFloodKind { Bodies, Headers, SlowHeads, JSONArrays, InflatingUploads };

// The name of a kind, for messages.
const char* FloodName(TFloodKind AKind);

class TFlood {
 public:
  // Starts AConnections requests of AKind to 127.0.0.1:APort from
  // AFromAddress, sized to the server's AMaxBody.
  TFlood(int APort, TFloodKind AKind, int AConnections, std::size_t AMaxBody,
         const std::string& AFromAddress);
  // Ends the connections and joins the threads.
  ~TFlood();
  TFlood(const TFlood&) = delete;
  TFlood& operator=(const TFlood&) = delete;

  // Waits until every request was answered or refused (slow heads: until
  // each was cut off), at most ASeconds; returns how many got an answer.
  int Wait(int ASeconds);

 private:
  std::atomic<bool> FStop{false};
  std::atomic<int> FAnswered{0};
  std::atomic<int> FDone{0};
  int FCount;
  std::vector<std::thread> FThreads;
};

}  // namespace qvr::test
