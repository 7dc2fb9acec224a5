// Reading one HTTP/1.1 request within the front's bounds. The parser is fed
// raw bytes (by the connection, or by a test or the fuzzer) and keeps nothing
// beyond what the bounds allow: a request target over its limit is refused
// with 414, header fields beyond their number or bytes with 431, a body over
// its limit with 413 as soon as its length is announced or, for a chunked
// body, counted; a body in any content coding but identity with 415. What
// RFC 9112 calls malformed (a field line without a colon or with a blank
// before it, a Content-Length that is no number or two that differ, both
// Content-Length and Transfer-Encoding, a transfer coding that does not end
// in chunked, a missing or repeated Host) is 400. A refused request always
// ends its connection, since the rest of its bytes cannot be trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/FrontLimits.h"
#include "server/HttpMessage.h"

namespace qvr::server {

// Why a request was refused before it was handled.
struct TRefusal {
  int Status = 400;
  std::string Message;
};

class TRequestParser {
 public:
  explicit TRequestParser(const TFrontLimits& ALimits);
  ~TRequestParser();
  TRequestParser(const TRequestParser&) = delete;
  TRequestParser& operator=(const TRequestParser&) = delete;

  // Feeds AData; returns how many bytes were used (the rest belongs to what
  // follows, e.g. a pipelined request, or waits for more). Parsing stops
  // after the head (HeadDone) so that the caller may decide about the body,
  // and after the whole request (Done). Once Refused, nothing more is taken.
  std::size_t Put(std::string_view AData);
  // The connection ended; completes nothing, but turns a request cut short
  // into a refusal.
  void PutEof();

  bool HeadDone() const;
  bool Done() const;
  // Lets Put go on into the body after the head was inspected.
  void ContinueBody();

  const std::optional<TRefusal>& Refusal() const { return FRefusal; }
  // The body's announced length (none for a chunked body).
  std::optional<std::uint64_t> ContentLength() const;

  // The request read so far (all of it once Done).
  THttpRequest& Request() { return FRequest; }
  // Hands the request over; the parser is spent.
  THttpRequest TakeRequest() { return std::move(FRequest); }

  // Bytes of body received so far (for the minimum rate).
  std::size_t BodyBytes() const { return FRequest.Body.size(); }

 private:
  class TImpl;
  std::unique_ptr<TImpl> FImpl;
  THttpRequest FRequest;
  std::optional<TRefusal> FRefusal;
  friend class TImpl;
};

}  // namespace qvr::server
