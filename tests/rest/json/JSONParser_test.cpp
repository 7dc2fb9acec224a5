// The parser against a reader written apart from it, straight from the JSON
// grammar and the parser's documented rules (ReferenceParser.h): on documents
// covering every part of the grammar, the nesting limit and the repair of bad
// text, on many mutations of them (the bytes JSON gives meaning to inserted,
// dropped and swapped), and on generated numbers of every magnitude, both
// accept exactly the same texts and read them to the same values.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rest/json/JSONTestData.h"
#include "rest/json/JSONText.h"
#include "rest/json/ReferenceParser.h"
#include "support/XorShift.h"

namespace qvr::rest {
namespace {

// Both readers' results as text (WriteJSON escapes everything the same way),
// or "no JSON".
std::string Outcome(const std::unique_ptr<TJSONValue>& AValue) {
  return AValue ? WriteJSON(*AValue) : std::string("no JSON");
}

// Reports the first few disagreements; returns their count.
int Disagreements(const std::vector<std::string>& ATexts) {
  int count = 0;
  for (const std::string& text : ATexts) {
    const std::string ours = Outcome(ParseJSON(text));
    const std::string theirs = Outcome(reference::Parse(text));
    if (ours != theirs && ++count <= 5) {
      ADD_FAILURE() << "on " << testing::PrintToString(text) << "\n  parser:    " << ours
                    << "\n  reference: " << theirs;
    }
  }
  return count;
}

const char* const kSeeds[] = {
    R"({"a":1,"b":[true,false,null],"c":{"d":"e"},"a":-0.5e+3})",
    R"([1,-1,0,-0,1.5,1e5,1E-5,2.5e+10,0.001,123456789,-2147483648,4294967295])",
    R"(["\b\f\n\r\t\"\\\/","\u0041\u00e9\u20AC","\uD83D\uDE00","\uD800","\uDC00x"])",
    R"(["\uD800\uD800\uDC00","\uD800\u0041","\\uD800","a\u0000b","\uDBFF\uDFFF"])",
    "[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\",\"\xFF\",\"\xED\xA0\x80\",\"\xC0\xAF\"]",
    // Overlong, beyond U+10FFFF, truncated, a surrogate's first two bytes, the
    // last of each length, and bad bytes against escapes.
    "[\"\xE0\x80\x80\",\"\xF4\x90\x80\x80\",\"\xF0\x9F\x98\",\"\xED\xA0\",\"\xED\xBF\xBF\"]",
    "[\"\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF\",\"\xC3\\u00e9\xA9\",\"\xE2\x82\\n\\uD800\xBF\"]",
    " \t\r\n{ \"k\" : [ 1 , { } , [ ] , \"\" ] }\n ",
    R"({"s":"eJxzCnHyEWBgYBBlYgADdiBmBGFGkAATAzOQZGVgAZLMQJoByGIDkmxgdexgcQaoDqgBDf\/\/\/68H\r\nC0gVSkDFYOL\/YXIgUx3zEkHigkDslV98eKXCs7kbn+xao\/Bh\/owGsH4Q8JrsANMf+fnHIfm8pYwg\r\nOUYwBIMbVx9ClfzY"})",
    "\"a long plain string that is longer than eight bytes, with no escapes at all\"",
    R"([18446744073709551615,18446744073709551616,-9223372036854775808,-9223372036854775809])",
    R"([1.7976931348623157e308,1e308,1e309,0.1e309,10e307,1e-400,0.0000001e314])",
    R"([[[[[[[[[[{"deep":[[[[[[[[[[]]]]]]]]]]}]]]]]]]]]])",
    "true",
    "null",
    "\"x\"",
    "-12.5",
};

TEST(JSONParser, AgreesWithTheReferenceOnTheSeeds) {
  std::vector<std::string> texts(std::begin(kSeeds), std::end(kSeeds));
  texts.push_back(testdata::GenerateDocument(64 * 1024));
  // Escapes and other bytes at every place around the sixteen-byte steps the
  // parser reads in, and a string with escapes of over a megabyte, which
  // outgrows any buffer and becomes its value in the one it was decoded into.
  for (const char* inner : {"\\n", "\\u00e9", "\\uD83D\\uDE00", "\"", "\x01", "\xC3\xA9", "\xFF"}) {
    for (std::size_t before = 0; before < 40; ++before) {
      texts.push_back(
          std::string("[\"").append(before, 'a').append(inner).append(20, 'b').append("\"]"));
      texts.push_back(std::string("[\"").append(before, 'a').append(inner).append("\"]"));
    }
  }
  std::string big = "\"";
  for (int i = 0; i < 80000; ++i) {  // beyond a megabyte
    big.append(static_cast<std::size_t>(i % 37), 'x').append(i % 3 == 0 ? "\\/" : "\\r\\n");
  }
  texts.push_back(big + "\"");
  // Arrays and objects nested to the limit and one beyond it.
  for (const int depth : {kMaxJSONDepth - 1, kMaxJSONDepth, kMaxJSONDepth + 1}) {
    const auto levels = static_cast<std::size_t>(depth);
    texts.push_back(std::string(levels, '[').append(levels, ']'));
    std::string objects;
    for (int i = 0; i < depth; ++i) objects += "{\"a\":";
    texts.push_back(objects.append("1").append(levels, '}'));
  }
  EXPECT_EQ(0, Disagreements(texts));
}

TEST(JSONParser, AgreesWithTheReferenceOnMutatedDocuments) {
  static const char kAlphabet[] = "\"\\u[]{},:09-.eE+ tnfD8FCc\x01\xC3\xA9\xED\xA0\xFF";
  test::TXorShift next(0x9E3779B97F4A7C15ull);
  std::vector<std::string> texts;
  constexpr int kMutations = 20000;
  texts.reserve(kMutations);
  for (int i = 0; i < kMutations; ++i) {
    std::string text = kSeeds[next() % std::size(kSeeds)];
    const int edits = 1 + static_cast<int>(next() % 3);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = next() % text.size();
      const char c = kAlphabet[next() % (sizeof kAlphabet - 1)];
      switch (next() % 4) {
        case 0:
          text.erase(at, 1);
          break;
        case 1:
          text.insert(at, 1, c);
          break;
        case 2:
          text[at] = c;
          break;
        default:
          text.insert(at, text.substr(at, next() % 8));
          break;
      }
    }
    texts.push_back(std::move(text));
  }
  // A zero byte is no JSON anywhere.
  texts.push_back(std::string("[1,\0 2]", 7));
  texts.push_back(std::string("\"a\0b\"", 5));
  EXPECT_EQ(0, Disagreements(texts));
}

TEST(JSONParser, AgreesWithTheReferenceOnTheRangeOfNumbers) {
  test::TXorShift next(88172645463325252ull);
  auto digits = [&](std::size_t ACount) {
    std::string d;
    for (std::size_t k = 0; k < ACount; ++k) d += static_cast<char>('0' + next() % 10);
    return d;
  };
  std::vector<std::string> texts;
  for (int i = 0; i < 5000; ++i) {
    std::string n = next() % 2 ? "-" : "";
    // Integer parts around the 32-bit, 64-bit and double limits.
    const std::size_t lengths[] = {1, 9, 10, 11, 19, 20, 21, 300, 308, 309, 310, 320};
    n += static_cast<char>('1' + next() % 9);
    n.append(digits(lengths[next() % std::size(lengths)] - 1));
    if (next() % 2) n.append(".").append(digits(1 + next() % 40));
    if (next() % 2) {
      n += next() % 2 ? "e" : "E";
      if (next() % 3 == 0) n += next() % 2 ? "+" : "-";
      n += std::to_string(next() % 700);
    }
    texts.push_back(n);
    texts.push_back(std::string("[").append(n).append("]"));
  }
  // Where the exponent limit lies depends on how many fraction digits count.
  for (std::size_t fraction = 1; fraction <= 30; ++fraction) {
    for (int exp = 300; exp <= 340; ++exp) {
      texts.push_back(
          std::string("1.").append(digits(fraction)).append("e").append(std::to_string(exp)));
    }
  }
  for (const char* edge : {"9223372036854775807", "9223372036854775808", "-9223372036854775808",
                           "18446744073709551615", "18446744073709551616", "2147483647",
                           "-2147483648", "-2147483649", "4294967295", "4294967296",
                           "0.000000000000000000001e329", "1.0e308", "10.0e307", "1e+308"}) {
    texts.emplace_back(edge);
  }
  EXPECT_EQ(0, Disagreements(texts));
}

}  // namespace
}  // namespace qvr::rest
