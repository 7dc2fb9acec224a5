// UTF-8 / UTF-16 conversions, with invalid input becoming U+FFFD.
#include "platform/Utf.h"

#include <gtest/gtest.h>

namespace qvr {
namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

struct TSanitizeCase {
  std::string In;
  std::string Out;
};

// Replacement follows the "maximal subpart" practice of the Unicode standard.
const TSanitizeCase kSanitizeCases[] = {
    {"plain", "plain"},
    {"\xC3\xA9", "\xC3\xA9"},
    {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    {"\xFF", kFFFD},
    {"a\xC3", "a" + kFFFD},
    {"\xE2\x82", kFFFD},
    {"\xE2\x82x", kFFFD + "x"},
    {"\xED\xA0\x80", kFFFD + kFFFD + kFFFD},  // an encoded surrogate
    {"\xC0\xAF", kFFFD + kFFFD},              // an overlong form
    {"\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},
    {kFFFD, kFFFD},
};

TEST(UtfTest, SanitizeReplacesInvalidSequences) {
  for (const auto& c : kSanitizeCases) {
    EXPECT_EQ(SanitizeUtf8(c.In), c.Out);
    EXPECT_EQ(IsValidUtf8(c.In), c.In == c.Out);
  }
}

TEST(UtfTest, Utf16RoundTripAndCounting) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  const std::u16string units = Utf8ToUtf16(text);
  EXPECT_EQ(units, (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToUtf8(units), text);
  EXPECT_EQ(Utf16Length(text), 5u);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, u'x'}), kFFFD + "x");
  EXPECT_EQ(Utf8Prefix(text, 4), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Latin1ToUtf8("\xE9"), "\xC3\xA9");
}

}  // namespace
}  // namespace qvr
