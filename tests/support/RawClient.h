// A raw TCP client for tests that must control every byte a server reads:
// malformed requests, requests in pieces at a given pace, pipelined ones, and
// connections from another loopback address (127.0.0.2, ...), which Linux
// routes to the same host, so that per-client limits can be tried without a
// second machine.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qvr::test {

struct TRawAnswer {
  int Status = 0;
  // Field names in lower case.
  std::map<std::string, std::string> Fields;
  std::string Body;
  std::string Header(const std::string& ALowerName) const;
};

class TRawClient {
 public:
  // Connects to 127.0.0.1:APort from AFromAddress (any 127.x.y.z). Raises
  // std::runtime_error when the connection cannot be made.
  explicit TRawClient(int APort, const std::string& AFromAddress = "127.0.0.1");
  ~TRawClient();
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  // Sends all of ABytes; false when the server closed the connection.
  bool Send(std::string_view ABytes);
  // Sends ABytes one byte every AEach, while the connection is open; false
  // when it closed before the end.
  bool Trickle(std::string_view ABytes, std::chrono::milliseconds AEach);

  // The next answer on the connection (head and Content-Length body), or none
  // when the connection closed or nothing came within ATimeout.
  std::optional<TRawAnswer> Read(std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  // Whether the server closed the connection within ATimeout (what it still
  // sends is read and dropped).
  bool ClosedWithin(std::chrono::milliseconds ATimeout);

  // The socket, for a test that speaks TLS over it.
  int Descriptor() const { return FFd; }

  // A request head for APath (GET unless AMethod says otherwise) with Host
  // 127.0.0.1:APort and AExtra fields ("Name: value\r\n" each), then ABody
  // with its Content-Length when AMethod takes one.
  static std::string Request(int APort, const std::string& APath,
                             const std::string& AMethod = "GET", const std::string& AExtra = "",
                             const std::string& ABody = "");

 private:
  bool Fill(std::chrono::steady_clock::time_point ADeadline);

  int FFd = -1;
  std::string FPending;
};

}  // namespace qvr::test
