// One attempt of an exchange as the attempt loop sees it: what the attempt
// sends, what came back, how it ended, in the HTTP layer's own terms, and the
// transfer that runs it. It
// names no curl type, so that the loop is written without curl: the transfer
// over curl (detail/CurlTransfer) runs the attempt and tells its outcome,
// detail/CurlErrors raises the exception of one that failed. Used only by the
// HTTP object's .cpp files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Streams.h"
#include "rest/http/HTTPResponse.h"
#include "rest/http/HTTPTypes.h"

namespace qvr::rest::detail {

// Which proxy an attempt goes through: the environment's, none, or the named one.
enum class TProxyMode { Environment, None, Named };

// Everything one attempt sends.
// A scheme and, for the schemes that take one, the pair it answers with.
struct TAuthAnswer {
  THTTPAuthScheme Scheme = THTTPAuthScheme::None;
  std::string UserName;
  std::string Password;
  bool operator==(const TAuthAnswer&) const = default;
};

struct TAttemptSetup {
  std::string Method;
  std::string URL;
  TStream* Body = nullptr;
  std::vector<std::string> HeaderLines;
  TProxyMode Proxy = TProxyMode::Environment;
  // The named proxy as curl reaches it (always plain HTTP).
  std::string ProxyName;
  // How the attempt answers the server's challenge beyond its header lines:
  // Negotiate (the user's Kerberos tickets, no pair), NTLM or Digest with
  // the pair; None for everything else, Basic included, which the header
  // lines carry themselves.
  TAuthAnswer ServerAuth;
  // The proxy's scheme (Basic included) and pair; None: no credentials.
  TAuthAnswer ProxyAuth;
  // Negotiate may hand the user's ticket-granting ticket to a principal
  // trusted for delegation (and to no other).
  bool Delegate = false;
  // The attempt opens a new connection instead of reusing a kept-alive one:
  // it starts a scheme that authenticates the connection itself.
  bool FreshConnection = false;
  bool VerifyPeer = true;
  // With verification off: the one server public key accepted (a pin as
  // detail::PublicKeyPin makes it); empty when verification is on.
  std::string PinnedPublicKey;
  THTTPSecureProtocols Protocols;
  std::int32_t ConnectTimeout = 60000;
  std::int32_t ReadTimeout = 60000;
  std::int32_t SendTimeout = 60000;
  // TRestHTTP::MaxHeldBodySize.
  std::int64_t MaxHeldBodySize = 0;
};

// How an attempt ended.
enum class TTransferOutcome {
  // An answer arrived: the server's, or a proxy's refusal to open a tunnel,
  // which reads like one.
  Answered,
  // Verification refused the server's certificate (only while VerifyPeer is
  // on); the result carries the certificate when the handshake showed one.
  ServerCertificateRefused,
  // The server showed another key than PinnedPublicKey; nothing was sent.
  PinnedKeyMismatch,
  // The URL could not be requested: malformed, or a scheme other than http
  // and https.
  UrlRefused,
  // The server asked for a client certificate and then refused the
  // connection: no candidate to offer, none chosen, or the chosen one refused.
  ClientCertificateListEmpty,
  ClientCertificateUnspecified,
  ClientCertificateRejected,
  // A body held in memory grew beyond MaxHeldBodySize; the transfer stopped.
  HeldBodyTooLarge,
  // Any other failure: not delivered, no usable answer, body not taken in.
  Failed,
};

// What one attempt brought back.
struct TAttemptResult {
  TTransferOutcome Outcome = TTransferOutcome::Answered;
  std::int32_t Status = 0;
  std::string StatusText;
  THTTPProtocolVersion Version = THTTPProtocolVersion::UNKNOWN_HTTP;
  THTTPResponse::THeaderList Headers;
  // The body of an answer of 300 or more (it may not be the final one).
  std::string ErrorBody;
  bool HaveServerCertificate = false;
  TX509Certificate ServerCertificate;
  // The pin of ServerCertificate's public key (detail::PublicKeyPin).
  std::string ServerPublicKeyPin;

  // What the transfer saw, from which detail::TransferOutcome tells the
  // outcome and RaiseTransferFailure the exception; the loop reads none of it.
  // curl's result code (failure messages show its number), its detailed text
  // (may be empty), and whether the request had gone out.
  int ResultCode = 0;
  std::string ErrorText;
  bool Receiving = false;
  // The proxy's answer to CONNECT, 0 without a tunnel.
  long ConnectCode = 0;
  bool BodyTooLarge = false;
  bool ClientCertificateAsked = false;
  std::size_t ClientCandidates = 0;
  bool ClientCertificateSent = false;
};

// The transfer as the attempt loop drives it; the HTTP object's transfer over
// curl (TRestHTTP::TImpl) is the one implementation.
class ITransfer {
 public:
  // Runs one attempt; the body of an answer below 300 goes into ASink (none
  // when null). Failures of the transfer come back in the result; only
  // refused options and exceptions of the caller's streams or events raise.
  virtual TAttemptResult Perform(const TAttemptSetup& ASetup, TStream* ASink) = 0;
  // The schemes besides Basic that the transfer can answer a challenge with.
  virtual THTTPAuthSchemes Schemes() const = 0;

 protected:
  // Never deleted through this face: the HTTP object owns its transfer.
  ~ITransfer() = default;
};

// Raises the exception of an attempt whose outcome is a failure (neither
// Answered nor ServerCertificateRefused): ENetHTTPCertificateException for
// the certificate outcomes, ENetHTTPClientException "Response body exceeds
// %d bytes" for a held body too large, and for the others the class and
// message docs/http-client.md lists, which curl's result code decides.
// Defined with the rest of the mapping of curl's codes in CurlErrors.cpp.
[[noreturn]] void RaiseTransferFailure(const TAttemptResult& AResult, const TAttemptSetup& ASetup);

// Raises ENetHTTPRequestException "Error adding header: (%d) %s" for a header
// name or value that the request cannot carry (CurlErrors.cpp).
[[noreturn]] void RaiseHeaderRefused();

}  // namespace qvr::rest::detail
