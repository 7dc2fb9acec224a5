// The vocabulary of the HTTP object that the REST connection shares with it:
// the TLS protocol set, the authentication targets and schemes, the
// delegation of the user's Kerberos credentials, what a certificate event
// learns of a certificate and of the request, and the signatures of the
// certificate and authentication events (the connection keeps them and hands
// them to its HTTP object).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"

namespace qvr::rest {

enum class THTTPSecureProtocol : std::uint8_t { SSL2, SSL3, TLS1, TLS11, TLS12, TLS13 };

// A set of THTTPSecureProtocol; empty means the platform's default versions.
class THTTPSecureProtocols {
 public:
  THTTPSecureProtocols() = default;
  THTTPSecureProtocols(std::initializer_list<THTTPSecureProtocol> AItems) {
    for (auto p : AItems) Include(p);
  }
  bool Contains(THTTPSecureProtocol AItem) const { return (FBits & Bit(AItem)) != 0; }
  void Include(THTTPSecureProtocol AItem) { FBits |= Bit(AItem); }
  void Exclude(THTTPSecureProtocol AItem) { FBits &= ~Bit(AItem); }
  bool Empty() const { return FBits == 0; }
  std::uint8_t Bits() const { return FBits; }
  bool operator==(const THTTPSecureProtocols&) const = default;

 private:
  static std::uint8_t Bit(THTTPSecureProtocol AItem) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(AItem));
  }
  std::uint8_t FBits = 0;
};

enum class TAuthTargetType { Proxy, Server };
enum class TAuthPersistenceType { Request, Client };

// The schemes a 401 or 407 may ask for, in the order the HTTP object prefers
// them when a challenge offers several; None is an attempt without
// credentials.
enum class THTTPAuthScheme : std::uint8_t { None, Negotiate, NTLM, Passport, Digest, Basic };

// The scheme's name as challenges write it ("Negotiate"); empty for None.
constexpr std::string_view AuthSchemeName(THTTPAuthScheme AScheme) {
  switch (AScheme) {
    case THTTPAuthScheme::Negotiate:
      return "Negotiate";
    case THTTPAuthScheme::NTLM:
      return "NTLM";
    case THTTPAuthScheme::Passport:
      return "Passport";
    case THTTPAuthScheme::Digest:
      return "Digest";
    case THTTPAuthScheme::Basic:
      return "Basic";
    case THTTPAuthScheme::None:
      break;
  }
  return {};
}

// A set of THTTPAuthScheme (None is never a member).
class THTTPAuthSchemes {
 public:
  constexpr THTTPAuthSchemes() = default;
  constexpr THTTPAuthSchemes(std::initializer_list<THTTPAuthScheme> AItems) {
    for (auto s : AItems) Include(s);
  }
  constexpr bool Contains(THTTPAuthScheme AItem) const { return (FBits & Bit(AItem)) != 0; }
  constexpr void Include(THTTPAuthScheme AItem) { FBits |= Bit(AItem); }
  constexpr void Exclude(THTTPAuthScheme AItem) { FBits &= static_cast<std::uint8_t>(~Bit(AItem)); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr THTTPAuthSchemes operator&(THTTPAuthSchemes AOther) const {
    THTTPAuthSchemes result;
    result.FBits = FBits & AOther.FBits;
    return result;
  }
  constexpr THTTPAuthSchemes operator|(THTTPAuthSchemes AOther) const {
    THTTPAuthSchemes result;
    result.FBits = FBits | AOther.FBits;
    return result;
  }
  constexpr bool operator==(const THTTPAuthSchemes&) const = default;
  // The names in the order of preference, separated by ", "; "none" when empty.
  std::string Text() const;

 private:
  static constexpr std::uint8_t Bit(THTTPAuthScheme AItem) {
    return AItem == THTTPAuthScheme::None
               ? std::uint8_t{0}
               : static_cast<std::uint8_t>(1u << static_cast<unsigned>(AItem));
  }
  std::uint8_t FBits = 0;
};

// The schemes besides Basic that the HTTP object answers challenges with by
// default (integrated authentication). Passport has no implementation on this
// platform: a challenge naming it is shown among the offered schemes, never
// answered.
inline constexpr THTTPAuthSchemes kIntegratedAuthSchemes{
    THTTPAuthScheme::Negotiate, THTTPAuthScheme::NTLM, THTTPAuthScheme::Digest};

// To whom Negotiate may hand the user's Kerberos ticket-granting ticket, so
// that the server (or proxy) can act as the user towards other services. Even
// then only a service principal that the realm marks as trusted for
// delegation (ok-as-delegate) receives it.
enum class THTTPDelegation : std::uint8_t { None, Server, Proxy, ServerAndProxy };

constexpr bool DelegatesTo(THTTPDelegation ADelegation, TAuthTargetType ATarget) {
  return ADelegation == THTTPDelegation::ServerAndProxy ||
         (ADelegation == THTTPDelegation::Server && ATarget == TAuthTargetType::Server) ||
         (ADelegation == THTTPDelegation::Proxy && ATarget == TAuthTargetType::Proxy);
}

// What a certificate event learns of a certificate. Texts are as OpenSSL
// prints them (one-line distinguished names, dates in UTC); Encoded is the
// certificate in PEM form.
struct TX509Certificate {
  std::string Subject;
  std::string Issuer;
  std::string SerialNumber;
  std::string NotBefore;
  std::string NotAfter;
  std::string CommonName;
  std::string Encoded;
  // For client-certificate candidates: the files the certificate and key came from.
  std::string CertificateFile;
  std::string KeyFile;
};

// The request a certificate event is about.
struct THTTPRequestInfo {
  std::string Method;
  std::string URL;
};

using TAuthEvent =
    std::function<void(TObject* Sender, TAuthTargetType AnAuthTarget, const std::string& ARealm,
                       const std::string& AURL, std::string& AUserName, std::string& APassword,
                       bool& AbortAuth, TAuthPersistenceType& Persistence)>;
using TValidateCertificateEvent =
    std::function<void(TObject* Sender, const THTTPRequestInfo& ARequest,
                       const TX509Certificate& Certificate, bool& Accepted)>;
using TValidatePeerCertificateEvent =
    std::function<void(TObject* Owner, const TX509Certificate& Certificate, int ADepth, bool& Ok)>;
using TValidatePeerCertificateErrEvent = std::function<void(
    TObject* Owner, const TX509Certificate& Certificate, int ADepth, int AError, bool& Ok)>;
using TSelectClientCertificateEvent =
    std::function<void(TObject* Sender, const THTTPRequestInfo& ARequest,
                       const std::vector<TX509Certificate>& ACertificateList, int& AnIndex)>;

}  // namespace qvr::rest
