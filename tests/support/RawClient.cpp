// A raw TCP client for tests; see RawClient.h.
#include "support/RawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace qvr::test {

std::string TRawAnswer::Header(const std::string& ALowerName) const {
  const auto it = Fields.find(ALowerName);
  return it == Fields.end() ? std::string() : it->second;
}

TRawClient::TRawClient(int APort, const std::string& AFromAddress) {
  FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FFd < 0) throw std::runtime_error("socket failed");
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, AFromAddress.c_str(), &from.sin_addr);
  if (::bind(FFd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
    ::close(FFd);
    throw std::runtime_error("cannot bind to " + AFromAddress);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(APort));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (::connect(FFd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(FFd);
    throw std::runtime_error("cannot connect to port " + std::to_string(APort));
  }
  const int on = 1;
  ::setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

TRawClient::~TRawClient() {
  if (FFd >= 0) ::close(FFd);
}

bool TRawClient::Send(std::string_view ABytes) {
  while (!ABytes.empty()) {
    const ssize_t n = ::send(FFd, ABytes.data(), ABytes.size(), MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    ABytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool TRawClient::Trickle(std::string_view ABytes, std::chrono::milliseconds AEach) {
  for (const char c : ABytes) {
    if (!Send(std::string_view(&c, 1))) return false;
    std::this_thread::sleep_for(AEach);
  }
  return true;
}

bool TRawClient::Fill(std::chrono::steady_clock::time_point ADeadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      ADeadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd p{FFd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
  char buffer[65536];
  const ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
  if (n <= 0) return false;
  FPending.append(buffer, static_cast<std::size_t>(n));
  return true;
}

std::optional<TRawAnswer> TRawClient::Read(std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  std::size_t end;
  while ((end = FPending.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill(deadline)) return std::nullopt;
  }
  TRawAnswer answer;
  const std::string head = FPending.substr(0, end);
  FPending.erase(0, end + 4);
  std::size_t lineEnd = head.find("\r\n");
  const std::string status = head.substr(0, lineEnd);
  if (status.size() < 12) return std::nullopt;
  answer.Status = std::stoi(status.substr(9, 3));
  while (lineEnd != std::string::npos) {
    const std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    answer.Fields[name] = line.substr(line.find_first_not_of(' ', colon + 1));
  }
  const std::size_t length =
      answer.Fields.count("content-length") ? std::stoul(answer.Fields["content-length"]) : 0;
  while (FPending.size() < length) {
    if (!Fill(deadline)) return std::nullopt;
  }
  answer.Body = FPending.substr(0, length);
  FPending.erase(0, length);
  return answer;
}

bool TRawClient::ClosedWithin(std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[65536];
    const ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
  }
}

std::string TRawClient::Request(int APort, const std::string& APath, const std::string& AMethod,
                                const std::string& AExtra, const std::string& ABody) {
  std::string request = AMethod + " " + APath +
                        " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(APort) + "\r\n" + AExtra;
  if (!ABody.empty() || AMethod == "POST" || AMethod == "PUT") {
    request += "Content-Length: " + std::to_string(ABody.size()) + "\r\n";
  }
  return request + "\r\n" + ABody;
}

}  // namespace qvr::test
