// The failures of the dataset-list layers: zlib's errors while a blob is
// compressed or inflated (EZLibError and its two kinds, carrying zlib's own
// message), and misuse of a dataset list's ownership rules
// (EDataSetListError). Base64 decoding never fails.
#pragma once

#include "platform/SysUtils.h"

namespace qvr::rest {

class EZLibError : public Exception {
  using Exception::Exception;
};
class EZCompressionError : public EZLibError {
  using EZLibError::EZLibError;
};
class EZDecompressionError : public EZLibError {
  using EZLibError::EZLibError;
};

// Misuse of a dataset list's ownership rules (an owned dataset handed to a
// list that does not own its datasets, and the reverse).
class EDataSetListError : public Exception {
  using Exception::Exception;
};

}  // namespace qvr::rest
