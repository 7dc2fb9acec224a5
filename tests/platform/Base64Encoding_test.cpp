// Base64 of dataset-list blobs: the alphabet and padding, the CR LF after
// every 76th character, the decoder that skips what is outside the alphabet,
// and the process-wide encoder's first-use race.
#include "platform/Base64Encoding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qvr {
namespace {

// Declared first: the encoder must not exist yet when the threads race for it.
TEST(Base64Instance, ConcurrentFirstUseYieldsOneInstanceAndReleasesTheLosers) {
  if (TBase64Encoding::LiveInstances() != 0) {
    GTEST_SKIP() << "the encoder already exists (tests shuffled or filtered)";
  }
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<TBase64Encoding*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      seen[static_cast<std::size_t>(i)] = &TBase64Encoding::Base64();
    });
  }
  for (auto& t : threads) t.join();
  for (auto* p : seen) EXPECT_EQ(seen[0], p);
  EXPECT_EQ(1, TBase64Encoding::LiveInstances());
  EXPECT_EQ(seen[0], &TBase64Encoding::Base64());
}

std::string Bytes(std::size_t ACount) {
  std::string s(ACount, '\0');
  for (std::size_t i = 0; i < ACount; ++i) s[i] = static_cast<char>(i * 37 + 11);
  return s;
}

// Vectors of RFC 4648, section 10.
TEST(Base64, StandardVectors) {
  const std::pair<const char*, const char*> rows[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  auto& b64 = TBase64Encoding::Base64();
  for (const auto& [plain, coded] : rows) {
    EXPECT_EQ(coded, b64.Encode(plain));
    EXPECT_EQ(plain, b64.Decode(coded));
  }
  EXPECT_EQ("+/+/", b64.Encode("\xFB\xFF\xBF"));
}

// Length and ending by input size: a CR LF follows every 19th complete group,
// also the last one, never a padded final group.
TEST(Base64, LineBreaks) {
  struct Row {
    std::size_t Bytes;
    std::size_t Chars;
    const char* Ending;
  };
  const Row rows[] = {
      {56, 76, "="},       // 18 groups and a padded one: no break
      {57, 78, "\r\n"},    // exactly 19 groups: break at the end
      {58, 82, "=="},      // 76, break, then "xx=="
      {59, 82, "="},       // 76, break, then "xxx="
      {60, 82, ""},        // 76, break, then one complete group
      {114, 156, "\r\n"},  // two full lines
      {1000, 1000 / 3 * 4 + 4 + 2 * (333 / 19), "=="},
  };
  auto& b64 = TBase64Encoding::Base64();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Bytes);
    const std::string text = b64.Encode(Bytes(r.Bytes));
    EXPECT_EQ(r.Chars, text.size());
    EXPECT_EQ(r.Chars, TBase64Encoding::EncodedLength(r.Bytes));
    const std::string ending(r.Ending);
    EXPECT_EQ(ending, text.substr(text.size() - ending.size()));
    if (r.Bytes >= 57) {
      EXPECT_EQ("\r\n", text.substr(76, 2));
    }
    EXPECT_EQ(Bytes(r.Bytes), b64.Decode(text));
  }
  // The final padded group right after a break ends the text without another.
  const std::string t58 = b64.Encode(Bytes(58));
  EXPECT_EQ(std::string::npos, t58.find('\r', 77));
}

TEST(Base64, EncodeLineIsTheSameTextWithoutBreaks) {
  auto& b64 = TBase64Encoding::Base64();
  EXPECT_EQ(b64.EncodeLine("kiosco:clave"), "a2lvc2NvOmNsYXZl");  // base64 of the pair
  for (std::size_t n : {0u, 1u, 56u, 57u, 58u, 114u, 1000u}) {
    std::string expected = b64.Encode(Bytes(n));
    std::erase(expected, '\r');
    std::erase(expected, '\n');
    EXPECT_EQ(b64.EncodeLine(Bytes(n)), expected) << n;
  }
}

TEST(Base64, DecoderSkipsEverythingOutsideTheAlphabet) {
  auto& b64 = TBase64Encoding::Base64();
  const std::string data = Bytes(500);
  const std::string text = b64.Encode(data);
  std::string noBreaks, spaced, noisy;
  for (char c : text) {
    if (c != '\r' && c != '\n') noBreaks += c;
  }
  for (std::size_t i = 0; i < noBreaks.size(); ++i) {
    spaced += noBreaks[i];
    if (i % 3 == 0) spaced += ' ';
    noisy += noBreaks[i];
    if (i % 5 == 0) noisy += "\t\xC3\xA9-_*\n";
  }
  EXPECT_EQ(data, b64.Decode(noBreaks));
  EXPECT_EQ(data, b64.Decode(spaced));
  EXPECT_EQ(data, b64.Decode(noisy));
  EXPECT_EQ("f", b64.Decode("Zg"));  // padding not needed
  EXPECT_EQ("f", b64.Decode("Z g = = "));
  EXPECT_EQ("foo", b64.Decode("Zm9vZ"));  // a lone final character forms no byte
  EXPECT_EQ("", b64.Decode("===\r\n"));
}

TEST(Base64, RoundTripOfEverySizeUpTo300) {
  auto& b64 = TBase64Encoding::Base64();
  for (std::size_t n = 0; n <= 300; ++n) {
    const std::string data = Bytes(n);
    const std::string text = b64.Encode(data);
    ASSERT_EQ(TBase64Encoding::EncodedLength(n), text.size()) << n;
    ASSERT_EQ(data, b64.Decode(text)) << n;
  }
}

// Every byte value at every place of a block of sixteen characters, inside
// whole lines and out of them: the decoder reads alphabet characters and skips
// the rest, whichever way it takes through the text.
TEST(Base64, EveryByteValueAtEveryPlaceOfABlock) {
  auto& b64 = TBase64Encoding::Base64();
  const std::string data = Bytes(57 * 3 + 20);
  const std::string text = b64.Encode(data);  // three whole lines and a part
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  int mismatches = 0;
  for (std::size_t place : {0u, 5u, 15u, 16u, 31u, 47u, 60u, 63u, 70u, 75u, 78u + 17, 234u + 3}) {
    for (int v = 0; v < 256; ++v) {
      std::string changed = text;
      changed.insert(place, 1, static_cast<char>(v));
      std::string expected;
      if (alphabet.find(static_cast<char>(v)) == std::string::npos) {
        expected = data;  // skipped
      } else {
        // The character joins the text: decode the alphabet characters alone.
        std::string kept;
        for (char c : changed) {
          if (alphabet.find(c) != std::string::npos) kept += c;
        }
        expected = b64.Decode(kept);
      }
      if (b64.Decode(changed) != expected && ++mismatches <= 5) {
        ADD_FAILURE() << "byte " << v << " at " << place;
      }
    }
  }
  EXPECT_EQ(0, mismatches);
}

TEST(Base64, DecodeToWritesTheSameBytesWithinItsCapacity) {
  auto& b64 = TBase64Encoding::Base64();
  for (std::size_t n : {0u, 1u, 12u, 57u, 58u, 4000u}) {
    const std::string text = b64.Encode(Bytes(n));
    std::string out(TBase64Encoding::DecodedCapacity(text.size()), '\x55');
    out.resize(b64.DecodeTo(text, out.data()));
    EXPECT_EQ(Bytes(n), out) << n;
  }
}

}  // namespace
}  // namespace qvr
