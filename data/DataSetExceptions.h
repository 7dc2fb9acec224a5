// The failures of the dataset library: EDataSetError for every misuse of a
// dataset (wrong state, unknown field, a value that does not fit its column),
// and one kind per storage format for bytes that are not a stored dataset.
#pragma once

#include "platform/SysUtils.h"

namespace qvr::data {

// Every error of the dataset library: wrong state, unknown field, a value that
// does not fit its column.
class EDataSetError : public Exception {
  using Exception::Exception;
};

// The storage error: the bytes are not a dataset in the binary storage format
// (too short, another magic, or damaged). ErrorCode is 710.
class EStorageError : public EDataSetError {
 public:
  static constexpr int kInvalidBinaryFormat = 710;
  EStorageError() : EDataSetError("Invalid binary storage format") {}
  int ErrorCode() const noexcept { return kInvalidBinaryFormat; }
};

// The bytes are not a dataset in the JSON storage format.
class EJSONStorageError : public EDataSetError {
 public:
  EJSONStorageError() : EDataSetError("Invalid JSON storage format") {}
};

}  // namespace qvr::data
