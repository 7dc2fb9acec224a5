// Reading qvr's command line: options anywhere, in both spellings, "--"
// and "-" as operands, and the lines that are refused.
#include "tools/qvr/Arguments.h"

#include <gtest/gtest.h>

namespace qvr::cli {
namespace {

using TWords = std::vector<std::string>;

TEST(ParseArgumentsTest, OptionsAnywhereAndOperandsInOrder) {
  const TArguments a = ParseArguments({"--config", "sitio.ini", "relojes", "--format=csv",
                                       "--cache", "--filter", "ss.r=1", "--dataset=Relojes"});
  EXPECT_EQ(a.Words, (TWords{"relojes"}));
  EXPECT_EQ(a.ConfigFile, "sitio.ini");
  EXPECT_EQ(a.Format, TFormat::CSV);
  EXPECT_TRUE(a.Cache);
  EXPECT_EQ(a.Filter, "ss.r=1");
  EXPECT_EQ(a.DataSet, "Relojes");
  EXPECT_EQ(a.Given, unsigned{coCache | coFilter | coDataSet});
  EXPECT_FALSE(a.ConnectionOptions);

  const TArguments b = ParseArguments({"config", "set", "Puerto=--9", "--port", "-1",
                                       "--uid=", "--host", "h", "--session-file", "s"});
  EXPECT_EQ(b.Words, (TWords{"config", "set", "Puerto=--9"}));
  EXPECT_EQ(b.Port, "-1");
  EXPECT_EQ(b.Uid, "");
  EXPECT_EQ(b.Host, "h");
  EXPECT_EQ(b.SessionFile, "s");
  EXPECT_TRUE(b.ConnectionOptions);
  EXPECT_EQ(b.Format, TFormat::Table);
}

TEST(ParseArgumentsTest, DashesAsOperands) {
  const TArguments a = ParseArguments({"echo", "--", "--help", "-x"});
  EXPECT_EQ(a.Words, (TWords{"echo", "--help", "-x"}));
  EXPECT_FALSE(a.Help);
  const TArguments b = ParseArguments({"actualizar-empleado", "-", "-h"});
  EXPECT_EQ(b.Words, (TWords{"actualizar-empleado", "-"}));
  EXPECT_TRUE(b.Help);
  EXPECT_EQ(ParseArguments({"existe", "-7"}).Words, (TWords{"existe", "-7"}));
  EXPECT_TRUE(ParseArguments({"--version"}).Version);
  const TArguments c = ParseArguments({"personal", "--completo", "--help"});
  EXPECT_TRUE(c.Completo);
  EXPECT_TRUE(c.Help);
  EXPECT_EQ(c.Given, unsigned{coCompleto});
}

TEST(ParseArgumentsTest, RefusedLines) {
  const struct {
    TWords Line;
    const char* Message;
  } kCases[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"relojes", "-x"}, "unknown option -x"},
      {{"--format", "xml", "relojes"}, "--format takes table, json or csv, not 'xml'"},
      {{"relojes", "--format"}, "--format needs a value"},
      {{"--cache=yes"}, "--cache takes no value"},
      {{"--config="}, "--config needs a file name"},
      {{"--session-file", ""}, "--session-file needs a file name"},
      {{"--dataset="}, "--dataset needs a name"},
      // The name as it was typed, the short one included.
      {{"-h=1"}, "-h takes no value"},
      {{"relojes", "--help=yes"}, "--help takes no value"},
      {{"--version="}, "--version takes no value"},
      {{"personal", "--completo=no"}, "--completo takes no value"},
      {{"--config"}, "--config needs a value"},
      {{"--port"}, "--port needs a value"},
      {{"relojes", "--dataset"}, "--dataset needs a value"},
      {{"--bogus=1", "relojes"}, "unknown option --bogus"},
      {{"--h"}, "unknown option --h"},
      {{"-help"}, "unknown option -help"},
      // The first fault on the line is the one reported.
      {{"--cache=1", "--bogus"}, "--cache takes no value"},
  };
  for (const auto& c : kCases) {
    try {
      ParseArguments(c.Line);
      ADD_FAILURE() << "accepted: " << c.Line[0];
    } catch (const EUsageError& AError) {
      EXPECT_EQ(AError.Message(), c.Message);
    }
  }
}

}  // namespace
}  // namespace qvr::cli
