// The storage formats of datasets and their registration components. A format
// is available to TMemTable's SaveToStream and LoadFromStream while at least
// one registration component of it exists (the client data module holds one of
// each, BIN and JSON). Dataset lists always use the binary format, which they
// reach directly, so they work with or without a registration.
#pragma once

#include <string>

#include "platform/Classes.h"

namespace qvr::data {

enum class TStorageFormat { sfBinary, sfJSON };

// "Binary" or "JSON".
std::string StorageFormatName(TStorageFormat AFormat);
// True while a registration component of AFormat exists. Thread-safe.
bool IsStorageFormatRegistered(TStorageFormat AFormat);

// A registration of one storage format, counted: the format stays available
// until the last registration of it is destroyed.
class TStorageLink : public TObject {
 public:
  ~TStorageLink() override;
  TStorageLink(const TStorageLink&) = delete;
  TStorageLink& operator=(const TStorageLink&) = delete;
  TStorageFormat Format() const { return FFormat; }

 protected:
  explicit TStorageLink(TStorageFormat AFormat);

 private:
  TStorageFormat FFormat;
};

// Makes the binary storage format (sfBinary) available.
class TBinStorageLink : public TStorageLink {
 public:
  TBinStorageLink() : TStorageLink(TStorageFormat::sfBinary) {}
};

// Makes the JSON storage format (sfJSON) available.
class TJSONStorageLink : public TStorageLink {
 public:
  TJSONStorageLink() : TStorageLink(TStorageFormat::sfJSON) {}
};

}  // namespace qvr::data
