// Loopback servers for the HTTP tests and benchmarks: a cpp-httplib server on
// a free port of 127.0.0.1 (plain or TLS with a certificate made by the test),
// a small forward proxy, a raw server that answers with the exact bytes a test
// gives (for status lines cpp-httplib cannot write, header order, stalls), and
// a port on which nothing listens.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/ScopedEnv.h"

namespace qvr::test {

// A cpp-httplib server on 127.0.0.1, serving from its own thread between
// Start() and destruction. Register handlers on Server() before Start().
class THttpTestServer {
 public:
  THttpTestServer();
  explicit THttpTestServer(std::unique_ptr<httplib::Server> AServer, std::string AScheme);
  ~THttpTestServer();
  THttpTestServer(const THttpTestServer&) = delete;
  THttpTestServer& operator=(const THttpTestServer&) = delete;

  httplib::Server& Server() { return *FServer; }
  // Binds a free port and waits (at most 5 s) until the server accepts.
  void Start();
  int Port() const { return FPort; }
  // scheme://127.0.0.1:port followed by APath.
  std::string Url(const std::string& APath) const;

  // Handlers call this to count the TCP connections requests arrived on.
  void NoteConnection(const httplib::Request& ARequest);
  std::size_t ConnectionCount() const;

  // Keeps AState (what the server's callbacks use) alive as long as the server.
  void KeepAlive(std::shared_ptr<void> AState) { FKeptAlive.push_back(std::move(AState)); }

 private:
  std::vector<std::shared_ptr<void>> FKeptAlive;
  std::unique_ptr<httplib::Server> FServer;
  std::string FScheme;
  int FPort = 0;
  std::thread FThread;
  mutable std::mutex FLock;
  std::set<int> FRemotePorts;
};

// A self-signed certificate (P-256 key, CN and IP address 127.0.0.1 unless
// ACommonName says otherwise) written as PEM files into AFolder.
struct TTestCertificate {
  std::string CertificateFile;
  std::string KeyFile;
};
TTestCertificate MakeSelfSignedCertificate(const std::string& AFolder, const std::string& AName,
                                           const std::string& ACommonName = "127.0.0.1");

// A TLS server with the given certificate; with AClientCAFile it asks every
// client for a certificate issued by that CA and refuses clients without one.
// AMaxTlsVersion (an OpenSSL version constant such as TLS1_2_VERSION) caps the
// versions it speaks; 0 leaves the library's range.
std::unique_ptr<THttpTestServer> MakeTlsServer(const TTestCertificate& ACertificate,
                                               const std::string& AClientCAFile = "",
                                               int AMaxTlsVersion = 0);

// A TLS server that presents ACertificates in turn: the first TLS handshake
// gets the first certificate, the second the second, and every later one the
// last (a server that changes its certificate between two connections).
std::unique_ptr<THttpTestServer> MakeTlsServerPresenting(
    const std::vector<TTestCertificate>& ACertificates);

// A forward proxy for plain HTTP. With a user name set it answers 407 with a
// Basic challenge until a request carries those credentials.
class TForwardProxy {
 public:
  explicit TForwardProxy(std::string AUserName = "", std::string APassword = "");
  int Port() const { return FServer.Port(); }
  // Requests that passed through the proxy (absolute URLs) and the
  // Proxy-Authorization value each carried.
  std::vector<std::string> Forwarded() const;
  std::vector<std::string> ProxyAuthorizations() const;

 private:
  void Handle(const httplib::Request& ARequest, httplib::Response& AResponse);

  std::string FUserName;
  std::string FPassword;
  mutable std::mutex FLock;
  std::vector<std::string> FForwarded;
  std::vector<std::string> FAuthorizations;
  THttpTestServer FServer;
};

// One request as the raw server read it.
struct TRawRequest {
  std::string Head;  // request line and headers, CRLF separated
  std::string Body;
  std::string Method;
  std::string Target;
  // Header lines in the order received (name: value), without the request line.
  std::vector<std::string> HeaderLines;
  // Value of the first header named AName (any case); empty when absent.
  std::string Header(const std::string& AName) const;
  bool HasHeader(const std::string& AName) const;
};

// A server that answers every request with the bytes its handler returns, on
// one connection at a time (kept alive while the client keeps it; an empty
// answer or one with "Connection: close" closes it). A handler
// may block by calling WaitForStop(), which returns when the server is
// destroyed (or after 10 s).
class TRawHttpServer {
 public:
  using THandler = std::function<std::string(const TRawRequest&)>;
  explicit TRawHttpServer(THandler AHandler);
  ~TRawHttpServer();
  TRawHttpServer(const TRawHttpServer&) = delete;
  TRawHttpServer& operator=(const TRawHttpServer&) = delete;

  int Port() const { return FPort; }
  std::string Url(const std::string& APath) const;
  std::vector<TRawRequest> Requests() const;
  void WaitForStop();

 private:
  void Run();
  void Serve(int ASocket);

  THandler FHandler;
  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  mutable std::mutex FLock;
  std::condition_variable FStopped;
  std::vector<TRawRequest> FRequests;
  std::thread FThread;
};

// A port of 127.0.0.1 on which nothing listens.
int ClosedPort();

// Removes the proxy variables from the environment for the life of the
// object, so that a proxy configured on the machine cannot divert loopback
// requests; restores them afterwards.
class TNoProxyEnvironment {
 public:
  TNoProxyEnvironment();

 private:
  std::vector<std::unique_ptr<TScopedEnv>> FVariables;
};

}  // namespace qvr::test
