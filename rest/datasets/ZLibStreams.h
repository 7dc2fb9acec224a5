// Compression of dataset-list blobs: a zlib stream (RFC 1950) with the deflate
// method, a 32 KiB window and compression level 6, so it begins 78 9C; and
// inflation to the end of such a stream. libdeflate does the work over whole
// buffers, about three times as fast as zlib; zlib itself is asked only when
// libdeflate refuses a stream, so that a failure carries zlib's own message
// (EZDecompressionError "incorrect header check", ...) and a stream zlib
// accepts is never refused.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Streams.h"
#include "rest/datasets/DataSetListExceptions.h"

namespace qvr::rest {

// The stream forms read their source and write their result in blocks of this size.
inline constexpr std::size_t kZBlockSize = 1048576;
// Inflation stops with EZInflationBudgetError beyond this many bytes unless
// the caller gives another bound, so a small hostile blob cannot claim
// unbounded memory.
inline constexpr std::size_t kZMaxInflatedSize = std::size_t{1} << 30;

// Bytes whose final size is not known when their buffer is allocated: the
// buffer is not cleared first, and only Size() bytes of it are meaningful.
class TZBytes {
 public:
  TZBytes() = default;
  TZBytes(std::unique_ptr<char[]> AData, std::size_t ASize) noexcept
      : FData(std::move(AData)), FSize(ASize) {}
  const char* Data() const noexcept { return FData.get(); }
  std::size_t Size() const noexcept { return FSize; }
  std::string_view View() const noexcept { return {FData.get(), FSize}; }

 private:
  std::unique_ptr<char[]> FData;
  std::size_t FSize = 0;
};

// What a group of inflations (the blobs that one unmarshalling call reads)
// may produce in all. Each inflation may use what is left; beyond it
// inflation stops with EZInflationBudgetError AMessage, in which %d stands
// for the limit. The output buffer never grows beyond what is left, so the
// bound holds while inflating, not after.
class TInflationBudget {
 public:
  explicit TInflationBudget(std::size_t ALimit,
                            std::string AMessage = "Inflated data exceeds %d bytes")
      : FLimit(ALimit), FMessage(std::move(AMessage)) {}
  std::size_t Spent() const noexcept { return FSpent; }
  std::size_t Remaining() const noexcept { return FLimit - FSpent; }
  // Counts ABytes (at most Remaining()) as produced.
  void Spend(std::size_t ABytes) noexcept { FSpent += ABytes < Remaining() ? ABytes : Remaining(); }
  [[noreturn]] void RaiseExceeded() const;

 private:
  std::size_t FLimit;
  std::size_t FSpent = 0;
  std::string FMessage;
};

// ASource as one finished zlib stream.
std::string ZCompress(std::string_view ASource);
TZBytes ZCompressBytes(std::string_view ASource);

// The bytes of the zlib stream at the start of ASource, inflated to its end
// (bytes after the end are ignored). Raises EZDecompressionError with zlib's
// message for invalid data ("incorrect header check", ...), "buffer error" for
// a stream cut short, and EZInflationBudgetError "Inflated data exceeds %d
// bytes" beyond AMaxSize.
std::string ZDecompress(std::string_view ASource, std::size_t AMaxSize = kZMaxInflatedSize);
// The same within what is left of ABudget, which it spends; beyond it the
// budget's own failure.
TZBytes ZDecompressBytes(std::string_view ASource, TInflationBudget& ABudget);

// Stream forms: read ASource from its position to its end in blocks of 1 MiB
// and write the result to ADest at its position. Same failures as above.
void ZCompressStream(TStream& ASource, TStream& ADest);
void ZDecompressStream(TStream& ASource, TStream& ADest, std::size_t AMaxSize = kZMaxInflatedSize);

}  // namespace qvr::rest
