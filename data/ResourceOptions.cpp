// The options that decide how a dataset is stored; see ResourceOptions.h.
#include "data/ResourceOptions.h"

#include "platform/SysUtils.h"

namespace qvr::data {

void TResourceOptions::SetStoreVersion(int AValue) {
  if (AValue < -1 || AValue > 0xFFFF) throw EArgumentOutOfRangeException();
  FStoreVersion = AValue;
}

}  // namespace qvr::data
