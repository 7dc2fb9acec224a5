// The header set of an HTTP object (THTTPRequestHeaders): what every request
// of the object carries besides what the attempt itself adds.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvr::rest {

// The header set of an HTTP object: the standard entries, an ordered list of
// custom entries and the basic credentials. It lives as long as its HTTP object.
class THTTPRequestHeaders {
 public:
  using THeaderList = std::vector<std::pair<std::string, std::string>>;

  std::string Accept() const { return FAccept; }
  void SetAccept(const std::string& AValue) { FAccept = AValue; }
  std::string AcceptCharSet() const { return FAcceptCharSet; }
  void SetAcceptCharSet(const std::string& AValue) { FAcceptCharSet = AValue; }
  std::string UserAgent() const { return FUserAgent; }
  void SetUserAgent(const std::string& AValue) { FUserAgent = AValue; }
  std::string ContentType() const { return FContentType; }
  void SetContentType(const std::string& AValue) { FContentType = AValue; }
  std::string AcceptEncoding() const { return FAcceptEncoding; }
  void SetAcceptEncoding(const std::string& AValue) { FAcceptEncoding = AValue; }

  // The value of the custom entry AName (compared without regard to case), or
  // an empty text when there is none.
  std::string Header(std::string_view AName) const;
  // Replaces the value of the entry AName in place; an empty value removes the
  // entry; a new name is appended at the end of the list.
  void SetHeader(std::string_view AName, const std::string& AValue);
  // The custom entries in list order.
  const THeaderList& CustomHeaders() const { return FCustomHeaders; }

  // Sets both basic credentials, but only when AUserName is not empty; an
  // empty user name leaves the earlier credentials in place.
  void SetBasicAuthentication(const std::string& AUserName, const std::string& APassword);
  std::string UserName() const { return FUserName; }
  std::string Password() const { return FPassword; }

 private:
  std::string FAccept;
  std::string FAcceptCharSet;
  std::string FUserAgent;
  std::string FContentType;
  std::string FAcceptEncoding;
  THeaderList FCustomHeaders;
  std::string FUserName;
  std::string FPassword;
};

}  // namespace qvr::rest
