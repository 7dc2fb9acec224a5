// The failures of the JSON library. The value classes and the text parser
// raise none of their own (ParseJSON answers bad text with no value); the
// marshaller and unmarshaller raise EConversionError, and EConvertError
// (platform/SysUtils.h) for numbers they cannot read.
#pragma once

#include "platform/SysUtils.h"

namespace qvr::rest {

// Raised for every marshalling and unmarshalling failure except unreadable
// numbers (EConvertError).
class EConversionError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace qvr::rest
