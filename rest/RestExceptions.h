// The exceptions of the REST layer: TRestException for failures of the
// connection itself (an unknown request type, an unusable server answer),
// TRestProtocolException for every answer of the server outside 200 to 202,
// and TValueError for a parameter value that cannot take the form a command
// needs (a JSON result that does not fit its slot, a type without a form).
#pragma once

#include <cstdint>
#include <string>

#include "platform/SysUtils.h"

namespace qvr::rest {

class TRestException : public Exception {
 public:
  using Exception::Exception;
};

// The server answered with a status outside 200 to 202. Status is the HTTP
// status; ResponseText is the decoded body (empty for 203 to 299).
class TRestProtocolException : public TRestException {
 public:
  TRestProtocolException(std::int32_t AStatus, std::string AMessage, std::string AResponseText)
      : TRestException(std::move(AMessage)),
        FStatus(AStatus),
        FResponseText(std::move(AResponseText)) {}
  std::int32_t Status() const noexcept { return FStatus; }
  const std::string& ResponseText() const noexcept { return FResponseText; }

 private:
  std::int32_t FStatus;
  std::string FResponseText;
};

// A parameter value cannot be converted: ErrorCode is 0 for every conversion
// the command layer makes.
class TValueError : public Exception {
 public:
  explicit TValueError(std::string AMessage, std::int32_t AErrorCode = 0)
      : Exception(std::move(AMessage)), FErrorCode(AErrorCode) {}
  std::int32_t ErrorCode() const noexcept { return FErrorCode; }

 private:
  std::int32_t FErrorCode;
};

}  // namespace qvr::rest
