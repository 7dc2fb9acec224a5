// The small text helpers: trimming with the default and a given blank set,
// ASCII case folding, hexadecimal digits and decimal codes (digits only,
// unlike the integer rule, which also reads hexadecimal and blanks).
#include "platform/StrUtils.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

TEST(StrUtils, TrimTakesTheGivenBlanksFromBothEnds) {
  EXPECT_EQ("a b", Trim(" \t\r\na b\r\n \t"));
  EXPECT_EQ("", Trim(" \t\r\n"));
  EXPECT_EQ("", Trim(""));
  EXPECT_EQ("\ra ", TrimLeft(" \ra ", " \t"));
  EXPECT_EQ(" x", TrimRight(" x \t\r", " \t\r"));
}

TEST(StrUtils, CaseFoldingLeavesBytesOutsideAsciiAlone) {
  EXPECT_EQ("abc\xC3\x91z", LowerCase("AbC\xC3\x91Z"));
  EXPECT_EQ("ABC\xC3\xB1Z", UpperCase("abc\xC3\xB1z"));
}

TEST(StrUtils, HexDigits) {
  EXPECT_EQ(0, HexDigit('0'));
  EXPECT_EQ(15, HexDigit('f'));
  EXPECT_EQ(10, HexDigit('A'));
  EXPECT_EQ(-1, HexDigit('g'));
  EXPECT_EQ(-1, HexDigit('%'));
}

TEST(StrUtils, DecimalCodes) {
  struct TCase {
    const char* Text;
    bool Ok;
    std::int32_t Value;
  };
  // The integer rule (TryStrToInt) accepts the blanks, "+", "$" and "0x"
  // forms; a code does not.
  const TCase kCases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"-7", true, -7},
      {"0042", true, 42},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},
      {"99999999999999999999", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"+5", false, 0},
      {" 5", false, 0},
      {"5 ", false, 0},
      {"$1F", false, 0},
      {"0x1F", false, 0},
      {"1e3", false, 0},
      {"--1", false, 0},
  };
  for (const auto& c : kCases) {
    std::int32_t value = 123;
    EXPECT_EQ(c.Ok, TryDecimalToInt(c.Text, value)) << c.Text;
    EXPECT_EQ(c.Ok ? c.Value : 123, value) << c.Text;
  }
}

}  // namespace
}  // namespace qvr
