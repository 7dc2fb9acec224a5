// One exchange with the attendance server: TRestRequest forms and sends a
// request through the connection's HTTP object, and either returns a
// TRestRequestResponse (status 200 to 202) or raises TRestProtocolException.
// Calling order: open, Accept, setRequestHeader, setRequestPragma, send.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Streams.h"
#include "rest/RestExceptions.h"
#include "rest/http/RestHTTP.h"
#include "rest/wire/SessionPragma.h"

namespace qvr::rest {

// The answer of a successful exchange. It owns the body stream until
// TakeStream hands it over.
class TRestRequestResponse {
 public:
  // Takes AStream (a null one counts as an empty body) and rewinds it.
  TRestRequestResponse(std::unique_ptr<TStream> AStream, std::string AResponseCharSet,
                       std::string ASessionID, bool ASessionExpired);
  TRestRequestResponse(const TRestRequestResponse&) = delete;
  TRestRequestResponse& operator=(const TRestRequestResponse&) = delete;

  // The whole body decoded with ResponseCharSet, or ISO-8859-1 when it is
  // empty; decoded on the first call and remembered. The stream position is
  // kept. Raises EEncodingError "Invalid encoding name" for an unknown charset
  // (every call, nothing is remembered), and TRestException when the stream
  // was handed over by TakeStream before the text was read.
  const std::string& StringValue();
  // The body stream; the response stays its owner. Raises TRestException when
  // TakeStream has handed it over.
  TStream& GetStream();
  // Hands the body stream to the caller; the response no longer has it. A
  // second call returns nullptr.
  std::unique_ptr<TStream> TakeStream();

  // The session id of the answer's Pragma header; empty when none came.
  const std::string& SessionID() const { return FSessionID; }
  // The charset the body is decoded with (empty: ISO-8859-1).
  const std::string& ResponseCharSet() const { return FResponseCharSet; }
  // Always false for a returned response: a 403 answer ends as an exception.
  bool SessionExpired() const { return FSessionExpired; }

 private:
  // Gives the stream back its bytes when StringValue took them.
  void RestoreStream();

  std::string FStringValue;
  std::unique_ptr<TStream> FStreamValue;
  bool FHaveString = false;
  // StringValue took the stream's bytes (which decode to themselves) as the
  // text; the stream is made again from it, at FStreamPosition, when asked for.
  bool FStreamInText = false;
  std::int64_t FStreamPosition = 0;
  // GetStream handed out a reference, so the stream must stay as it is.
  bool FStreamLent = false;
  std::string FSessionID;
  bool FSessionExpired;
  std::string FResponseCharSet;
};

// A one-shot request bound to an HTTP object it does not own.
class TRestRequest {
 public:
  explicit TRestRequest(TRestHTTP& AHTTP) : FHTTP(&AHTTP) {}
  TRestRequest(const TRestRequest&) = delete;
  TRestRequest& operator=(const TRestRequest&) = delete;

  // Starts a new header dictionary and keeps the request type (ASCII letters
  // upper-cased), the URL and the credentials.
  void open(const std::string& ARequestType, const std::string& AUrl, const std::string& AUserName,
            const std::string& APassword);
  // The Accept value the exchange sends.
  const std::string& Accept() const { return FAccept; }
  void SetAccept(const std::string& AValue) { FAccept = AValue; }
  // Adds a header, or replaces the value of the one of that name (compared
  // without regard to case).
  void setRequestHeader(const std::string& AName, const std::string& AValue);
  // The Pragma value; empty sends no Pragma, also none left from an earlier
  // exchange on the same HTTP object.
  void setRequestPragma(const std::string& AValue) { FRequestPragma = AValue; }

  // Performs the exchange. "GET" or an empty type sends GET; "PUT", "POST" and
  // "DELETE" send their verb, PUT and POST with AParamToSend as a UTF-8 body
  // (no byte-order mark), GET and DELETE without a body.
  // Returns the response (the caller owns it) for status 200 to 202.
  // Raises TRestException "Unexpected request type: %s." for any other type,
  // before anything is sent; TRestProtocolException for any other status (the
  // message is the status line with the body's "error" or "SessionExpired"
  // text appended after ":" and CR LF, empty for 203 to 299); and the HTTP
  // layer's exceptions unchanged. On failure the body stream stays with the
  // request.
  std::unique_ptr<TRestRequestResponse> send(const std::string& AParamToSend);

  // The status of the last answer (0 before one arrived).
  std::int32_t Status() const { return FStatus; }
  // True when a 403 answer's body was a JSON object with a "SessionExpired" member.
  bool SessionExpired() const { return FResponseSessionExpired; }

 private:
  std::vector<std::pair<std::string, std::string>> FHeaders;
  std::unique_ptr<TStream> FResponseStream;
  std::string FResponseCharSet;
  std::string FResponseSessionID;
  bool FResponseSessionExpired = false;
  std::int32_t FStatus = 0;
  std::string FRequestType;
  std::string FUrl;
  std::string FPassword;
  std::string FUserName;
  TRestHTTP* FHTTP;
  std::string FRequestPragma;
  std::string FAccept;
};

}  // namespace qvr::rest
