// Reading one request within the front's bounds; see RequestParser.h. The
// syntax is Boost.Beast's parser's (strict RFC 9112 field and chunk
// grammar); the bounds and the checks of the head are ours, made in the
// parser's callbacks, so that nothing beyond a bound is ever kept.
#include "server/RequestParser.h"

#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>

#include "platform/StrUtils.h"
#include "platform/SysUtils.h"

namespace qvr::server {

namespace http = boost::beast::http;
using boost::beast::error_code;
using boost::beast::string_view;

namespace {

std::string_view View(string_view AText) { return {AText.data(), AText.size()}; }

// The connection's coding of the body is refused unless it is none at all.
bool IsIdentity(std::string_view AValue) { return SameText(Trim(AValue), "identity"); }

}  // namespace

class TRequestParser::TImpl : public http::basic_parser<true> {
 public:
  TImpl(TRequestParser& AOwner, const TFrontLimits& ALimits) : FOwner(AOwner), FLimits(ALimits) {
    // The head may hold the request line and the fields at their limits;
    // each is checked on its own below, this is only the backstop.
    header_limit(static_cast<std::uint32_t>(ALimits.MaxTargetBytes + ALimits.MaxHeaderBytes +
                                            2 * ALimits.MaxHeaderCount + 1024));
    body_limit(ALimits.MaxBodyBytes);
    eager(false);
  }

  // Refuses the request: parsing stops with an error the owner reads back.
  void Refuse(int AStatus, std::string AMessage, error_code& AError) {
    if (!FOwner.FRefusal) FOwner.FRefusal = TRefusal{AStatus, std::move(AMessage)};
    AError = http::error::bad_value;
  }

 private:
  void on_request_impl(http::verb, string_view AMethod, string_view ATarget, int AVersion,
                       error_code& AError) override {
    if (ATarget.size() > FLimits.MaxTargetBytes) {
      return Refuse(
          414,
          "The request URI is longer than " + std::to_string(FLimits.MaxTargetBytes) + " bytes",
          AError);
    }
    THttpRequest& request = FOwner.FRequest;
    request.Method = std::string(View(AMethod));
    request.Target = std::string(View(ATarget));
    request.Version = static_cast<unsigned>(AVersion);
  }

  void on_response_impl(int, string_view, int, error_code& AError) override {
    AError = http::error::bad_method;
  }

  void on_field_impl(http::field, string_view AName, string_view AValue,
                     error_code& AError) override {
    THttpRequest& request = FOwner.FRequest;
    FHeaderBytes += AName.size() + AValue.size();
    if (request.Fields.size() >= FLimits.MaxHeaderCount || FHeaderBytes > FLimits.MaxHeaderBytes) {
      return Refuse(431,
                    "The request headers exceed " + std::to_string(FLimits.MaxHeaderCount) +
                        " lines or " + std::to_string(FLimits.MaxHeaderBytes) + " bytes",
                    AError);
    }
    request.Fields.emplace_back(std::string(View(AName)), std::string(View(AValue)));
  }

  void on_header_impl(error_code& AError) override {
    THttpRequest& request = FOwner.FRequest;
    request.KeepAlive = keep_alive();
    if (request.Version == 11 && request.FieldCount("Host") != 1) {
      return Refuse(400, "An HTTP/1.1 request names its Host exactly once", AError);
    }
    if (request.FieldCount("Transfer-Encoding") > 0 && !chunked()) {
      return Refuse(400, "The only transfer coding taken is chunked, last", AError);
    }
    for (const auto& [name, value] : request.Fields) {
      if (SameText(name, "Content-Encoding") && !IsIdentity(value)) {
        return Refuse(415, "Request bodies are taken without a content coding", AError);
      }
    }
    if (const auto length = content_length(); length && *length > FLimits.MaxBodyBytes) {
      return Refuse(
          413, "The request body is larger than " + std::to_string(FLimits.MaxBodyBytes) + " bytes",
          AError);
    }
  }

  void on_body_init_impl(const boost::optional<std::uint64_t>& ALength, error_code&) override {
    if (ALength) FOwner.FRequest.Body.reserve(static_cast<std::size_t>(*ALength));
  }

  std::size_t on_body_impl(string_view AData, error_code& AError) override {
    return Append(AData, AError);
  }

  void on_chunk_header_impl(std::uint64_t, string_view, error_code&) override {}

  std::size_t on_chunk_body_impl(std::uint64_t, string_view AData, error_code& AError) override {
    return Append(AData, AError);
  }

  void on_finish_impl(error_code&) override {}

  std::size_t Append(string_view AData, error_code& AError) {
    std::string& body = FOwner.FRequest.Body;
    if (body.size() + AData.size() > FLimits.MaxBodyBytes) {
      Refuse(413,
             "The request body is larger than " + std::to_string(FLimits.MaxBodyBytes) + " bytes",
             AError);
      return 0;
    }
    body.append(AData.data(), AData.size());
    return AData.size();
  }

  TRequestParser& FOwner;
  const TFrontLimits& FLimits;
  std::size_t FHeaderBytes = 0;
};

TRequestParser::TRequestParser(const TFrontLimits& ALimits)
    : FImpl(std::make_unique<TImpl>(*this, ALimits)) {}

TRequestParser::~TRequestParser() = default;

std::size_t TRequestParser::Put(std::string_view AData) {
  if (FRefusal || FImpl->is_done()) return 0;
  std::size_t used = 0;
  while (used < AData.size() && !FImpl->is_done()) {
    error_code error;
    const std::size_t n =
        FImpl->put(boost::asio::const_buffer(AData.data() + used, AData.size() - used), error);
    used += n;
    if (error == http::error::need_more) break;
    if (error) {
      if (FRefusal) break;
      if (error == http::error::header_limit) {
        FRefusal = TRefusal{431, "The request headers are too large"};
      } else if (error == http::error::body_limit) {
        FRefusal = TRefusal{413, "The request body is too large"};
      } else {
        FRefusal =
            TRefusal{400, "The request is not well-formed HTTP/1.1 (" + error.message() + ")"};
      }
      break;
    }
    // The head is inspected before any of the body is taken.
    if (FImpl->is_header_done() && !FImpl->eager()) break;
    if (n == 0) break;
  }
  return used;
}

void TRequestParser::PutEof() {
  if (FRefusal || FImpl->is_done()) return;
  error_code error;
  FImpl->put_eof(error);
  if (error || !FImpl->is_done()) FRefusal = TRefusal{400, "The request was cut short"};
}

bool TRequestParser::HeadDone() const { return FImpl->is_header_done(); }
bool TRequestParser::Done() const { return FImpl->is_done(); }
void TRequestParser::ContinueBody() { FImpl->eager(true); }

std::optional<std::uint64_t> TRequestParser::ContentLength() const {
  const auto length = FImpl->content_length();
  if (!length) return std::nullopt;
  return *length;
}

}  // namespace qvr::server
