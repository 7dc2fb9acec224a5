// Implementation of the general exceptions and Format; see SysUtils.h.
#include "platform/SysUtils.h"

#include <cstring>

namespace qvr {

namespace {

std::string SystemErrorText(int ACode) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not be in buf.
  const char* text = strerror_r(ACode, buf, sizeof buf);
  return text;
}

}  // namespace

EOSError::EOSError(int AErrorCode)
    : Exception(Format("System Error.  Code: %d.", AErrorCode) + "\n" + SystemErrorText(AErrorCode)),
      FErrorCode(AErrorCode) {}

namespace detail {

std::string FormatImpl(std::string_view AFormat, const std::string* AArgs, std::size_t ACount) {
  std::string out;
  out.reserve(AFormat.size() + 32);
  std::size_t next = 0;
  for (std::size_t i = 0; i < AFormat.size(); ++i) {
    const char c = AFormat[i];
    if (c == '%' && i + 1 < AFormat.size()) {
      const char k = AFormat[i + 1];
      if (k == 's' || k == 'd') {
        if (next < ACount) out += AArgs[next];
        ++next;
        ++i;
        continue;
      }
      if (k == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

}  // namespace detail

}  // namespace qvr
