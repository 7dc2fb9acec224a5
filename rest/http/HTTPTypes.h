// The vocabulary of the HTTP object that the REST connection shares with it:
// the TLS protocol set, the authentication targets, what a certificate event
// learns of a certificate and of the request, and the signatures of the
// certificate and authentication events (the connection keeps them and hands
// them to its HTTP object).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
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
