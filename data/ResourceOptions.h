// The options that decide how a dataset is stored: for now the format version
// the binary storage writes into its header.
#pragma once

namespace qvr::data {

// Options that decide how a dataset is stored.
class TResourceOptions {
 public:
  // The format version the binary storage writes into its header; -1 (the
  // default) writes the library's own version, 16. Raises
  // EArgumentOutOfRangeException for a value outside -1..65535.
  int StoreVersion() const { return FStoreVersion; }
  void SetStoreVersion(int AValue);

 private:
  int FStoreVersion = -1;
};

}  // namespace qvr::data
