// Compression of dataset-list blobs: streams that zlib reads and writes alike,
// round trips across the 1 MiB block size, zlib's errors as
// EZDecompressionError, and the inflation bound and budget.
#include "rest/datasets/ZLibStreams.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "support/XorShift.h"

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

// zlib's own inflation of what ZCompress writes, and of what zlib writes.
std::string ZlibInflate(std::string_view AStream, std::size_t ASize) {
  std::string out(ASize, '\0');
  uLongf outLen = static_cast<uLongf>(ASize);
  uLong inLen = static_cast<uLong>(AStream.size());
  const int rc = uncompress2(reinterpret_cast<Bytef*>(out.data()), &outLen,
                             reinterpret_cast<const Bytef*>(AStream.data()), &inLen);
  if (rc != Z_OK) return "zlib error " + std::to_string(rc);
  out.resize(outLen);
  return out;
}

std::string ZlibDeflate(std::string_view AData) {
  std::string out(compressBound(static_cast<uLong>(AData.size())), '\0');
  uLongf outLen = static_cast<uLongf>(out.size());
  EXPECT_EQ(Z_OK, compress2(reinterpret_cast<Bytef*>(out.data()), &outLen,
                            reinterpret_cast<const Bytef*>(AData.data()),
                            static_cast<uLong>(AData.size()), 6));
  out.resize(outLen);
  return out;
}

TEST(ZLib, StreamsAreZlibStreamsAtLevel6BothWays) {
  for (std::size_t n : {std::size_t{0}, std::size_t{1000}, 3 * kZBlockSize + 17}) {
    SCOPED_TRACE(n);
    const std::string data = Mixed(n);
    const std::string z = ZCompress(data);
    ASSERT_GE(z.size(), 2u);
    // Deflate, 32 KiB window, level 6: the header zlib's level 6 writes.
    EXPECT_EQ('\x78', z[0]);
    EXPECT_EQ('\x9C', z[1]);
    EXPECT_EQ(data, ZlibInflate(z, n));
    // zlib's level 6 within a few percent, so blobs stay the size they were.
    const std::string ref = ZlibDeflate(data);
    EXPECT_LE(z.size(), ref.size() + ref.size() / 20 + 16);
    EXPECT_EQ(data, ZDecompress(ref));
    EXPECT_EQ(data, ZDecompress(z));
  }
}

TEST(ZLib, IncompressibleInputGrowsItsOutput) {
  std::string data(5 * kZBlockSize, '\0');
  test::TXorShift next(1);
  for (auto& c : data) c = static_cast<char>(next());
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
  } catch (const EZInflationBudgetError& e) {
    EXPECT_STREQ("Inflated data exceeds 1048576 bytes", e.what());
  }
  EXPECT_EQ(4 * kZBlockSize, ZDecompress(bomb, 4 * kZBlockSize).size());
  // Output beyond the first guess, of a size no doubling of it meets.
  const std::string odd(4 * kZBlockSize + 12345, 'x');
  EXPECT_EQ(odd, ZDecompress(ZCompress(odd)));
}

TEST(ZLib, BudgetIsSharedByItsInflations) {
  const std::string one = ZCompress(Mixed(kZBlockSize));
  TInflationBudget budget(kZBlockSize * 3 / 2, "All of it exceeds %d bytes");
  EXPECT_EQ(kZBlockSize, ZDecompressBytes(one, budget).Size());
  EXPECT_EQ(kZBlockSize, budget.Spent());
  EXPECT_EQ(kZBlockSize / 2, budget.Remaining());
  try {
    ZDecompressBytes(one, budget);
    FAIL() << "no exception";
  } catch (const EZInflationBudgetError& e) {
    EXPECT_EQ(Format("All of it exceeds %d bytes", kZBlockSize * 3 / 2), e.what());
  }
  // A damaged stream within the budget still gives zlib's message, and is
  // no budget failure (a server answers the two differently).
  std::string badCheck = ZCompress("abc");
  badCheck.back() ^= 0x01;
  EXPECT_THROW(
      {
        try {
          ZDecompressBytes(badCheck, budget);
        } catch (const EZDecompressionError& e) {
          EXPECT_STREQ("incorrect data check", e.what());
          EXPECT_EQ(nullptr, dynamic_cast<const EZInflationBudgetError*>(&e));
          throw;
        }
      },
      EZDecompressionError);
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
