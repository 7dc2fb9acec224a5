// The progress line of long transfers: while a request body is sent or an
// answer's body arrives, one line on standard error that is rewritten in
// place ("Receiving 5.2 MB of 15.3 MB, 8.4 MB/s") and ends, when the body is
// complete, as the line "Received 15.3 MB in 1.8 s, 8.4 MB/s". Only bodies
// over 1 MB are shown, and qvr shows them only when standard error is a
// terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "rest/http/RestHTTP.h"

namespace qvr::cli {

class TProgressLine {
 public:
  using TClock = std::chrono::steady_clock;
  // AWrite receives every piece of text for the terminal.
  explicit TProgressLine(std::function<void(const std::string&)> AWrite,
                         std::int64_t AThreshold = 1000000);
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  // What the HTTP object reports (TRestHTTP::SetOnProgress). A count lower
  // than the last one, or the other direction, starts a new transfer and
  // ends the line of the previous one.
  void Update(rest::TTransferDirection ADirection, std::int64_t ADone, std::int64_t ATotal);
  // Ends the line of the current transfer, if one is shown (when the call
  // is over: an answer without a length has no other end).
  void Finish();

  // "15.3 MB" (1 MB = 1,000,000 bytes), "850 kB" or "12 bytes".
  static std::string Size(std::int64_t ABytes);

 private:
  void Draw(bool AFinal);

  std::function<void(const std::string&)> FWrite;
  std::int64_t FThreshold;
  bool FActive = false;
  rest::TTransferDirection FDirection = rest::TTransferDirection::Receiving;
  std::int64_t FDone = 0;
  std::int64_t FTotal = -1;
  TClock::time_point FStart;
  TClock::time_point FLastDraw;
};

}  // namespace qvr::cli
