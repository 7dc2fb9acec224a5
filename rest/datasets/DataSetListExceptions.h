// The failures of the dataset-list layers: zlib's errors while a blob is
// compressed or inflated (EZLibError and its two kinds, carrying zlib's own
// message), inflation beyond its bound (EZInflationBudgetError), and misuse
// of a dataset list's ownership rules (EDataSetListError). Base64 decoding
// never fails.
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
// Inflation stopped at its bound (TInflationBudget): the data may well be
// valid, but reading it would take more memory than the reader allows. A
// kind of EZDecompressionError, so that callers who do not care why a blob
// does not read need not know it; a server tells it apart to answer "too
// large" rather than "bad request".
class EZInflationBudgetError : public EZDecompressionError {
  using EZDecompressionError::EZDecompressionError;
};

// Misuse of a dataset list's ownership rules (an owned dataset handed to a
// list that does not own its datasets, and the reverse).
class EDataSetListError : public Exception {
  using Exception::Exception;
};

}  // namespace qvr::rest
