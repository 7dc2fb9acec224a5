// URL paths of remote calls: segments as the client encodes them and the
// server decodes them, the method path of a command text, and the split of a
// raw path into segments.
#include "rest/wire/RestPaths.h"

#include <gtest/gtest.h>

namespace qvr::rest {
namespace {

TEST(RestPaths, PercentEncodingOfPathSegmentsAlsoEncodesTheDot) {
  struct TCase {
    const char* Text;
    bool KeepDot;
    const char* Encoded;
  };
  const TCase kCases[] = {
      {"a.b", true, "a.b"},   {"a.b", false, "a%2Eb"},
      {"%41", true, "%2541"}, {"", false, ""},
      {"\xFF", false, "%FF"}, {"A-z_0~!$&'()*+,;=@[]", false, "A-z_0~!$&'()*+,;=@[]"}};
  for (const auto& c : kCases) EXPECT_EQ(PercentEncode(c.Text, c.KeepDot), c.Encoded) << c.Text;
}

TEST(RestPaths, EverySegmentDecodesToWhatWasEncoded) {
  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  const std::string kTexts[] = {every, "hola mundo", "50%", "a/b", "%%41", "Jos\xC3\xA9", "+"};
  for (const std::string& text : kTexts) {
    EXPECT_EQ(DecodeSegment(PercentEncode(text, false)), text) << text;
    EXPECT_EQ(DecodeSegment(PercentEncode(text, true)), text) << text;
  }
}

TEST(RestPaths, DecodingLeavesWhatIsNoEscapeAsItIs) {
  struct TCase {
    const char* Raw;
    const char* Text;
  };
  const TCase kCases[] = {
      {"a+b", "a+b"},   {"%4", "%4"},     {"%", "%"},         {"%zz", "%zz"},
      {"%4g1", "%4g1"}, {"%2e%2E", ".."}, {"100%25", "100%"}, {"%41%", "A%"},
  };
  for (const auto& c : kCases) EXPECT_EQ(DecodeSegment(c.Raw), c.Text) << c.Raw;
}

TEST(RestPaths, RawPathsSplitIntoDecodedSegments) {
  using TList = std::vector<std::string>;
  EXPECT_EQ(SplitSegments("TQVRServerMethods/EchoString/hola%20mundo/"),
            (TList{"TQVRServerMethods", "EchoString", "hola mundo"}));
  EXPECT_EQ(SplitSegments("a/b"), (TList{"a", "b"}));
  EXPECT_EQ(SplitSegments("a//b/"), (TList{"a", "", "b"}));
  EXPECT_EQ(SplitSegments("a%2Fb/"), (TList{"a/b"}));
  EXPECT_EQ(SplitSegments(""), TList{});
}

TEST(RestPaths, MethodPathsTurnTheFirstDotAndEveryQuote) {
  EXPECT_EQ(MethodPath("TQVRServerMethods.EchoString"), "TQVRServerMethods/EchoString");
  EXPECT_EQ(MethodPath("TQVRServerMethods.\"SubirAsistencia\""),
            "TQVRServerMethods/%22SubirAsistencia%22");
  EXPECT_EQ(MethodPath("A.b.c d"), "A/b.c d");
  EXPECT_EQ(MethodPath("NoDot"), "NoDot");
}

}  // namespace
}  // namespace qvr::rest
