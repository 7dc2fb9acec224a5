// Blob compression and inflation; see ZLibStreams.h. libdeflate works on whole
// buffers only: it cannot stop when output runs out and go on with more, so an
// inflation whose size is unknown starts with a generous buffer and, when that
// is too small, starts again with one twice as large, never beyond the bound.
// zlib's error codes become exceptions in one place (RaiseZError).
#include "rest/datasets/ZLibStreams.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>

namespace qvr::rest {

namespace {

constexpr int kLevel = 6;
constexpr int kWindowBits = 15;

template <typename E>
[[noreturn]] void RaiseZError(int ACode, const z_stream* AStream) {
  // zlib's own text: the stream's message when it set one, else the code's.
  const char* msg = AStream != nullptr && AStream->msg != nullptr ? AStream->msg : zError(ACode);
  throw E(msg != nullptr ? msg : "zlib error");
}

// libdeflate's compressor holds about a megabyte of tables, so each thread
// keeps one rather than building it for every blob.
struct TCompressorDeleter {
  void operator()(libdeflate_compressor* AValue) const noexcept {
    libdeflate_free_compressor(AValue);
  }
};
struct TDecompressorDeleter {
  void operator()(libdeflate_decompressor* AValue) const noexcept {
    libdeflate_free_decompressor(AValue);
  }
};

libdeflate_compressor& Compressor() {
  thread_local std::unique_ptr<libdeflate_compressor, TCompressorDeleter> compressor(
      libdeflate_alloc_compressor(kLevel));
  if (!compressor) throw EZCompressionError(zError(Z_MEM_ERROR));
  return *compressor;
}

libdeflate_decompressor& Decompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, TDecompressorDeleter> decompressor(
      libdeflate_alloc_decompressor());
  if (!decompressor) throw EZDecompressionError(zError(Z_MEM_ERROR));
  return *decompressor;
}

std::unique_ptr<char[]> Allocate(std::size_t ASize) {
  return std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(ASize, 1));
}

// Owns one z_stream set up for inflation; ends it exactly once.
class TZInflater {
 public:
  TZInflater() {
    const int rc = inflateInit2(&FStream, kWindowBits);
    if (rc != Z_OK) RaiseZError<EZDecompressionError>(rc, &FStream);
  }
  ~TZInflater() { inflateEnd(&FStream); }
  TZInflater(const TZInflater&) = delete;
  TZInflater& operator=(const TZInflater&) = delete;
  z_stream* operator->() { return &FStream; }
  z_stream* Get() { return &FStream; }

 private:
  z_stream FStream{};
};

// zlib's inflation of a stream libdeflate refused: raises zlib's message for
// the stream's fault, or returns what zlib made of it (a stream zlib accepts
// is read as it always was). The output grows by doubling up to the budget's
// remainder; zlib is handed at most 1 GiB per call, within its 32-bit counts.
TZBytes InflateWithZlib(std::string_view ASource, TInflationBudget& ABudget) {
  const std::size_t limit = ABudget.Remaining();
  TZInflater z;
  std::size_t capacity = std::min(limit, std::max<std::size_t>(ASource.size() * 4, 4096));
  std::unique_ptr<char[]> out = Allocate(capacity);
  std::size_t used = 0;
  std::size_t fed = 0;
  for (;;) {
    if (z->avail_in == 0 && fed < ASource.size()) {
      const std::size_t n = std::min(kZMaxInflatedSize, ASource.size() - fed);
      z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(ASource.data() + fed));
      z->avail_in = static_cast<uInt>(n);
      fed += n;
    }
    if (used == capacity) {
      if (capacity >= limit) ABudget.RaiseExceeded();
      const std::size_t grown = std::min(limit, capacity * 2);
      std::unique_ptr<char[]> bigger = Allocate(grown);
      std::copy_n(out.get(), used, bigger.get());
      out = std::move(bigger);
      capacity = grown;
    }
    z->next_out = reinterpret_cast<Bytef*>(out.get() + used);
    const std::size_t room = std::min(capacity - used, kZMaxInflatedSize);
    z->avail_out = static_cast<uInt>(room);
    const int rc = inflate(z.Get(), Z_NO_FLUSH);
    used += room - z->avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_OK) continue;
    // Z_BUF_ERROR means no progress: input exhausted (stream cut short) or
    // output full (grown on the next turn).
    if (rc == Z_BUF_ERROR && z->avail_out == 0) continue;
    if (rc == Z_BUF_ERROR && fed >= ASource.size() && z->avail_in == 0) {
      RaiseZError<EZDecompressionError>(rc, nullptr);
    }
    if (rc == Z_BUF_ERROR) continue;
    RaiseZError<EZDecompressionError>(rc, z.Get());
  }
  ABudget.Spend(used);
  return TZBytes(std::move(out), used);
}

std::string ToString(const TZBytes& ABytes) { return std::string(ABytes.View()); }

void WriteAll(TStream& ADest, std::string_view ABytes) {
  for (std::size_t pos = 0; pos < ABytes.size(); pos += kZBlockSize) {
    ADest.Write(ABytes.data() + pos, std::min(kZBlockSize, ABytes.size() - pos));
  }
}

}  // namespace

void TInflationBudget::RaiseExceeded() const {
  throw EZInflationBudgetError(Format(FMessage, FLimit));
}

TZBytes ZCompressBytes(std::string_view ASource) {
  libdeflate_compressor& compressor = Compressor();
  const std::size_t bound = libdeflate_zlib_compress_bound(&compressor, ASource.size());
  std::unique_ptr<char[]> out = Allocate(bound);
  const std::size_t size =
      libdeflate_zlib_compress(&compressor, ASource.data(), ASource.size(), out.get(), bound);
  // The bound always suffices; no output means the library broke its word.
  if (size == 0) throw EZCompressionError(zError(Z_BUF_ERROR));
  return TZBytes(std::move(out), size);
}

std::string ZCompress(std::string_view ASource) { return ToString(ZCompressBytes(ASource)); }

TZBytes ZDecompressBytes(std::string_view ASource, TInflationBudget& ABudget) {
  libdeflate_decompressor& decompressor = Decompressor();
  const std::size_t limit = ABudget.Remaining();
  // Stored tables shrink to about a third; a guess of four times the input
  // mostly fits at once.
  std::size_t capacity = std::min(limit, std::max<std::size_t>(ASource.size() * 4, 65536));
  for (;;) {
    std::unique_ptr<char[]> out = Allocate(capacity);
    std::size_t consumed = 0;
    std::size_t produced = 0;
    const libdeflate_result rc = libdeflate_zlib_decompress_ex(
        &decompressor, ASource.data(), ASource.size(), out.get(), capacity, &consumed, &produced);
    if (rc == LIBDEFLATE_SUCCESS) {
      ABudget.Spend(produced);
      return TZBytes(std::move(out), produced);
    }
    if (rc != LIBDEFLATE_INSUFFICIENT_SPACE) break;
    if (capacity >= limit) ABudget.RaiseExceeded();
    capacity = capacity > limit / 2 ? limit : capacity * 2;
  }
  return InflateWithZlib(ASource, ABudget);
}

std::string ZDecompress(std::string_view ASource, std::size_t AMaxSize) {
  TInflationBudget budget(AMaxSize);
  return ToString(ZDecompressBytes(ASource, budget));
}

void ZCompressStream(TStream& ASource, TStream& ADest) {
  WriteAll(ADest, ZCompressBytes(ReadToEnd(ASource)).View());
}

void ZDecompressStream(TStream& ASource, TStream& ADest, std::size_t AMaxSize) {
  TInflationBudget budget(AMaxSize);
  WriteAll(ADest, ZDecompressBytes(ReadToEnd(ASource), budget).View());
}

}  // namespace qvr::rest
