// UTF-8 / UTF-16 conversions, with invalid input becoming U+FFFD.
#include "platform/Utf.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

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

// Validity as DecodeUtf8 reads it: no replacement unless the text holds one.
bool DecodesCleanly(std::string_view AText) {
  std::size_t pos = 0;
  while (pos < AText.size()) {
    const std::size_t start = pos;
    if (DecodeUtf8(AText, pos) == 0xFFFD && AText.substr(start, pos - start) != kFFFD) {
      return false;
    }
  }
  return true;
}

// The validator's ASCII skipping must not change a single answer: every
// two-byte sequence and every sequence led by a multi-byte lead with any
// second byte (third and fourth from a set of edge values), at each offset
// of an eight-byte word and with ASCII after it.
TEST(UtfTest, ValidatorAgreesWithTheDecoderOnEverySequenceKind) {
  const unsigned char edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                 0xA0, 0xBF, 0xC0, 0xC2, 0xE0, 0xF4, 0xFF};
  std::vector<std::string> sequences;
  for (unsigned a = 0x80; a < 0x100; ++a) {
    for (unsigned b = 0; b < 0x100; ++b) {
      const std::string two{static_cast<char>(a), static_cast<char>(b)};
      sequences.push_back(two);
      if (a < 0xE0) continue;
      for (unsigned char c : edges) {
        sequences.push_back(two + static_cast<char>(c));
        if (a >= 0xF0) sequences.push_back(two + static_cast<char>(c) + '\x80');
        if (a >= 0xF0) sequences.push_back(two + static_cast<char>(c) + '\xBF');
      }
    }
  }
  int mismatches = 0;
  for (const std::string& seq : sequences) {
    for (std::size_t offset : {0u, 3u, 7u, 8u}) {
      for (const char* tail : {"", "abcdefghij"}) {
        const std::string text = std::string(offset, 'x') + seq + tail;
        if (IsValidUtf8(text) != DecodesCleanly(text) && ++mismatches <= 5) {
          ADD_FAILURE() << "disagree on " << testing::PrintToString(text);
        }
      }
    }
  }
  EXPECT_EQ(0, mismatches);
}

TEST(UtfTest, Latin1ToUtf8KeepsAsciiRunsAndConvertsEveryOtherByte) {
  for (std::size_t offset : {0u, 1u, 7u, 8u, 9u, 20u}) {
    for (int b = 0; b < 256; ++b) {
      const std::string text = std::string(offset, 'a') + static_cast<char>(b) + "bcdefghijk";
      std::string expected = std::string(offset, 'a');
      AppendUtf8(expected, static_cast<unsigned char>(b));
      expected += "bcdefghijk";
      ASSERT_EQ(Latin1ToUtf8(text), expected) << offset << " " << b;
    }
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
