// zlib compression of dataset-list blobs: the stream's settings, round trips
// across the 1 MiB block size, and zlib's errors as EZDecompressionError.
#include "rest/datasets/ZLibStreams.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace qvr::rest {
namespace {

std::string Mixed(std::size_t ACount) {
  std::string s(ACount, '\0');
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < ACount; ++i) {
    x = x * 1103515245u + 12345u;
    // Text-like bytes: compressible, but not trivially.
    s[i] = static_cast<char>('a' + (x >> 16) % 20);
  }
  return s;
}

std::string DecompressError(std::string_view ABytes) {
  try {
    ZDecompress(ABytes);
  } catch (const EZDecompressionError& e) {
    return e.what();
  }
  return "no error";
}

TEST(ZLib, StreamHeaderAndSameBytesAsOneCallAtLevel6) {
  for (std::size_t n : {std::size_t{0}, std::size_t{1000}, 3 * kZBlockSize + 17}) {
    SCOPED_TRACE(n);
    const std::string data = Mixed(n);
    const std::string z = ZCompress(data);
    ASSERT_GE(z.size(), 2u);
    EXPECT_EQ('\x78', z[0]);
    EXPECT_EQ('\x9C', z[1]);
    // zlib's one-call compress2 uses window bits 15, memory level 8 and the
    // default strategy: feeding 1 MiB blocks must not change a single byte.
    std::string ref(compressBound(static_cast<uLong>(n)), '\0');
    uLongf refLen = static_cast<uLongf>(ref.size());
    ASSERT_EQ(Z_OK,
              compress2(reinterpret_cast<Bytef*>(ref.data()), &refLen,
                        reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(n), 6));
    ref.resize(refLen);
    EXPECT_EQ(ref, z);
    EXPECT_EQ(data, ZDecompress(z));
  }
}

TEST(ZLib, IncompressibleInputGrowsItsOutput) {
  std::string data(5 * kZBlockSize, '\0');
  std::uint64_t x = 1;
  for (auto& c : data) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x);
  }
  EXPECT_EQ(data, ZDecompress(ZCompress(data)));
}

TEST(ZLib, ErrorsCarryZlibsMessage) {
  const std::string good = ZCompress(Mixed(5000));
  std::string flipped = good;
  flipped[good.size() / 2] ^= 0x55;
  std::string badCheck = good;
  badCheck[good.size() - 1] ^= 0x01;
  EXPECT_EQ("incorrect header check", DecompressError("hello world"));
  EXPECT_EQ("buffer error", DecompressError(""));
  EXPECT_EQ("buffer error", DecompressError(good.substr(0, good.size() / 2)));
  EXPECT_EQ("incorrect data check", DecompressError(badCheck));
  EXPECT_NE("no error", DecompressError(flipped));
  // Bytes after the end of the stream are ignored.
  EXPECT_EQ(Mixed(5000), ZDecompress(good + "trailing"));
}

TEST(ZLib, InflationStopsAtTheLimit) {
  const std::string bomb = ZCompress(std::string(4 * kZBlockSize, 'x'));
  EXPECT_LT(bomb.size(), 10000u);
  try {
    ZDecompress(bomb, kZBlockSize);
    FAIL() << "no exception";
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ("Inflated data exceeds 1048576 bytes", e.what());
  }
  EXPECT_EQ(4 * kZBlockSize, ZDecompress(bomb, 4 * kZBlockSize).size());
}

TEST(ZLib, StreamFormsUseThePositions) {
  const std::string data = Mixed(2 * kZBlockSize + 3);
  TMemoryStream source("skip" + data);
  source.SetPosition(4);
  TMemoryStream packed;
  ZCompressStream(source, packed);
  EXPECT_EQ(ZCompress(data), packed.Bytes());
  packed.SetPosition(0);
  TMemoryStream unpacked;
  ZDecompressStream(packed, unpacked);
  EXPECT_EQ(data, unpacked.Bytes());
}

}  // namespace
}  // namespace qvr::rest
