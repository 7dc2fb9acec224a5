// The integer rule that config.ini values and the port edit share, and the
// message formatting of the general exceptions.
#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <optional>

namespace qvr {
namespace {

struct TIntCase {
  const char* Text;
  std::optional<std::int32_t> Expected;  // nullopt: does not convert
};

// Expected values follow the rule: blanks, sign, "$"/"x"/"X"/"0x"/"0X" for
// hexadecimal using all 32 bits, decimal within the signed range, nothing after.
const TIntCase kIntCases[] = {
    {"8080", 8080},
    {"   8080", 8080},
    {"\t8080", 8080},
    {"+8080", 8080},
    {"-1", -1},
    {"0", 0},
    {"$1F90", 8080},
    {"$1f90", 8080},
    {"x1F90", 8080},
    {"X1F90", 8080},
    {"0x1F90", 8080},
    {"0X1f90", 8080},
    {"  -$10", -16},
    {"$FFFFFFFF", -1},
    {"$80000000", INT32_MIN},
    {"2147483647", INT32_MAX},
    {"-2147483648", INT32_MIN},
    {"2147483648", std::nullopt},
    {"-2147483649", std::nullopt},
    {"$100000000", std::nullopt},
    {"99999999999999999999", std::nullopt},
    {"9090a", std::nullopt},
    {"9090 ", std::nullopt},
    {"90 90", std::nullopt},
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"-", std::nullopt},
    {"$", std::nullopt},
    {"0x", std::nullopt},
    {"1F90", std::nullopt},
    {"$G1", std::nullopt},
    {"--1", std::nullopt},
    {"1.0", std::nullopt},
};

TEST(TryStrToIntTest, FollowsTheIntegerRule) {
  for (const auto& c : kIntCases) {
    std::int32_t value = 12345;
    const bool ok = TryStrToInt(c.Text, value);
    EXPECT_EQ(ok, c.Expected.has_value()) << '"' << c.Text << '"';
    if (c.Expected) {
      EXPECT_EQ(value, *c.Expected) << '"' << c.Text << '"';
    } else {
      EXPECT_EQ(value, 12345) << "a failed conversion leaves the value: \"" << c.Text << '"';
    }
  }
}

TEST(FormatTest, FillsPlaceholdersInOrder) {
  EXPECT_EQ(Format("Unable to write to %s", "/a/config.ini"), "Unable to write to /a/config.ini");
  EXPECT_EQ(Format("Maximum number of redirections (%d) exceeded", 5),
            "Maximum number of redirections (5) exceeded");
  EXPECT_EQ(Format("%s=%d%%", std::string("x"), -3), "x=-3%");
  EXPECT_EQ(Format("%s and %s", "one"), "one and ");
}

TEST(EOSErrorTest, MessageCarriesCodeAndSystemText) {
  const EOSError e(2);
  EXPECT_EQ(e.ErrorCode(), 2);
  EXPECT_EQ(e.Message(), "System Error.  Code: 2.\nNo such file or directory");
}

}  // namespace
}  // namespace qvr
