// The failure for a kind, class or converter the marshalling library cannot
// handle, raised alike by the interceptor's defaults, the marshaller and the
// unmarshaller.
#pragma once

#include <string_view>

#include "platform/SysUtils.h"
#include "rest/json/JSONExceptions.h"

namespace qvr::rest::detail {

[[noreturn]] inline void NotSupported(std::string_view AWhat) {
  throw EConversionError(Format("Internal: Type %s is not currently supported", AWhat));
}

}  // namespace qvr::rest::detail
