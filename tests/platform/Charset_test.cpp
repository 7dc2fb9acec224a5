// Decoding of bodies by charset name: the names the server may send, invalid
// input turned into U+FFFD, and names that must be refused.
#include "platform/Charset.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/SysUtils.h"

namespace qvr {
namespace {

struct TDecodeCase {
  const char* Note;
  std::string Bytes;
  const char* CharSet;
  std::string Expected;  // UTF-8
};

// Expected values: the Unicode code charts for each set (é U+00E9, € U+20AC,
// あ U+3042, 😀 U+1F600) written out as UTF-8 by hand.
const TDecodeCase kDecodeCases[] = {
    {"latin1 byte", "\xE9", "ISO-8859-1", "\xC3\xA9"},
    {"latin1 any case and blanks", "caf\xE9", " iso-8859-1 ", "caf\xC3\xA9"},
    {"latin1 alias", "\xE9", "latin1", "\xC3\xA9"},
    {"latin1 C1 byte", "\x80", "ISO-8859-1", "\xC2\x80"},
    {"utf-8 valid", "h\xC3\xA9", "UTF-8", "h\xC3\xA9"},
    {"utf-8 alias", "h\xC3\xA9", "utf8", "h\xC3\xA9"},
    {"utf-8 invalid byte",
     "a\xFF"
     "b",
     "utf-8",
     "a\xEF\xBF\xBD"
     "b"},
    {"utf-8 truncated", "a\xC3", "utf-8", "a\xEF\xBF\xBD"},
    {"windows-1252 euro", "\x80", "windows-1252", "\xE2\x82\xAC"},
    {"windows-1252 letter", "\xE9", "Windows-1252", "\xC3\xA9"},
    {"windows-1252 undefined byte",
     "a\x81"
     "b",
     "windows-1252",
     "a\xEF\xBF\xBD"
     "b"},
    {"utf-16 BOM LE", std::string("\xFF\xFEh\0\xE9\0", 6), "UTF-16", "h\xC3\xA9"},
    {"utf-16 BOM BE", std::string("\xFE\xFF\0h\0\xE9", 6), "utf-16", "h\xC3\xA9"},
    {"utf-16 without BOM is LE", std::string("h\0\xE9\0", 4), "utf-16", "h\xC3\xA9"},
    {"utf-16 surrogate pair", std::string("\x3D\xD8\x00\xDE", 4), "utf-16", "\xF0\x9F\x98\x80"},
    {"utf-16 lone surrogate", std::string("\x00\xD8h\0", 4), "utf-16", "\xEF\xBF\xBDh"},
    {"utf-16 odd last byte", std::string("h\0i", 3), "utf-16", "h\xEF\xBF\xBD"},
    {"utf-16le", std::string("h\0", 2), "UTF-16LE", "h"},
    {"unicode is utf-16", std::string("h\0", 2), "unicode", "h"},
    {"cp1252 alias", "\x80", "cp1252", "\xE2\x82\xAC"},
    {"l1 alias", "\xE9", "L1", "\xC3\xA9"},
    {"utf-16be", std::string("\0h", 2), "UTF-16BE", "h"},
    {"iso-8859-15 through iconv", "\xA4", "ISO-8859-15", "\xE2\x82\xAC"},
    {"us-ascii high byte", "a\xE9", "US-ASCII", "a\xEF\xBF\xBD"},
    {"shift_jis two bytes", "\x82\xA0", "Shift_JIS", "\xE3\x81\x82"},
    {"shift_jis truncated at end", "a\x82", "Shift_JIS", "a\xEF\xBF\xBD"},
    {"empty body", "", "windows-1252", ""},
    {"utf-8 under a converter alias, invalid bytes",
     "a\xFA\xAD\xB7\xB7\xB7"
     "b",
     "UTF)8",
     "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
     "b"},
};

TEST(Charset, DecodesEachCase) {
  for (const auto& c : kDecodeCases) {
    EXPECT_EQ(DecodeCharset(c.Bytes, c.CharSet), c.Expected) << c.Note;
    EXPECT_TRUE(IsKnownCharset(c.CharSet)) << c.Note;
  }
}

TEST(Charset, DecodesUnchangedOnlyWhereTheTextIsTheBytes) {
  for (const auto& c : kDecodeCases) {
    if (DecodesUnchanged(c.Bytes, c.CharSet)) {
      EXPECT_EQ(c.Expected, c.Bytes) << c.Note;
    }
  }
  const struct {
    const char* Bytes;
    const char* CharSet;
    bool Unchanged;
  } cases[] = {
      {"{\"a\":1}", "UTF-8", true},    {"\xC3\xA9", " utf8 ", true},
      {"\xC3", "utf-8", false},        {"abc", "", true},
      {"abc", "latin1", true},         {"\xE9", "ISO-8859-1", false},
      {"abc", "windows-1252", false},  {"abc", "utf-16", false},
      {"abc", "utf-8//IGNORE", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodesUnchanged(c.Bytes, c.CharSet), c.Unchanged) << c.Bytes << " " << c.CharSet;
  }
}

TEST(Charset, LongInputOutgrowsTheConverterBuffer) {
  // 10000 single bytes become 20000 output bytes: several buffer refills.
  const std::string decoded = DecodeCharset(std::string(10000, '\xE9'), "windows-1252");
  ASSERT_EQ(decoded.size(), 20000u);
  for (std::size_t i = 0; i < decoded.size(); i += 2) {
    ASSERT_EQ(decoded.substr(i, 2), "\xC3\xA9") << i;
  }
}

TEST(Charset, RefusesUnknownOrUnsafeNames) {
  // "//" would pass options to the converter; an empty name would mean the
  // locale's set; both must be refused like a misspelt name.
  const char* const kNames[] = {
      "",         "   ", "nonsense-charset", "utf-8//TRANSLIT", "latin1//IGNORE", "utf-8,latin1",
      "\"utf-8\""};
  for (const char* name : kNames) {
    try {
      DecodeCharset("abc", name);
      ADD_FAILURE() << "accepted: '" << name << "'";
    } catch (const EEncodingError& E) {
      EXPECT_EQ(E.Message(), "Invalid encoding name") << name;
    }
    EXPECT_FALSE(IsKnownCharset(name)) << name;
  }
}

}  // namespace
}  // namespace qvr
