// One client connection of the HTTP front, plain or TLS: it reads requests
// one after the other (pipelined ones in their order) with every bound of
// TFrontLimits in force while it reads, hands each admitted request to the
// worker threads and writes the answer back. No thread waits on a client:
// reading, writing and every deadline are asynchronous on the front's I/O
// threads.
#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include "server/Admission.h"
#include "server/BoundedThreadPool.h"
#include "server/ConnectionTable.h"
#include "server/FrontLimits.h"
#include "server/MemoryBudget.h"
#include "server/Routes.h"

namespace qvr::server {

// What every connection of the front shares.
struct TFrontServices {
  const TFrontLimits& Limits;
  TAdmission& Admission;
  TRoutes& Routes;
  TMemoryBudget& Memory;
  TBoundedThreadPool& Workers;
  TConnectionTable& Connections;
  // Set when the server stops: connections end after their current answer.
  std::atomic<bool>& Stopping;
};

// Serves ASocket until the client or the server ends the connection; with
// ATls, after a TLS handshake. A connection beyond the table's caps is
// answered 503 (plain) or closed (TLS) at once.
void ServeConnection(TFrontServices& AServices, boost::asio::ip::tcp::socket ASocket,
                     boost::asio::ssl::context* ATls);

}  // namespace qvr::server
