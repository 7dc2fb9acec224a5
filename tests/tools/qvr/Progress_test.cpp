// The progress line of long transfers, fed as the HTTP object feeds it:
// nothing for small bodies, a line rewritten in place for large ones that
// ends as a summary, and one line per transfer.
#include "tools/qvr/Progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvr::cli {
namespace {

using rest::TTransferDirection;

class ProgressLineTest : public ::testing::Test {
 protected:
  TProgressLine Line{[this](const std::string& AText) { Written.push_back(AText); }};
  std::vector<std::string> Written;

  // The texts written, without the rate (which depends on the clock).
  std::vector<std::string> Shapes() const {
    std::vector<std::string> shapes;
    for (const auto& text : Written) {
      const auto comma = text.rfind(", ");
      std::string shape = text.substr(0, comma);
      if (shape.rfind(" in ") != std::string::npos) shape = shape.substr(0, shape.rfind(" in "));
      shapes.push_back(shape + (text.back() == '\n' ? "|end" : ""));
    }
    return shapes;
  }
};

TEST_F(ProgressLineTest, SmallBodiesShowNothing) {
  Line.Update(TTransferDirection::Sending, 400000, 1000000);
  Line.Update(TTransferDirection::Sending, 1000000, 1000000);
  Line.Update(TTransferDirection::Receiving, 999999, -1);
  Line.Finish();
  EXPECT_TRUE(Written.empty());
}

TEST_F(ProgressLineTest, AnAnnouncedBodyEndsWithASummary) {
  Line.Update(TTransferDirection::Receiving, 100000, 3000000);
  Line.Update(TTransferDirection::Receiving, 3000000, 3000000);
  Line.Finish();
  EXPECT_EQ(Shapes(), (std::vector<std::string>{"\r\x1b[KReceiving 100 kB of 3.0 MB",
                                                "\r\x1b[KReceived 3.0 MB|end"}));
  EXPECT_NE(Written.back().find(" in "), std::string::npos);
  EXPECT_EQ(Written.back().substr(Written.back().size() - 3), "/s\n");
}

TEST_F(ProgressLineTest, ABodyWithoutALengthEndsWhenTheCallIsOver) {
  Line.Update(TTransferDirection::Receiving, 2500000, -1);
  Line.Finish();
  Line.Finish();
  EXPECT_EQ(Shapes(),
            (std::vector<std::string>{"\r\x1b[KReceiving 2.5 MB", "\r\x1b[KReceived 2.5 MB|end"}));
}

TEST_F(ProgressLineTest, EachTransferHasALineOfItsOwn) {
  // An upload, then a new attempt of the same request (its count falls).
  Line.Update(TTransferDirection::Sending, 1500000, -1);
  Line.Update(TTransferDirection::Receiving, 10, 10);
  Line.Update(TTransferDirection::Receiving, 1200000, -1);
  Line.Update(TTransferDirection::Receiving, 20, -1);
  Line.Finish();
  EXPECT_EQ(Shapes(),
            (std::vector<std::string>{"\r\x1b[KSending 1.5 MB", "\r\x1b[KSent 1.5 MB|end",
                                      "\r\x1b[KReceiving 1.2 MB", "\r\x1b[KReceived 1.2 MB|end"}));
}

TEST_F(ProgressLineTest, TheLineIsRedrawnAtMostTenTimesASecond) {
  const auto start = TProgressLine::TClock::now();
  for (int i = 1; i <= 2000; ++i) Line.Update(TTransferDirection::Receiving, 1000000 + i, -1);
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(TProgressLine::TClock::now() - start)
          .count();
  EXPECT_LE(Written.size(), static_cast<std::size_t>(2 + elapsed / 100));
}

TEST(ProgressSizeTest, Units) {
  EXPECT_EQ(TProgressLine::Size(0), "0 bytes");
  EXPECT_EQ(TProgressLine::Size(999), "999 bytes");
  EXPECT_EQ(TProgressLine::Size(1000), "1 kB");
  EXPECT_EQ(TProgressLine::Size(999999), "999 kB");
  EXPECT_EQ(TProgressLine::Size(1000000), "1.0 MB");
  EXPECT_EQ(TProgressLine::Size(15349999), "15.3 MB");
}

}  // namespace
}  // namespace qvr::cli
