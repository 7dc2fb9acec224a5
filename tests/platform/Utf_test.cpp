// UTF-8 / UTF-16 conversions, with invalid input becoming U+FFFD.
#include "platform/Utf.h"

#include <gtest/gtest.h>

#include <optional>
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

// The characters of Windows-1252's bytes 0x80 to 0x9F: the defined ones as
// `printf '\x80' | iconv -f CP1252 -t UTF-16BE | xxd` gives them; the five
// bytes the code page leaves undefined (iconv refuses them) keep their value.
const char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

TEST(UtfTest, Windows1252GivesEveryByteACharacterAndConvertsBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) {
    const char32_t c = b >= 0x80 && b < 0xA0 ? kWindows1252High[b - 0x80] : char32_t(b);
    for (std::size_t offset : {0u, 1u, 8u, 9u}) {
      const std::string bytes = std::string(offset, 'a') + static_cast<char>(b) + "bcdefghijk";
      std::string text = std::string(offset, 'a');
      AppendUtf8(text, c);
      text += "bcdefghijk";
      ASSERT_EQ(Windows1252ToUtf8(bytes), text) << offset << " " << b;
      ASSERT_EQ(Utf8ToWindows1252(text), bytes) << offset << " " << b;
    }
    all += static_cast<char>(b);
  }
  EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(all)), all);
}

struct TWindows1252Case {
  const char* Note;
  std::string Text;
  std::optional<std::string> Bytes;
};

const TWindows1252Case kWindows1252Cases[] = {
    {"ASCII", "Puerto=8080", "Puerto=8080"},
    {"n with tilde",
     "Ca\xC3\xB1"
     "ada",
     "Ca\xF1"
     "ada"},
    {"euro sign", "\xE2\x82\xAC", "\x80"},
    {"an undefined byte's control", "\xC2\x81", "\x81"},
    {"a C1 control the code page replaces", "\xC2\x80", std::nullopt},
    {"L with stroke",
     "\xC5\x81\xC3\xB3"
     "d\xC5\xBA",
     std::nullopt},
    {"emoji", "caja \xF0\x9F\x98\x80", std::nullopt},
    {"replacement character", "\xEF\xBF\xBD", std::nullopt},
    {"invalid UTF-8",
     "Ca\xF1"
     "ada",
     std::nullopt},
    {"truncated sequence", "Ca\xC3", std::nullopt},
};

TEST(UtfTest, Utf8ToWindows1252RefusesWhatTheCodePageLacks) {
  for (const auto& c : kWindows1252Cases) EXPECT_EQ(Utf8ToWindows1252(c.Text), c.Bytes) << c.Note;
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
