// Loopback servers for the HTTP tests and benchmarks; see HttpTestServers.h.
#include "support/HttpTestServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace qvr::test {

namespace {

bool SameText(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(A[i])) !=
        std::tolower(static_cast<unsigned char>(B[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

THttpTestServer::THttpTestServer() : THttpTestServer(std::make_unique<httplib::Server>(), "http") {}

THttpTestServer::THttpTestServer(std::unique_ptr<httplib::Server> AServer, std::string AScheme)
    : FServer(std::move(AServer)), FScheme(std::move(AScheme)) {
  // Without no-delay every small keep-alive answer waits for Nagle (~40 ms).
  FServer->set_tcp_nodelay(true);
  FServer->set_keep_alive_max_count(100000);
  FServer->set_keep_alive_timeout(30);
}

THttpTestServer::~THttpTestServer() {
  FServer->stop();
  if (FThread.joinable()) FThread.join();
}

void THttpTestServer::Start() {
  FPort = FServer->bind_to_any_port("127.0.0.1");
  if (FPort <= 0) throw std::runtime_error("test server could not bind a port");
  FThread = std::thread([this] { FServer->listen_after_bind(); });
  for (int i = 0; i < 5000 && !FServer->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!FServer->is_running()) throw std::runtime_error("test server did not start");
}

std::string THttpTestServer::Url(const std::string& APath) const {
  return FScheme + "://127.0.0.1:" + std::to_string(FPort) + APath;
}

void THttpTestServer::NoteConnection(const httplib::Request& ARequest) {
  std::scoped_lock lock(FLock);
  FRemotePorts.insert(ARequest.remote_port);
}

std::size_t THttpTestServer::ConnectionCount() const {
  std::scoped_lock lock(FLock);
  return FRemotePorts.size();
}

// ---------------------------------------------------------------------------

TTestCertificate MakeSelfSignedCertificate(const std::string& AFolder, const std::string& AName,
                                           const std::string& ACommonName) {
  // Elliptic-curve keys: quick to make, so each test can have its own.
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  if (key == nullptr || cert == nullptr) throw std::runtime_error("OpenSSL could not make a key");
  ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(std::rand() % 100000 + 1));
  X509_set_version(cert, 2);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 30);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("QVR tests"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(ACommonName.c_str()), -1, -1,
                             0);
  X509_set_issuer_name(cert, name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  const std::string san = "IP:" + std::string("127.0.0.1");
  if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, san.c_str())) {
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
  X509_sign(cert, key, EVP_sha256());

  TTestCertificate files{AFolder + "/" + AName + ".crt", AFolder + "/" + AName + ".key"};
  FILE* out = std::fopen(files.CertificateFile.c_str(), "w");
  if (out != nullptr) {
    PEM_write_X509(out, cert);
    std::fclose(out);
  }
  out = std::fopen(files.KeyFile.c_str(), "w");
  if (out != nullptr) {
    PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(out);
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return files;
}

std::unique_ptr<THttpTestServer> MakeTlsServer(const TTestCertificate& ACertificate,
                                               const std::string& AClientCAFile,
                                               int AMaxTlsVersion) {
  auto server = std::make_unique<httplib::SSLServer>([&](SSL_CTX& ACtx) {
    if (SSL_CTX_use_certificate_chain_file(&ACtx, ACertificate.CertificateFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(&ACtx, ACertificate.KeyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
      return false;
    }
    if (AMaxTlsVersion != 0) SSL_CTX_set_max_proto_version(&ACtx, AMaxTlsVersion);
    if (!AClientCAFile.empty()) {
      // Names the accepted issuers to the client, as real servers do.
      SSL_CTX_load_verify_locations(&ACtx, AClientCAFile.c_str(), nullptr);
      SSL_CTX_set_client_CA_list(&ACtx, SSL_load_client_CA_file(AClientCAFile.c_str()));
      SSL_CTX_set_verify(&ACtx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    return true;
  });
  if (!server->is_valid()) throw std::runtime_error("TLS test server could not load its files");
  return std::make_unique<THttpTestServer>(std::move(server), "https");
}

namespace {

// The certificates a presenting server hands out, and how many handshakes
// it has served.
struct TPresentedCertificates {
  std::vector<X509*> Certificates;
  std::vector<EVP_PKEY*> Keys;
  std::atomic<std::size_t> Handshakes{0};
  ~TPresentedCertificates() {
    for (X509* c : Certificates) X509_free(c);
    for (EVP_PKEY* k : Keys) EVP_PKEY_free(k);
  }
};

int PresentNextCertificate(SSL* ASsl, void* AState) {
  auto* state = static_cast<TPresentedCertificates*>(AState);
  const std::size_t n = std::min(state->Handshakes++, state->Certificates.size() - 1);
  return SSL_use_certificate(ASsl, state->Certificates[n]) == 1 &&
                 SSL_use_PrivateKey(ASsl, state->Keys[n]) == 1
             ? 1
             : 0;
}

}  // namespace

std::unique_ptr<THttpTestServer> MakeTlsServerPresenting(
    const std::vector<TTestCertificate>& ACertificates) {
  auto state = std::make_shared<TPresentedCertificates>();
  for (const TTestCertificate& c : ACertificates) {
    FILE* in = std::fopen(c.CertificateFile.c_str(), "r");
    X509* cert = in != nullptr ? PEM_read_X509(in, nullptr, nullptr, nullptr) : nullptr;
    if (in != nullptr) std::fclose(in);
    in = std::fopen(c.KeyFile.c_str(), "r");
    EVP_PKEY* key = in != nullptr ? PEM_read_PrivateKey(in, nullptr, nullptr, nullptr) : nullptr;
    if (in != nullptr) std::fclose(in);
    if (cert == nullptr || key == nullptr) throw std::runtime_error("certificate files unreadable");
    state->Certificates.push_back(cert);
    state->Keys.push_back(key);
  }
  if (state->Certificates.empty()) throw std::runtime_error("no certificate to present");
  auto server = std::make_unique<httplib::SSLServer>([&](SSL_CTX& ACtx) {
    SSL_CTX_set_cert_cb(&ACtx, &PresentNextCertificate, state.get());
    return true;
  });
  if (!server->is_valid()) throw std::runtime_error("TLS test server could not be set up");
  auto result = std::make_unique<THttpTestServer>(std::move(server), "https");
  result->KeepAlive(state);
  return result;
}

// ---------------------------------------------------------------------------

TForwardProxy::TForwardProxy(std::string AUserName, std::string APassword)
    : FUserName(std::move(AUserName)), FPassword(std::move(APassword)) {
  auto handler = [this](const httplib::Request& ARequest, httplib::Response& AResponse) {
    Handle(ARequest, AResponse);
  };
  FServer.Server().Get(".*", handler);
  FServer.Server().Post(".*", handler);
  FServer.Server().Put(".*", handler);
  FServer.Server().Delete(".*", handler);
  FServer.Start();
}

std::vector<std::string> TForwardProxy::Forwarded() const {
  std::scoped_lock lock(FLock);
  return FForwarded;
}

std::vector<std::string> TForwardProxy::ProxyAuthorizations() const {
  std::scoped_lock lock(FLock);
  return FAuthorizations;
}

void TForwardProxy::Handle(const httplib::Request& ARequest, httplib::Response& AResponse) {
  const std::string authorization = ARequest.get_header_value("Proxy-Authorization");
  {
    std::scoped_lock lock(FLock);
    FAuthorizations.push_back(authorization);
  }
  if (!FUserName.empty()) {
    const std::string expected =
        httplib::make_basic_authentication_header(FUserName, FPassword, true).second;
    if (authorization != expected) {
      AResponse.status = 407;
      AResponse.set_header("Proxy-Authenticate", "Basic realm=\"test proxy\"");
      AResponse.set_content("proxy credentials needed", "text/plain");
      return;
    }
  }
  // The target is an absolute http URL: http://host:port/path?query.
  std::string target = ARequest.target;
  if (target.rfind("http://", 0) != 0) {
    AResponse.status = 400;
    return;
  }
  const std::string rest = target.substr(7);
  const auto slash = rest.find('/');
  const std::string hostPort = rest.substr(0, slash);
  const std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
  {
    std::scoped_lock lock(FLock);
    FForwarded.push_back(target);
  }
  httplib::Client client("http://" + hostPort);
  httplib::Headers headers;
  for (const auto& [name, value] : ARequest.headers) {
    if (SameText(name, "Proxy-Authorization") || SameText(name, "Host") ||
        SameText(name, "Content-Length") || SameText(name, "Proxy-Connection") ||
        SameText(name, "REMOTE_ADDR") || SameText(name, "REMOTE_PORT") ||
        SameText(name, "LOCAL_ADDR") || SameText(name, "LOCAL_PORT")) {
      continue;
    }
    headers.emplace(name, value);
  }
  httplib::Result result =
      ARequest.method == "GET"      ? client.Get(path, headers)
      : ARequest.method == "DELETE" ? client.Delete(path, headers)
      : ARequest.method == "PUT"
          ? client.Put(path, headers, ARequest.body, ARequest.get_header_value("Content-Type"))
          : client.Post(path, headers, ARequest.body, ARequest.get_header_value("Content-Type"));
  if (!result) {
    AResponse.status = 502;
    return;
  }
  AResponse.status = result->status;
  for (const auto& [name, value] : result->headers) {
    if (SameText(name, "Content-Length") || SameText(name, "Transfer-Encoding") ||
        SameText(name, "Connection") || SameText(name, "Keep-Alive")) {
      continue;
    }
    AResponse.headers.emplace(name, value);
  }
  AResponse.body = result->body;
}

// ---------------------------------------------------------------------------

std::string TRawRequest::Header(const std::string& AName) const {
  for (const std::string& line : HeaderLines) {
    const auto colon = line.find(':');
    if (colon != std::string::npos && SameText(line.substr(0, colon), AName)) {
      std::string value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      return value;
    }
  }
  return {};
}

bool TRawRequest::HasHeader(const std::string& AName) const {
  for (const std::string& line : HeaderLines) {
    const auto colon = line.find(':');
    if (colon != std::string::npos && SameText(line.substr(0, colon), AName)) return true;
  }
  return false;
}

TRawHttpServer::TRawHttpServer(THandler AHandler) : FHandler(std::move(AHandler)) {
  FListen = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof(addr);
  if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::listen(FListen, 16) != 0 ||
      ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (FListen >= 0) ::close(FListen);
    throw std::runtime_error("raw test server could not listen");
  }
  FPort = ntohs(addr.sin_port);
  FThread = std::thread([this] { Run(); });
}

TRawHttpServer::~TRawHttpServer() {
  {
    std::scoped_lock lock(FLock);
    FStop = true;
  }
  FStopped.notify_all();
  if (FThread.joinable()) FThread.join();
  ::close(FListen);
}

std::string TRawHttpServer::Url(const std::string& APath) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + APath;
}

std::vector<TRawRequest> TRawHttpServer::Requests() const {
  std::scoped_lock lock(FLock);
  return FRequests;
}

void TRawHttpServer::WaitForStop() {
  std::unique_lock lock(FLock);
  FStopped.wait_for(lock, std::chrono::seconds(10), [this] { return FStop.load(); });
}

void TRawHttpServer::Run() {
  while (!FStop) {
    pollfd p{FListen, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int client = ::accept(FListen, nullptr, nullptr);
    if (client < 0) continue;
    Serve(client);
    ::close(client);
  }
}

void TRawHttpServer::Serve(int ASocket) {
  std::string buffer;
  // Reads more bytes; false on close, error or stop.
  auto fill = [&]() {
    for (int waited = 0; !FStop && waited < 200; ++waited) {
      pollfd p{ASocket, POLLIN, 0};
      const int ready = ::poll(&p, 1, 50);
      if (ready < 0) return false;
      if (ready == 0) continue;
      char chunk[16384];
      const ssize_t n = ::recv(ASocket, chunk, sizeof(chunk), 0);
      if (n <= 0) return false;
      buffer.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    return false;
  };
  while (!FStop) {
    std::size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (!fill()) return;
    }
    TRawRequest request;
    request.Head = buffer.substr(0, end);
    buffer.erase(0, end + 4);
    std::size_t pos = 0;
    bool first = true;
    while (pos <= request.Head.size()) {
      const auto eol = request.Head.find("\r\n", pos);
      const std::string line =
          request.Head.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
      if (first) {
        const auto sp = line.find(' ');
        request.Method = line.substr(0, sp);
        const auto sp2 = line.find(' ', sp + 1);
        request.Target = line.substr(sp + 1, sp2 - sp - 1);
        first = false;
      } else {
        request.HeaderLines.push_back(line);
      }
      if (eol == std::string::npos) break;
      pos = eol + 2;
    }
    const std::string length = request.Header("Content-Length");
    const std::size_t size = length.empty() ? 0 : std::stoul(length);
    while (buffer.size() < size) {
      if (!fill()) return;
    }
    request.Body = buffer.substr(0, size);
    buffer.erase(0, size);
    {
      std::scoped_lock lock(FLock);
      FRequests.push_back(request);
    }
    const std::string answer = FHandler(request);
    std::size_t sent = 0;
    while (sent < answer.size()) {
      const ssize_t n = ::send(ASocket, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
    if (answer.empty() || answer.find("Connection: close") != std::string::npos) return;
  }
}

int ClosedPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  return ntohs(addr.sin_port);
}

TNoProxyEnvironment::TNoProxyEnvironment() {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
    FVariables.push_back(std::make_unique<TScopedEnv>(name, std::nullopt));
  }
}

}  // namespace qvr::test
