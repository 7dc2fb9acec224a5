// The one error type of the server's request handling: a refusal with the
// HTTP status to answer and the text that goes into the answer's "error"
// member. Everything the server refuses on purpose raises it; any other
// exception that reaches the front is an internal error (500).
#pragma once

#include <string>

#include "platform/SysUtils.h"

namespace qvr::server {

class EHttpError : public Exception {
 public:
  EHttpError(int AStatus, std::string AMessage)
      : Exception(std::move(AMessage)), FStatus(AStatus) {}
  int Status() const noexcept { return FStatus; }

 private:
  int FStatus;
};

// 400 with AMessage: a request the server cannot read (bad JSON, wrong
// parameters).
inline EHttpError BadRequest(std::string AMessage) { return EHttpError(400, std::move(AMessage)); }

}  // namespace qvr::server
