// The proxy information of an HTTP object; see ProxyConnectionInfo.h.
#include "rest/http/ProxyConnectionInfo.h"

#include "platform/SysUtils.h"

namespace qvr::rest {

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

}  // namespace qvr::rest
