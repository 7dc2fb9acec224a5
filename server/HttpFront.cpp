// The HTTP front; see HttpFront.h. It owns the parts of the server and wires
// them together: the listening socket and its I/O threads (Boost.Asio), the
// worker threads, the connection table, the memory budget, admission and
// routing. A request goes: connection (bounds, Host and Origin) ->
// admission (credentials, session) -> routes (remote call or cache area) ->
// connection (answer, log).
#include "server/HttpFront.h"

#include <openssl/ssl.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <optional>
#include <thread>
#include <vector>

#include "server/Admission.h"
#include "server/BoundedThreadPool.h"
#include "server/CacheArea.h"
#include "server/Connection.h"
#include "server/ConnectionTable.h"
#include "server/DataSetLists.h"
#include "server/MemoryBudget.h"
#include "server/Routes.h"
#include "server/ServerMethods.h"
#include "server/Sessions.h"

namespace qvr::server {

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
using tcp = net::ip::tcp;
using boost::system::error_code;

namespace {

// The TLS context of --tls-cert and --tls-key: TLS 1.2 and later only.
std::unique_ptr<ssl::context> MakeTlsContext(const TServerOptions& AOptions) {
  auto context = std::make_unique<ssl::context>(ssl::context::tls_server);
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                       ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 |
                       ssl::context::single_dh_use);
  SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION);
  error_code error;
  context->use_certificate_chain_file(AOptions.TlsCertFile, error);
  if (error) {
    throw Exception("Cannot use the certificate " + AOptions.TlsCertFile + ": " + error.message());
  }
  context->use_private_key_file(AOptions.TlsKeyFile, ssl::context::pem, error);
  if (error) {
    throw Exception("Cannot use the private key " + AOptions.TlsKeyFile + ": " + error.message());
  }
  if (SSL_CTX_check_private_key(context->native_handle()) != 1) {
    throw Exception("The private key " + AOptions.TlsKeyFile + " does not belong to " +
                    AOptions.TlsCertFile);
  }
  return context;
}

}  // namespace

class TAttendanceServer::TImpl {
 public:
  TImpl(const TServerOptions& AOptions, TAttendanceStore& AStore)
      : FOptions(AOptions),
        FStore(AStore),
        FLists(AStore),
        FMemory(AOptions.Limits.MaxMemoryBytes),
        FMethods(AStore, FLists, AOptions.MaxInflatedUploadBytes, FMemory),
        // The store says where sessions and cached items live: in this
        // process, or in the database several instances share.
        FCache(AStore.MakeCacheArea(AOptions.CacheCommandsPerSession, AOptions.CacheBytes)),
        FSessions(AStore.MakeSessionStore(
            std::chrono::milliseconds(AOptions.SessionTimeoutMs), AOptions.MaxSessions,
            [this](const std::vector<std::string>& AIds) { FCache->DropSessions(AIds); })),
        FWorkers(static_cast<std::size_t>(AOptions.Threads),
                 static_cast<std::size_t>(AOptions.Threads) * 16),
        FConnections(AOptions.Limits.MaxConnections, AOptions.Limits.MaxConnectionsPerClient),
        FRoutes(FMethods, *FCache, FMemory, FStore, *FSessions),
        FAcceptor(FIo),
        FRetry(FIo) {
    if (!AOptions.TlsCertFile.empty()) FTls = MakeTlsContext(AOptions);
  }

  int Bind() {
    error_code error;
    const auto address = net::ip::make_address(FOptions.ListenHost, error);
    if (error) throw Exception("Cannot listen on " + FOptions.ListenHost + ": not an IP address");
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(FOptions.ListenPort));
    FAcceptor.open(endpoint.protocol(), error);
    if (!error) FAcceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) FAcceptor.bind(endpoint, error);
    if (!error) FAcceptor.listen(net::socket_base::max_listen_connections, error);
    if (error) {
      throw Exception("Cannot listen on " + FOptions.ListenHost + ":" +
                      std::to_string(FOptions.ListenPort) + " (" + error.message() +
                      "; is another program using the port, or the address not this machine's?)");
    }
    const int port = FAcceptor.local_endpoint().port();
    TAdmissionRules rules{FOptions.ListenHost, port, FTls != nullptr, FOptions.AllowedHosts,
                          FOptions.Anonymous, FOptions.KerberosKeytab, FOptions.KerberosPrincipal};
    FAdmission.emplace(std::move(rules), FStore, *FSessions);
    FServices.emplace(TFrontServices{FOptions.Limits, *FAdmission, FRoutes, FMemory, FWorkers,
                                     FConnections, FStopping});
    return port;
  }

  void Run() {
    if (!FServices) throw Exception("The server was not bound to an address");
    if (!FStopping) Accept();
    const unsigned threads = std::max(1, FOptions.IoThreads);
    std::vector<std::thread> io;
    for (unsigned i = 1; i < threads; ++i) io.emplace_back([this] { FIo.run(); });
    FIo.run();
    for (auto& thread : io) thread.join();
    // Every connection has ended; the jobs still queued only post answers to
    // connections that are gone.
    FWorkers.Shutdown();
  }

  void Stop() {
    FStopping = true;
    net::post(FIo, [this] {
      error_code ignored;
      FAcceptor.close(ignored);
      FRetry.cancel();
      FConnections.StopAll();
    });
  }

 private:
  void Accept() {
    FAcceptor.async_accept(net::make_strand(FIo), [this](error_code AError, tcp::socket ASocket) {
      if (FStopping || !FAcceptor.is_open()) return;
      if (AError) {
        // Out of descriptors, say: try again shortly rather than spin.
        FRetry.expires_after(std::chrono::milliseconds(50));
        FRetry.async_wait([this](error_code AWait) {
          if (!AWait && !FStopping) Accept();
        });
        return;
      }
      ServeConnection(*FServices, std::move(ASocket), FTls.get());
      Accept();
    });
  }

  const TServerOptions FOptions;
  TAttendanceStore& FStore;
  TListAnswerCache FLists;
  TMemoryBudget FMemory;
  TQVRServerMethods FMethods;
  std::unique_ptr<TCacheArea> FCache;
  std::unique_ptr<TSessionStore> FSessions;
  TBoundedThreadPool FWorkers;
  TConnectionTable FConnections;
  TRoutes FRoutes;
  std::optional<TAdmission> FAdmission;
  std::atomic<bool> FStopping{false};
  std::optional<TFrontServices> FServices;
  std::unique_ptr<ssl::context> FTls;
  net::io_context FIo;
  tcp::acceptor FAcceptor;
  net::steady_timer FRetry;
};

TAttendanceServer::TAttendanceServer(const TServerOptions& AOptions, TAttendanceStore& AStore)
    : FImpl(std::make_unique<TImpl>(AOptions, AStore)) {}

TAttendanceServer::~TAttendanceServer() = default;

int TAttendanceServer::Bind() { return FImpl->Bind(); }
void TAttendanceServer::Run() { FImpl->Run(); }
void TAttendanceServer::Stop() { FImpl->Stop(); }

}  // namespace qvr::server
