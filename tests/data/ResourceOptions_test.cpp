// The storage options of a dataset: the range of the format version, and that
// a refused version leaves the one set before.
#include "data/ResourceOptions.h"

#include <gtest/gtest.h>

#include "platform/SysUtils.h"

namespace qvr::data {
namespace {

TEST(ResourceOptions, StoreVersionRange) {
  TResourceOptions options;
  EXPECT_EQ(-1, options.StoreVersion());
  options.SetStoreVersion(65535);
  for (const int refused : {65536, -2}) {
    try {
      options.SetStoreVersion(refused);
      ADD_FAILURE() << "no exception for " << refused;
    } catch (const EArgumentOutOfRangeException& e) {
      EXPECT_STREQ("Argument out of range", e.what());
    }
  }
  EXPECT_EQ(65535, options.StoreVersion());
  options.SetStoreVersion(-1);
  EXPECT_EQ(-1, options.StoreVersion());
}

}  // namespace
}  // namespace qvr::data
