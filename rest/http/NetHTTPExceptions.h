// The failures of the HTTP layer. Network, request, response and certificate
// failures derive from ENetException; EHTTPProtocolException carries a final
// answer of 300 or more from the HTTP object to the request object, which turns
// it into the REST layer's protocol exception.
#pragma once

#include <cstdint>
#include <string>

#include "platform/SysUtils.h"

namespace qvr::rest {

// Base of every network failure of the HTTP layer.
class ENetException : public Exception {
 public:
  using Exception::Exception;
};

// The request could not be formed or was refused before it left, or the
// redirect limit was passed.
class ENetHTTPRequestException : public ENetException {
 public:
  using ENetException::ENetException;
};

// The connection could not be made, the request could not be sent or no answer
// arrived.
class ENetHTTPClientException : public ENetException {
 public:
  using ENetException::ENetException;
};

// The answer's body could not be read.
class ENetHTTPResponseException : public ENetException {
 public:
  using ENetException::ENetException;
};

// A server or client certificate problem.
class ENetHTTPCertificateException : public ENetException {
 public:
  using ENetException::ENetException;
};

// A final answer with status 300 or more. ErrorCode is the status, ErrorMessage
// the decoded body, the message the status line ("HTTP/1.1 404 Not Found").
class EHTTPProtocolException : public Exception {
 public:
  EHTTPProtocolException(std::int32_t AErrorCode, std::string AErrorMessage, std::string AMessage)
      : Exception(std::move(AMessage)),
        FErrorCode(AErrorCode),
        FErrorMessage(std::move(AErrorMessage)) {}
  std::int32_t ErrorCode() const noexcept { return FErrorCode; }
  const std::string& ErrorMessage() const noexcept { return FErrorMessage; }

 private:
  std::int32_t FErrorCode;
  std::string FErrorMessage;
};

}  // namespace qvr::rest
