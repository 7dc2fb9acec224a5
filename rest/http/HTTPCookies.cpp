// The cookies of TRestHTTP (declared in RestHTTP.h). curl's cookie engine
// keeps them and reads the answers' Set-Cookie headers itself; AddServerCookie
// turns a Set-Cookie value into a line of curl's cookie-file format, and
// CookieList reads the engine's lines back.
#include <cstdlib>
#include <ctime>

#include "rest/http/RestHTTP.h"
#include "rest/http/detail/CurlHandles.h"
#include "rest/http/detail/CurlTransfer.h"
#include "rest/http/detail/CurlUrl.h"
#include "platform/StrUtils.h"

namespace qvr::rest {

using detail::ParseUrl;
using detail::UrlPart;

namespace {

// The path a cookie without Path attribute belongs to: the request path up to
// its last "/".
std::string DefaultCookiePath(const std::string& APath) {
  const auto slash = APath.rfind('/');
  if (APath.empty() || APath.front() != '/' || slash == 0 || slash == std::string::npos) return "/";
  return APath.substr(0, slash);
}

}  // namespace

void TRestHTTP::AddServerCookie(const std::string& ACookie, const std::string& AURL) {
  if (!FAllowCookies || HasLineBreak(ACookie)) return;
  detail::TCurlUrl url = ParseUrl(AURL);
  if (!url) return;
  const std::string host = UrlPart(url.Get(), CURLUPART_HOST);
  if (host.empty()) return;

  std::string_view rest = ACookie;
  const std::string_view pair = Trim(rest.substr(0, rest.find(';')));
  const auto eq = pair.find('=');
  if (eq == std::string_view::npos || Trim(pair.substr(0, eq)).empty()) return;
  const std::string name(Trim(pair.substr(0, eq)));
  const std::string value(Trim(pair.substr(eq + 1)));
  std::string domain = host;
  bool tailmatch = false;
  std::string path = DefaultCookiePath(UrlPart(url.Get(), CURLUPART_PATH));
  bool secure = false;
  long long expires = 0;
  std::size_t pos = rest.find(';');
  while (pos != std::string_view::npos) {
    const std::size_t next = rest.find(';', pos + 1);
    const std::string_view attr =
        Trim(rest.substr(pos + 1, next == std::string_view::npos ? next : next - pos - 1));
    pos = next;
    const auto aeq = attr.find('=');
    const std::string key = LowerCase(Trim(attr.substr(0, aeq)));
    const std::string val(aeq == std::string_view::npos ? "" : Trim(attr.substr(aeq + 1)));
    if (key == "domain" && !val.empty()) {
      domain = val.front() == '.' ? val.substr(1) : val;
      tailmatch = true;
    } else if (key == "path" && !val.empty() && val.front() == '/') {
      path = val;
    } else if (key == "secure") {
      secure = true;
    } else if (key == "max-age") {
      char* end = nullptr;
      const long long seconds = std::strtoll(val.c_str(), &end, 10);
      if (end != val.c_str())
        expires = seconds <= 0 ? 1 : static_cast<long long>(std::time(nullptr)) + seconds;
    } else if (key == "expires" && expires == 0) {
      const time_t when = curl_getdate(val.c_str(), nullptr);
      if (when > 0) expires = when;
    }
  }
  const auto field = [](std::string_view AText) {
    return AText.find('\t') == std::string_view::npos;
  };
  if (!field(name) || !field(value) || !field(domain) || !field(path)) return;
  FHTTPClient->AddCookieLine(domain + "\t" + (tailmatch ? "TRUE" : "FALSE") + "\t" + path + "\t" +
                             (secure ? "TRUE" : "FALSE") + "\t" + std::to_string(expires) + "\t" +
                             name + "\t" + value);
}

std::vector<std::string> TRestHTTP::CookieList() const { return FHTTPClient->CookieList(); }

}  // namespace qvr::rest
