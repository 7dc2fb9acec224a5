// The HTTP object; see RestHTTP.h and docs/http-client.md. This unit holds
// its construction, verbs (each one exchange of the attempt loop), properties,
// the connection's settings applied and reported, and the protocol classes;
// the attempt loop, the cookies and the transfer over curl have units of
// their own.
#include "rest/http/RestHTTP.h"

#include <memory>
#include <type_traits>

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

// One row per member of THTTPSettings with how it is read from and written to
// the object. Reporting, applying and the one-setting forms all go through
// these rows, so a setting cannot be known to one of them and missed by another.
struct TRestHTTP::TSettingPlaces {
  template <typename T>
  struct TRow {
    T THTTPSettings::*Member;
    T (*Read)(const TRestHTTP&);
    void (*Write)(TRestHTTP&, const T&);
  };

  // The proxy information is created on first use; reporting must not create
  // it, so an object without one reports a blank one.
  static const TProxyConnectionInfo& Proxy(const TRestHTTP& AHTTP) {
    static const TProxyConnectionInfo kBlank;
    return AHTTP.FProxyConnectionInfo ? *AHTTP.FProxyConnectionInfo : kBlank;
  }

  template <typename TVisit>
  static void ForEach(TVisit&& AVisit) {
    using S = THTTPSettings;
    using H = TRestHTTP;
    AVisit(TRow<std::string>{
        &S::Connection, [](const H& A) { return A.RequestHeaders().Header("Connection"); },
        [](H& A, const std::string& V) { A.RequestHeaders().SetHeader("Connection", V); }});
    AVisit(
        TRow<std::string>{&S::ProxyHost, [](const H& A) { return Proxy(A).Host(); },
                          [](H& A, const std::string& V) { A.ProxyConnectionInfo().SetHost(V); }});
    AVisit(TRow<std::int32_t>{
        &S::ProxyPort, [](const H& A) { return Proxy(A).Port(); },
        [](H& A, const std::int32_t& V) { A.ProxyConnectionInfo().SetPort(V); }});
    AVisit(TRow<std::string>{
        &S::ProxyUsername, [](const H& A) { return Proxy(A).UserName(); },
        [](H& A, const std::string& V) { A.ProxyConnectionInfo().SetUserName(V); }});
    AVisit(TRow<std::string>{
        &S::ProxyPassword, [](const H& A) { return Proxy(A).Password(); },
        [](H& A, const std::string& V) { A.ProxyConnectionInfo().SetPassword(V); }});
    AVisit(TRow<THTTPSecureProtocols>{
        &S::SecureProtocols, [](const H& A) { return A.SecureProtocols(); },
        [](H& A, const THTTPSecureProtocols& V) { A.SetSecureProtocols(V); }});
    AVisit(TRow<std::int32_t>{&S::ConnectTimeout, [](const H& A) { return A.ConnectTimeout(); },
                              [](H& A, const std::int32_t& V) { A.SetConnectTimeout(V); }});
    AVisit(TRow<std::int32_t>{&S::ReadTimeout, [](const H& A) { return A.ReadTimeout(); },
                              [](H& A, const std::int32_t& V) { A.SetReadTimeout(V); }});
    AVisit(TRow<THTTPAuthSchemes>{
        &S::IntegratedAuthentication, [](const H& A) { return A.IntegratedAuthentication(); },
        [](H& A, const THTTPAuthSchemes& V) { A.SetIntegratedAuthentication(V); }});
    AVisit(TRow<THTTPDelegation>{
        &S::DelegateCredentials, [](const H& A) { return A.DelegateCredentials(); },
        [](H& A, const THTTPDelegation& V) { A.SetDelegateCredentials(V); }});
    AVisit(TRow<TValidateCertificateEvent>{
        &S::OnValidateCertificate, [](const H& A) { return A.OnValidateCertificate(); },
        [](H& A, const TValidateCertificateEvent& V) { A.SetOnValidateCertificate(V); }});
    AVisit(TRow<TValidatePeerCertificateEvent>{
        &S::OnValidatePeerCertificate, [](const H& A) { return A.OnValidatePeerCertificate(); },
        [](H& A, const TValidatePeerCertificateEvent& V) { A.SetOnValidatePeerCertificate(V); }});
    AVisit(TRow<TValidatePeerCertificateErrEvent>{
        &S::OnValidatePeerCertificateErr,
        [](const H& A) { return A.OnValidatePeerCertificateErr(); },
        [](H& A, const TValidatePeerCertificateErrEvent& V) {
          A.SetOnValidatePeerCertificateErr(V);
        }});
    AVisit(TRow<TAuthEvent>{&S::OnAuthentication, [](const H& A) { return A.OnAuthentication(); },
                            [](H& A, const TAuthEvent& V) { A.SetOnAuthentication(V); }});
    AVisit(TRow<TSelectClientCertificateEvent>{
        &S::OnSelectClientCertificate, [](const H& A) { return A.OnSelectClientCertificate(); },
        [](H& A, const TSelectClientCertificateEvent& V) { A.SetOnSelectClientCertificate(V); }});
  }
};

THTTPSettings TRestHTTP::HTTPSettings() const {
  THTTPSettings settings;
  TSettingPlaces::ForEach([&](const auto& ARow) { settings.*ARow.Member = ARow.Read(*this); });
  return settings;
}

void TRestHTTP::ApplyHTTPSettings(const THTTPSettings& AValue) {
  TSettingPlaces::ForEach([&](const auto& ARow) { ARow.Write(*this, AValue.*ARow.Member); });
}

template <typename T>
T TRestHTTP::HTTPSetting(T THTTPSettings::*AMember) const {
  T value{};
  TSettingPlaces::ForEach([&](const auto& ARow) {
    if constexpr (std::is_same_v<decltype(ARow.Member), T THTTPSettings::*>) {
      if (ARow.Member == AMember) value = ARow.Read(*this);
    }
  });
  return value;
}

template <typename T>
void TRestHTTP::ApplyHTTPSetting(T THTTPSettings::*AMember, const T& AValue) {
  TSettingPlaces::ForEach([&](const auto& ARow) {
    if constexpr (std::is_same_v<decltype(ARow.Member), T THTTPSettings::*>) {
      if (ARow.Member == AMember) ARow.Write(*this, AValue);
    }
  });
}

// The one-setting forms for each type a member of THTTPSettings has; one
// missing here shows as an undefined reference when a user is linked.
template std::string TRestHTTP::HTTPSetting(std::string THTTPSettings::*) const;
template std::int32_t TRestHTTP::HTTPSetting(std::int32_t THTTPSettings::*) const;
template THTTPSecureProtocols TRestHTTP::HTTPSetting(THTTPSecureProtocols THTTPSettings::*) const;
template THTTPAuthSchemes TRestHTTP::HTTPSetting(THTTPAuthSchemes THTTPSettings::*) const;
template THTTPDelegation TRestHTTP::HTTPSetting(THTTPDelegation THTTPSettings::*) const;
template TValidateCertificateEvent TRestHTTP::HTTPSetting(
    TValidateCertificateEvent THTTPSettings::*) const;
template TValidatePeerCertificateEvent TRestHTTP::HTTPSetting(
    TValidatePeerCertificateEvent THTTPSettings::*) const;
template TValidatePeerCertificateErrEvent TRestHTTP::HTTPSetting(
    TValidatePeerCertificateErrEvent THTTPSettings::*) const;
template TAuthEvent TRestHTTP::HTTPSetting(TAuthEvent THTTPSettings::*) const;
template TSelectClientCertificateEvent TRestHTTP::HTTPSetting(
    TSelectClientCertificateEvent THTTPSettings::*) const;
template void TRestHTTP::ApplyHTTPSetting(std::string THTTPSettings::*, const std::string&);
template void TRestHTTP::ApplyHTTPSetting(std::int32_t THTTPSettings::*, const std::int32_t&);
template void TRestHTTP::ApplyHTTPSetting(THTTPSecureProtocols THTTPSettings::*,
                                          const THTTPSecureProtocols&);
template void TRestHTTP::ApplyHTTPSetting(THTTPAuthSchemes THTTPSettings::*,
                                          const THTTPAuthSchemes&);
template void TRestHTTP::ApplyHTTPSetting(THTTPDelegation THTTPSettings::*, const THTTPDelegation&);
template void TRestHTTP::ApplyHTTPSetting(TValidateCertificateEvent THTTPSettings::*,
                                          const TValidateCertificateEvent&);
template void TRestHTTP::ApplyHTTPSetting(TValidatePeerCertificateEvent THTTPSettings::*,
                                          const TValidatePeerCertificateEvent&);
template void TRestHTTP::ApplyHTTPSetting(TValidatePeerCertificateErrEvent THTTPSettings::*,
                                          const TValidatePeerCertificateErrEvent&);
template void TRestHTTP::ApplyHTTPSetting(TAuthEvent THTTPSettings::*, const TAuthEvent&);
template void TRestHTTP::ApplyHTTPSetting(TSelectClientCertificateEvent THTTPSettings::*,
                                          const TSelectClientCertificateEvent&);

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
