// The HTTP object; see RestHTTP.h and docs/http-client.md. This unit holds
// its construction, verbs (each one exchange of the attempt loop), properties
// and protocol classes; the attempt loop, the cookies and the transfer over
// curl have units of their own.
#include "rest/http/RestHTTP.h"

#include <memory>

#include "platform/ComputerInfo.h"
#include "platform/SysUtils.h"
#include "rest/http/detail/AttemptLoop.h"
#include "rest/http/detail/CurlTransfer.h"

namespace qvr::rest {

TRestHTTP::TRestHTTP() : FHTTPClient(std::make_unique<TImpl>(*this)) {}
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

void TRestHTTP::Execute(const std::string& AMethod, const std::string& AURL, TStream* ASource,
                        TStream* AResponse) {
  // Here, where the transfer's class is complete, it is handed to the loop as
  // the face the loop drives.
  TAttemptLoop(*this, *FHTTPClient, AMethod, AURL, ASource, AResponse).Run();
}

TProxyConnectionInfo& TRestHTTP::ProxyConnectionInfo() {
  if (!FProxyConnectionInfo) FProxyConnectionInfo = std::make_unique<TProxyConnectionInfo>();
  return *FProxyConnectionInfo;
}

const THTTPResponse& TRestHTTP::Response() const {
  if (!FHTTPResponse) throw Exception("HTTP Response Object not found or available yet");
  return *FHTTPResponse;
}

std::string TRestHTTP::UserAgent() const { return detail::kUserAgent; }

void TRestHTTP::Disconnect() { FRequestHeaders.SetHeader("Connection", "close"); }

void TRestHTTP::SetAuthentication(const std::string& AUserName, const std::string& APassword) {
  FCredentials.Add({TAuthTargetType::Server, "", "", AUserName, APassword});
}

std::vector<std::string> TRestHTTP::RegisteredProtocolList() { return {"http", "https"}; }

TRestHTTPClass TRestHTTP::ProtocolClass(const std::string& AName) {
  if (SameText(AName, "https")) {
    return []() -> std::unique_ptr<TRestHTTP> { return std::make_unique<TRestHTTPS>(); };
  }
  return []() { return std::make_unique<TRestHTTP>(); };
}

std::string TRestHTTP::ClientCertificateFolder() {
  const std::string base = TComputerInfo().SpecialFolder(TComputerInfo::sfAppData);
  if (base.empty()) return {};
  return base + "/QVR/certificados";
}

}  // namespace qvr::rest
