// The session id in the Pragma header, read as the client reads it and
// written as both sides send it.
#include "rest/wire/SessionPragma.h"

#include <gtest/gtest.h>

namespace qvr::rest {
namespace {

TEST(SessionPragma, TheIdIsTheTextAfterSessionidUpToTheFirstComma) {
  struct TCase {
    const char* Pragma;
    const char* Id;
  };
  const TCase kCases[] = {
      {"sessionid=abc", "abc"},
      {"sessionid=abc,dssessionexpires=1200000", "abc"},
      {"no-cache, sessionid=X1", "X1"},
      {"dssessionid=Q,a", "Q"},  // "anywhere in the value"
      {"sessionid=", ""},
      {"sessionid=,x", ""},
      {"sessionid= a b ,c", " a b "},
      {"SessionID=abc", ""},  // exact case
      {"no-cache", ""},
      {"", ""},
      {"sessionid=a,sessionid=b", "a"},
  };
  for (const auto& c : kCases) EXPECT_EQ(SessionIDFromPragma(c.Pragma), c.Id) << c.Pragma;
}

TEST(SessionPragma, AWrittenIdReadsBack) {
  EXPECT_EQ(SessionPragma("4F2a-9"), "sessionid=4F2a-9");
  for (const char* id : {"", "abc", "a b", "x=y"}) {
    EXPECT_EQ(SessionIDFromPragma(SessionPragma(id)), id) << id;
  }
}

}  // namespace
}  // namespace qvr::rest
