// The JSON text form: exact writer output (escapes, numbers, null strings) and
// the parser's acceptance rules (numbers as text, duplicates, depth, trailing
// text, invalid UTF-8, lone surrogates).
#include "rest/json/JSONText.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Utf.h"
#include "rest/json/JSONTestData.h"

namespace qvr::rest {
namespace {

// Expected escapes written by hand from the body-text rule: the five named
// control characters, \" \\ \/, and \uXXXX (upper-case) for every other UTF-16
// code unit below 0x20 or above 0x7F.
struct TEscapeCase {
  const char* Note;
  std::string Input;  // UTF-8
  std::string Escaped;
  std::string Unescaped;  // the error-message variant
};

const TEscapeCase kEscapeCases[] = {
    {"plain ASCII", "abc XYZ 019", R"("abc XYZ 019")", R"("abc XYZ 019")"},
    {"named controls", "\b\t\n\f\r", R"("\b\t\n\f\r")", R"("\b\t\n\f\r")"},
    {"quote, backslash, slash", "\"\\/", R"("\"\\\/")", R"("\"\\\/")"},
    {"other controls", std::string("\x01\x1F\x00", 3), R"("\u0001\u001F\u0000")",
     std::string("\"\x01\x1F\x00\"", 5)},
    {"DEL stays", "\x7F", "\"\x7F\"", "\"\x7F\""},
    {"Latin-1", "\xC3\xAD", R"("\u00ED")", "\"\xC3\xAD\""},
    {"BMP", "\xE2\x82\xAC", R"("\u20AC")", "\"\xE2\x82\xAC\""},
    {"outside the BMP: two escapes", "\xF0\x9F\x98\x80", R"("\uD83D\uDE00")",
     "\"\xF0\x9F\x98\x80\""},
    {"invalid UTF-8 written as U+FFFD",
     "a\xFF"
     "b",
     R"("a\uFFFDb")",
     "\"a\xEF\xBF\xBD"
     "b\""},
    {"base64 with line break", "eJ+/\r\n", R"("eJ+\/\r\n")", R"("eJ+\/\r\n")"},
};

TEST(JSONTextWriter, EscapesStringsExactly) {
  for (const TEscapeCase& c : kEscapeCases) {
    TJSONString s(c.Input);
    EXPECT_EQ(WriteJSON(s), c.Escaped) << c.Note;
    EXPECT_EQ(WriteJSONUnescaped(s), c.Unescaped) << c.Note;
    TJSONObject o;
    o.AddPair(c.Input, std::make_unique<TJSONNull>());
    EXPECT_EQ(WriteJSON(o), "{" + c.Escaped + ":null}") << "member name: " << c.Note;
  }
}

TEST(JSONTextWriter, WritesCompactStructure) {
  TJSONObject o;
  o.AddPair("a", std::make_unique<TJSONNumber>(std::string("1.50")));
  auto arr = std::make_unique<TJSONArray>();
  arr->Add(std::make_unique<TJSONTrue>())
      .Add(std::make_unique<TJSONFalse>())
      .Add(std::make_unique<TJSONNull>())
      .Add(std::make_unique<TJSONString>())  // null string
      .Add(std::make_unique<TJSONObject>())
      .Add(std::make_unique<TJSONArray>());
  o.AddPair("b", std::move(arr));
  o.AddPair("a", std::make_unique<TJSONString>(""));
  EXPECT_EQ(WriteJSON(o), R"({"a":1.50,"b":[true,false,null,null,{},[]],"a":""})");
  EXPECT_EQ(o.ToJSON(), WriteJSON(o));
}

// The escaping rule applied one character at a time, as the reference.
std::string EscapedByTheRule(const std::string& AText) {
  static const char kHex[] = "0123456789ABCDEF";
  auto unit = [](std::string& AOut, unsigned AUnit) {
    AOut += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) AOut += kHex[(AUnit >> shift) & 0xF];
  };
  std::string out = "\"";
  std::size_t pos = 0;
  while (pos < AText.size()) {
    const char32_t cp = DecodeUtf8(AText, pos);
    switch (cp) {
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      default:
        if (cp < 0x20 || (cp > 0x7F && cp < 0x10000)) {
          unit(out, static_cast<unsigned>(cp));
        } else if (cp >= 0x10000) {
          unit(out, 0xD800 + ((cp - 0x10000) >> 10));
          unit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
          out += static_cast<char>(cp);
        }
    }
  }
  return out + "\"";
}

// Texts of every length up to 300 from pieces of every kind (plain letters
// in runs, escapes, controls, letters of two to four bytes, invalid bytes),
// so that each piece falls at every place of the writer's sixteen-byte steps.
TEST(JSONTextWriter, EscapesLongAndMixedTextsAsTheRuleSays) {
  const char* const pieces[] = {"abcdefghijklmnopqrstuvwxyz0123",
                                "x",
                                "/",
                                "\r\n",
                                "\"",
                                "\\",
                                "\x01",
                                "\x1F",
                                "\x7F",
                                "\xC3\xA9",
                                "\xE2\x82\xAC",
                                "\xF0\x9F\x98\x80",
                                "\xFF",
                                "\xE2\x82"};
  std::uint32_t seed = 7;
  int mismatches = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const std::size_t length = round % 300;
    while (text.size() < length) {
      seed = seed * 1664525u + 1013904223u;
      // Mostly plain runs, as real texts are.
      text += pieces[(seed >> 8) % 4 == 0 ? (seed >> 12) % std::size(pieces) : 0];
    }
    const std::string expected = EscapedByTheRule(text);
    if (WriteJSON(TJSONString(text)) != expected && ++mismatches <= 3) {
      ADD_FAILURE() << testing::PrintToString(text);
    }
    std::string appended = "[";
    WriteJSONString(text, appended);
    if (appended != "[" + expected && ++mismatches <= 3) {
      ADD_FAILURE() << "appended: " << testing::PrintToString(text);
    }
  }
  EXPECT_EQ(0, mismatches);
}

TEST(JSONTextWriter, NumberTextThatIsNoNumberStaysValidJSON) {
  // Only a program or an object form can put such text in a number.
  EXPECT_EQ(WriteJSON(TJSONNumber(std::string("12abc"))), R"("12abc")");
  EXPECT_EQ(WriteJSON(TJSONNumber(std::string("-0.5e+3"))), "-0.5e+3");
}

// Texts that must give "no JSON" (a null result, never an exception).
struct TRejectCase {
  const char* Note;
  std::string Text;
};

const TRejectCase kRejectCases[] = {
    {"empty", ""},
    {"only blanks", "  \r\n\t"},
    {"syntax error", "{\"a\":}"},
    {"unterminated", "[1,2"},
    {"trailing text", "{} x"},
    {"two values", "1 2"},
    {"trailing comma", "[1,]"},
    {"raw control in string", "\"a\x01\""},
    {"zero byte after value", std::string("{}\0x", 4)},
    {"bad escape", R"("\x")"},
    {"single quotes", "'a'"},
    {"NaN", "NaN"},
    {"leading zero", "01"},
    {"invalid UTF-8 outside a string", "[\xFF]"},
};

TEST(JSONTextParser, RejectsWhatIsNoSingleValue) {
  for (const TRejectCase& c : kRejectCases) {
    EXPECT_EQ(ParseJSON(c.Text), nullptr) << c.Note;
  }
}

// Every value counts against the bound, containers and member values alike.
TEST(JSONTextParser, GivesNoJSONBeyondTheNumberOfValues) {
  struct TCase {
    const char* Text;
    std::size_t Values;  // what the text holds
  };
  const TCase kCases[] = {
      {"1", 1},        {"[]", 1},          {"[1,2,3]", 4},
      {"{\"a\":1}", 2}, {"{\"a\":[{}]}", 3}, {"[[[[]]]]", 4},
  };
  for (const auto& c : kCases) {
    EXPECT_NE(ParseJSON(c.Text, c.Values), nullptr) << c.Text;
    EXPECT_EQ(ParseJSON(c.Text, c.Values - 1), nullptr) << c.Text;
  }
  EXPECT_EQ(ParseJSON("1", 0), nullptr);
}

TEST(JSONTextParser, KeepsNumbersAsTheirText) {
  const char* numbers[] = {"0",      "-0",    "1.50", "1e300", "-12345678901234567890123",
                           "1E-400", "2.5E-3"};
  for (const char* n : numbers) {
    auto v = ParseJSON(n);
    ASSERT_NE(v, nullptr) << n;
    ASSERT_EQ(v->Kind(), TJSONValue::TKind::Number) << n;
    EXPECT_EQ(v->AsString()->Value(), n);
    EXPECT_EQ(WriteJSON(*v), n);
  }
}

TEST(JSONTextParser, KeepsNumbersBeyondTheRangeOfADouble) {
  // Taken as their text like every number; only a conversion that needs the
  // value fails, when it is asked for.
  const char* documents[] = {
      "1e400",
      "-1e309",
      "[1E400,\"1e999\",{\"a\":-1e309,\"b\":[2,1.8e308]},\"\\ud800\",1e-99999]",
      "{\"x\":\"e5 -1 \\\" 9\",\"n\":12345678901234567890e300}",
  };
  for (const char* text : documents) {
    auto v = ParseJSON(text);
    ASSERT_NE(v, nullptr) << text;
    if (v->Kind() == TJSONValue::TKind::Number) {
      EXPECT_EQ(WriteJSON(*v), text);
    }
  }
  auto mixed = ParseJSON(documents[2]);
  EXPECT_EQ(WriteJSON(*mixed), R"([1E400,"1e999",{"a":-1e309,"b":[2,1.8e308]},"\uFFFD",1e-99999])");
  EXPECT_EQ(WriteJSON(*ParseJSON(documents[3])),
            R"({"x":"e5 -1 \" 9","n":12345678901234567890e300})");
  // A number token that is no number is still refused.
  for (const char* text : {"[1e400,-]", "[1e400,1.]", "[1e400,01]", "[1e400,1e+]"}) {
    EXPECT_EQ(ParseJSON(text), nullptr) << text;
  }
}

TEST(JSONTextParser, KeepsDuplicateNamesInOrder) {
  auto v = ParseJSON(R"({"a":1,"b":2,"a":3})");
  ASSERT_NE(v, nullptr);
  const TJSONObject* o = v->AsObject();
  ASSERT_NE(o, nullptr);
  ASSERT_EQ(o->Count(), 3u);
  EXPECT_EQ(o->Pairs(2).Name(), "a");
  EXPECT_EQ(o->GetValue("a")->AsString()->Value(), "1");  // the first one
  EXPECT_EQ(WriteJSON(*v), R"({"a":1,"b":2,"a":3})");
}

std::string Nested(int ADepth) {
  std::string s(static_cast<std::size_t>(ADepth), '[');
  s.append(static_cast<std::size_t>(ADepth), ']');
  return s;
}

TEST(JSONTextParser, AcceptsDepth512AndRejectsDeeper) {
  EXPECT_NE(ParseJSON(Nested(kMaxJSONDepth)), nullptr);
  EXPECT_EQ(ParseJSON(Nested(kMaxJSONDepth + 1)), nullptr);
  std::string objects;
  for (int i = 0; i < kMaxJSONDepth + 1; ++i) objects += "{\"a\":";
  objects += "1";
  objects.append(kMaxJSONDepth + 1, '}');
  EXPECT_EQ(ParseJSON(objects), nullptr);
  // Far deeper input is rejected without exhausting the stack.
  EXPECT_EQ(ParseJSON(Nested(1000000)), nullptr);
}

// Decoding of string contents; expected UTF-8 written by hand.
struct TDecodeCase {
  const char* Note;
  std::string Text;
  std::string Value;
};

const TDecodeCase kDecodeCases[] = {
    {"escapes", R"("\b\t\n\f\r\"\\\/")", "\b\t\n\f\r\"\\/"},
    {"BMP escape", R"("\u00ed\u20AC")", "\xC3\xAD\xE2\x82\xAC"},
    {"surrogate pair", R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
    {"lone high surrogate", R"("a\uD800b")",
     "a\xEF\xBF\xBD"
     "b"},
    {"lone high surrogate at end", R"("\uDBFF")", "\xEF\xBF\xBD"},
    {"high surrogate then other escape", R"("\uD800\n")", "\xEF\xBF\xBD\n"},
    {"lone low surrogate", R"("\uDC00x")", "\xEF\xBF\xBDx"},
    {"two high surrogates", R"("\uD800\uD800")", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"escaped backslash before u", R"("\\uD800")", "\\uD800"},
    {"escaped zero", R"("a\u0000b")", std::string("a\0b", 3)},
    {"raw UTF-8", "\"\xC3\xB1\"", "\xC3\xB1"},
    {"invalid byte",
     "\"a\xFF"
     "b\"",
     "a\xEF\xBF\xBD"
     "b"},
    {"truncated sequence", "\"\xE2\x82\"", "\xEF\xBF\xBD"},
    {"overlong", "\"\xC0\xAF\"", "\xEF\xBF\xBD\xEF\xBF\xBD"},
};

TEST(JSONTextParser, DecodesStringsAndRepairsBadText) {
  for (const TDecodeCase& c : kDecodeCases) {
    auto v = ParseJSON(c.Text);
    ASSERT_NE(v, nullptr) << c.Note;
    ASSERT_NE(v->AsString(), nullptr) << c.Note;
    EXPECT_EQ(v->AsString()->Value(), c.Value) << c.Note;
  }
  auto named = ParseJSON("{\"\xFF\\uD800\":1}");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->AsObject()->Pairs(0).Name(), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(JSONTextParser, ReadsEveryKindAndRoundTrips) {
  const std::string text =
      R"({"s":"x","n":-1.5e2,"t":true,"f":false,"z":null,"a":[{},[],"",0],"o":{"k":"v"}})";
  auto v = ParseJSON("  " + text + "\r\n ");
  ASSERT_NE(v, nullptr);
  const TJSONObject& o = *v->AsObject();
  EXPECT_EQ(o.GetValue("t")->Kind(), TJSONValue::TKind::True);
  EXPECT_EQ(o.GetValue("f")->Kind(), TJSONValue::TKind::False);
  EXPECT_TRUE(o.GetValue("z")->IsNull());
  EXPECT_EQ(o.GetValue("a")->AsArray()->Count(), 4u);
  EXPECT_EQ(WriteJSON(*v), text);
  // Root scalars are values too.
  EXPECT_EQ(ParseJSON("\"x\"")->AsString()->Value(), "x");
  EXPECT_TRUE(ParseJSON(" null ")->IsNull());
}

TEST(JSONTextParser, ReadsBackWhatTheWriterWrote) {
  TJSONObject o;
  std::string all;
  for (int c = 1; c < 0x80; ++c) all += static_cast<char>(c);
  all += "\xC3\xB1\xE2\x82\xAC\xF0\x9F\x98\x80";
  o.AddPair(all, std::make_unique<TJSONString>(all));
  auto back = ParseJSON(WriteJSON(o));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->AsObject()->Pairs(0).Name(), all);
  EXPECT_EQ(back->AsObject()->GetValue(all)->AsString()->Value(), all);
}

TEST(JSONTextParser, ReadsOnlyTheGivenPartOfALargerBuffer) {
  const std::string buffer = "[1,2]xyz";
  auto v = ParseJSON(std::string_view(buffer.data(), 5));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(WriteJSON(*v), "[1,2]");
  EXPECT_EQ(ParseJSON(std::string_view(buffer.data(), 4)), nullptr);
  EXPECT_EQ(ParseJSON(static_cast<const char*>(nullptr)), nullptr);
}

TEST(JSONTextParser, RoundTripsAGeneratedAnswer) {
  // The benchmark's document, smaller: rows of many kinds with non-ASCII
  // names, which the writer escapes and the parser reads back.
  const std::string text = testdata::GenerateDocument(256 * 1024);
  auto first = ParseJSON(text);
  ASSERT_NE(first, nullptr);
  const std::string written = WriteJSON(*first);
  auto second = ParseJSON(written);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(WriteJSON(*second), written);
  // The generator writes no escapes; the unescaped variant still escapes "/".
  std::string slashes;
  for (char c : text) slashes += c == '/' ? std::string("\\/") : std::string(1, c);
  EXPECT_EQ(WriteJSONUnescaped(*second), slashes);
  const TJSONArray* rows = first->AsObject()->GetValue("result")->AsArray();
  ASSERT_NE(rows, nullptr);
  EXPECT_GT(rows->Count(), 100u);
  EXPECT_EQ(rows->Items(1)->AsObject()->GetValue("IDEmpleado")->AsString()->Value(), "1");
}

}  // namespace
}  // namespace qvr::rest
