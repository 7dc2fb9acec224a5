// The HTTP object's progress calls, against a loopback server: what a program
// that shows the progress of long transfers is told about request bodies as
// they are sent and answer bodies as they arrive.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "rest/http/RestHTTP.h"
#include "support/HttpTestServers.h"

namespace qvr::rest {
namespace {

using test::THttpTestServer;

struct TCall {
  TTransferDirection Direction;
  std::int64_t Done;
  std::int64_t Total;
};

// Large enough for many pieces of curl's 16 KiB writes and 64 KiB reads.
constexpr std::size_t kBodySize = 3 * 1024 * 1024 + 17;

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = FServer.Server();
    s.Get("/big", [](const httplib::Request&, httplib::Response& AAnswer) {
      AAnswer.set_content(std::string(kBodySize, 'x'), "text/plain");
    });
    s.Get("/chunked", [](const httplib::Request&, httplib::Response& AAnswer) {
      AAnswer.set_chunked_content_provider("text/plain",
                                           [](std::size_t AOffset, httplib::DataSink& ASink) {
                                             if (AOffset >= 200000) {
                                               ASink.done();
                                               return true;
                                             }
                                             const std::string piece(10000, 'y');
                                             return ASink.write(piece.data(), piece.size());
                                           });
    });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& AAnswer) {
      AAnswer.status = 404;
      AAnswer.set_content(std::string(100000, 'e'), "text/plain");
    });
    s.Get("/moved", [](const httplib::Request&, httplib::Response& AAnswer) {
      AAnswer.status = 302;
      AAnswer.set_header("Location", "/big");
      AAnswer.set_content(std::string(50000, 'r'), "text/plain");
    });
    s.Post("/upload", [](const httplib::Request& ARequest, httplib::Response& AAnswer) {
      AAnswer.set_content(std::to_string(ARequest.body.size()), "text/plain");
    });
    FServer.Start();
    FHTTP.SetOnProgress(
        [this](TTransferDirection ADirection, std::int64_t ADone, std::int64_t ATotal) {
          FCalls.push_back({ADirection, ADone, ATotal});
        });
  }

  std::vector<TCall> Calls(TTransferDirection ADirection) const {
    std::vector<TCall> result;
    for (const TCall& call : FCalls) {
      if (call.Direction == ADirection) result.push_back(call);
    }
    return result;
  }

  // The calls of one direction count up to the end and all name one total.
  static void ExpectRisingTo(const std::vector<TCall>& ACalls, std::int64_t AEnd,
                             std::int64_t ATotal) {
    ASSERT_GT(ACalls.size(), 1u);
    for (std::size_t i = 1; i < ACalls.size(); ++i) EXPECT_GT(ACalls[i].Done, ACalls[i - 1].Done);
    EXPECT_EQ(ACalls.back().Done, AEnd);
    for (const TCall& call : ACalls) EXPECT_EQ(call.Total, ATotal);
  }

  // A proxy configured on the machine would divert the loopback requests.
  test::TNoProxyEnvironment FNoProxy;
  THttpTestServer FServer;
  TRestHTTP FHTTP;
  std::vector<TCall> FCalls;
};

TEST_F(ProgressTest, AnAnswerBodyIsCountedUpToItsAnnouncedLength) {
  TMemoryStream body;
  FHTTP.Get(FServer.Url("/big"), body);
  EXPECT_EQ(body.Size(), static_cast<std::int64_t>(kBodySize));
  EXPECT_TRUE(Calls(TTransferDirection::Sending).empty());
  ExpectRisingTo(Calls(TTransferDirection::Receiving), kBodySize, kBodySize);
}

TEST_F(ProgressTest, AnAnswerWithoutALengthHasNoTotal) {
  TMemoryStream body;
  FHTTP.Get(FServer.Url("/chunked"), body);
  ExpectRisingTo(Calls(TTransferDirection::Receiving), 200000, -1);
}

TEST_F(ProgressTest, ARequestBodyIsCountedAsItIsSent) {
  TMemoryStream source;
  source.Write(std::string(kBodySize, 'u'));
  TMemoryStream answer;
  FHTTP.Post(FServer.Url("/upload"), source, answer);
  EXPECT_EQ(answer.Bytes(), std::to_string(kBodySize));
  ExpectRisingTo(Calls(TTransferDirection::Sending), kBodySize, kBodySize);
}

TEST_F(ProgressTest, BodiesOfRefusalsAndRedirectsAreNotCounted) {
  TMemoryStream body;
  EXPECT_THROW(FHTTP.Get(FServer.Url("/missing"), body), EHTTPProtocolException);
  EXPECT_TRUE(FCalls.empty());
  // Only the final answer's body, not the redirect's.
  FHTTP.Get(FServer.Url("/moved"), body);
  ExpectRisingTo(Calls(TTransferDirection::Receiving), kBodySize, kBodySize);
}

TEST_F(ProgressTest, AnExceptionOfTheCallbackEndsTheRequest) {
  FHTTP.SetOnProgress([](TTransferDirection, std::int64_t ADone, std::int64_t) {
    if (ADone > 100000) throw std::runtime_error("stopped by the user");
  });
  TMemoryStream body;
  try {
    FHTTP.Get(FServer.Url("/big"), body);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& AError) {
    EXPECT_STREQ(AError.what(), "stopped by the user");
  }
  // The object stays usable, and without a callback nothing is called.
  FHTTP.SetOnProgress({});
  FHTTP.Get(FServer.Url("/big"), body);
}

}  // namespace
}  // namespace qvr::rest
