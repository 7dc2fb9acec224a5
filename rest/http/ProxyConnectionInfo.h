// The proxy information of an HTTP object (TProxyConnectionInfo): which proxy
// its requests go through, and with which credentials.
#pragma once

#include <cstdint>
#include <string>

namespace qvr::rest {

// Where requests of an HTTP object go through: a proxy named by scheme, host and
// port, with optional Basic credentials.
class TProxyConnectionInfo {
 public:
  std::string Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  std::int32_t Port() const { return FPort; }
  void SetPort(std::int32_t AValue) { FPort = AValue; }
  std::string Scheme() const { return FScheme; }
  void SetScheme(const std::string& AValue) { FScheme = AValue; }
  std::string UserName() const { return FUserName; }
  void SetUserName(const std::string& AValue) { FUserName = AValue; }
  std::string Password() const { return FPassword; }
  void SetPassword(const std::string& AValue) { FPassword = AValue; }

  // The proxy's name: scheme and "://" (when the scheme is not empty), the
  // host, and ":" with the port (when it is not 0). Empty when Host is empty.
  std::string ProxyName() const;
  // True when ProxyName() is "http://direct:80" (any case), which means no proxy.
  bool IsDirect() const;

 private:
  std::string FHost;
  std::int32_t FPort = 0;
  std::string FScheme;
  std::string FUserName;
  std::string FPassword;
};

}  // namespace qvr::rest
