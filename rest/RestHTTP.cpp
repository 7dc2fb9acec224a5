// The HTTP object; see RestHTTP.h. (Interface stubs: the attempt loop follows.)
#include "rest/RestHTTP.h"

#include <algorithm>

#include "platform/Utf.h"

namespace qvr::rest {

namespace {

bool SameText(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string THTTPRequestHeaders::Header(std::string_view AName) const {
  for (const auto& [name, value] : FCustomHeaders) {
    if (SameText(name, AName)) return value;
  }
  return {};
}

void THTTPRequestHeaders::SetHeader(std::string_view AName, const std::string& AValue) {
  auto it = std::find_if(FCustomHeaders.begin(), FCustomHeaders.end(),
                         [&](const auto& AEntry) { return SameText(AEntry.first, AName); });
  if (AValue.empty()) {
    if (it != FCustomHeaders.end()) FCustomHeaders.erase(it);
  } else if (it != FCustomHeaders.end()) {
    it->second = AValue;
  } else {
    FCustomHeaders.emplace_back(std::string(AName), AValue);
  }
}

void THTTPRequestHeaders::SetBasicAuthentication(const std::string& AUserName,
                                                 const std::string& APassword) {
  if (AUserName.empty()) return;
  FUserName = AUserName;
  FPassword = APassword;
}

std::string TProxyConnectionInfo::ProxyName() const {
  if (FHost.empty()) return {};
  std::string name;
  if (!FScheme.empty()) name = FScheme + "://";
  name += FHost;
  if (FPort != 0) {
    name += ':';
    name += std::to_string(FPort);
  }
  return name;
}

bool TProxyConnectionInfo::IsDirect() const { return SameText(ProxyName(), "http://direct:80"); }

void TCredentialsStorage::Add(const TCredential& ACredential) {
  FCredentials.push_back(ACredential);
}

std::vector<TCredential> TCredentialsStorage::Find(TAuthTargetType, std::string_view,
                                                   std::string_view) const {
  return {};
}

THTTPResponse::THTTPResponse(std::int32_t AStatusCode, std::string AStatusText,
                             THTTPProtocolVersion AVersion, THeaderList AHeaders, std::string AURL)
    : FStatusCode(AStatusCode),
      FStatusText(std::move(AStatusText)),
      FVersion(AVersion),
      FHeaders(std::move(AHeaders)),
      FURL(std::move(AURL)) {}

std::string THTTPResponse::HeaderValue(std::string_view AName) const {
  for (auto it = FHeaders.rbegin(); it != FHeaders.rend(); ++it) {
    if (SameText(it->first, AName)) return it->second;
  }
  return {};
}

bool THTTPResponse::ContainsHeader(std::string_view AName) const {
  return std::any_of(FHeaders.begin(), FHeaders.end(),
                     [&](const auto& AEntry) { return SameText(AEntry.first, AName); });
}

std::string THTTPResponse::ContentCharSet() const { return {}; }

std::string DecodeCharSet(std::string_view ABytes, std::string_view) {
  return SanitizeUtf8(ABytes);
}

class TRestHTTP::TImpl {};

TRestHTTP::TRestHTTP() : FHTTPClient(std::make_unique<TImpl>()) {}
TRestHTTP::~TRestHTTP() = default;

void TRestHTTP::Get(const std::string& AURL, TStream& AResponseContent) {
  Execute("GET", AURL, nullptr, &AResponseContent);
}
void TRestHTTP::Put(const std::string& AURL, TStream& ASource, TStream& AResponseContent) {
  Execute("PUT", AURL, &ASource, &AResponseContent);
}
void TRestHTTP::Post(const std::string& AURL, TStream& ASource, TStream& AResponseContent) {
  Execute("POST", AURL, &ASource, &AResponseContent);
}
void TRestHTTP::Delete(const std::string& AURL, TStream& AResponseStream) {
  Execute("DELETE", AURL, nullptr, &AResponseStream);
}
void TRestHTTP::Patch(const std::string& AURL, TStream& ASource, TStream& AResponseContent) {
  Execute("PATCH", AURL, &ASource, &AResponseContent);
}
void TRestHTTP::Head(const std::string& AURL) { Execute("HEAD", AURL, nullptr, nullptr); }
void TRestHTTP::Merge(const std::string& AURL, TStream& ARequestStream) {
  Execute("MERGE", AURL, &ARequestStream, nullptr);
}

void TRestHTTP::Execute(const std::string&, const std::string&, TStream*, TStream*) {
  throw ENetHTTPClientException("Execution of request terminated with unknown error");
}

TProxyConnectionInfo& TRestHTTP::ProxyConnectionInfo() {
  if (!FProxyConnectionInfo) FProxyConnectionInfo = std::make_unique<TProxyConnectionInfo>();
  return *FProxyConnectionInfo;
}

const THTTPResponse& TRestHTTP::Response() const {
  if (!FHTTPResponse) throw Exception("HTTP Response Object not found or available yet");
  return *FHTTPResponse;
}

std::string TRestHTTP::UserAgent() const { return "Kolvane URI Client/1.0"; }

void TRestHTTP::Disconnect() { FRequestHeaders.SetHeader("Connection", "close"); }

void TRestHTTP::SetAuthentication(const std::string& AUserName, const std::string& APassword) {
  FCredentials.Add({TAuthTargetType::Server, "", "", AUserName, APassword});
}

void TRestHTTP::AddServerCookie(const std::string&, const std::string&) {}
std::vector<std::string> TRestHTTP::CookieList() const { return {}; }

std::vector<std::string> TRestHTTP::RegisteredProtocolList() { return {"http", "https"}; }

TRestHTTPClass TRestHTTP::ProtocolClass(const std::string& AName) {
  if (SameText(AName, "https")) {
    return []() -> std::unique_ptr<TRestHTTP> { return std::make_unique<TRestHTTPS>(); };
  }
  return []() { return std::make_unique<TRestHTTP>(); };
}

std::string TRestHTTP::ClientCertificateFolder() { return {}; }

}  // namespace qvr::rest
