// The bounds the HTTP front holds every client to, each enforced while it
// reads and before it keeps anything (docs/server.md lists them with their
// answers). The defaults suit a site's server; the server's options
// (--max-body, --request-timeout, --idle-timeout, --max-memory,
// --max-connections, --max-connections-per-client) change theirs.
#pragma once

#include <chrono>
#include <cstddef>

namespace qvr::server {

struct TFrontLimits {
  // The request target (414 beyond).
  std::size_t MaxTargetBytes = 4096;
  // The header fields, in bytes of name and value and in number (431 beyond).
  std::size_t MaxHeaderBytes = 16384;
  std::size_t MaxHeaderCount = 64;
  // The request body (413 beyond).
  std::size_t MaxBodyBytes = std::size_t{32} << 20;
  // The whole head must arrive within this time from its first byte (408,
  // then the connection ends).
  std::chrono::milliseconds HeadTimeout{10000};
  // The body must arrive at MinBodyRate bytes a second at least, after a
  // grace of BodyGrace (408, then the connection ends).
  std::chrono::milliseconds BodyGrace{10000};
  std::size_t MinBodyRate = 16384;
  // A kept-alive connection without a new request for this long is closed.
  std::chrono::milliseconds IdleTimeout{15000};
  // A client that does not take its answer within this time is dropped.
  std::chrono::milliseconds WriteTimeout{30000};
  // A TLS handshake must end within this time.
  std::chrono::milliseconds HandshakeTimeout{10000};
  // Open connections in all and from one client address; beyond either, a
  // new connection is answered 503 and closed.
  std::size_t MaxConnections = 2048;
  std::size_t MaxConnectionsPerClient = 64;
  // Bytes in flight in the whole server (bodies being read, JSON being
  // parsed, datasets inflating); a request beyond it waits briefly, then
  // gets 503.
  std::size_t MaxMemoryBytes = std::size_t{768} << 20;
};

}  // namespace qvr::server
