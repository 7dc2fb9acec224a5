// zlib compression and inflation; see ZLibStreams.h. zlib error codes are
// turned into exceptions in one place (RaiseZError).
#include "rest/datasets/ZLibStreams.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

namespace qvr::rest {

namespace {

constexpr int kLevel = 6;
constexpr int kWindowBits = 15;
constexpr int kMemLevel = 8;

template <typename E>
[[noreturn]] void RaiseZError(int ACode, const z_stream* AStream) {
  // zlib's own text: the stream's message when it set one, else the code's.
  const char* msg = AStream != nullptr && AStream->msg != nullptr ? AStream->msg : zError(ACode);
  throw E(msg != nullptr ? msg : "zlib error");
}

// Owns one z_stream set up for deflate or inflate; ends it exactly once.
class TZStream {
 public:
  enum class TKind { Deflate, Inflate };
  explicit TZStream(TKind AKind) : FKind(AKind) {
    FStream = std::make_unique<z_stream>();
    const int rc = AKind == TKind::Deflate
                       ? deflateInit2(FStream.get(), kLevel, Z_DEFLATED, kWindowBits, kMemLevel,
                                      Z_DEFAULT_STRATEGY)
                       : inflateInit2(FStream.get(), kWindowBits);
    if (rc != Z_OK) {
      if (AKind == TKind::Deflate) RaiseZError<EZCompressionError>(rc, FStream.get());
      RaiseZError<EZDecompressionError>(rc, FStream.get());
    }
  }
  ~TZStream() {
    if (FStream) FKind == TKind::Deflate ? deflateEnd(FStream.get()) : inflateEnd(FStream.get());
  }
  TZStream(const TZStream&) = delete;
  TZStream& operator=(const TZStream&) = delete;
  z_stream* operator->() { return FStream.get(); }
  z_stream* Get() { return FStream.get(); }

 private:
  TKind FKind;
  std::unique_ptr<z_stream> FStream;
};

// Feeds the source to zlib in blocks of kZBlockSize.
class TBlockFeeder {
 public:
  explicit TBlockFeeder(std::string_view ASource) : FSource(ASource) {}
  bool Empty() const { return FPos >= FSource.size(); }
  void Next(z_stream* AStream) {
    const std::size_t n = std::min(kZBlockSize, FSource.size() - FPos);
    AStream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(FSource.data() + FPos));
    AStream->avail_in = static_cast<uInt>(n);
    FPos += n;
  }

 private:
  std::string_view FSource;
  std::size_t FPos = 0;
};

void WriteAll(TStream& ADest, std::string_view ABytes) {
  for (std::size_t pos = 0; pos < ABytes.size(); pos += kZBlockSize) {
    ADest.Write(ABytes.data() + pos, std::min(kZBlockSize, ABytes.size() - pos));
  }
}

}  // namespace

std::string ZCompress(std::string_view ASource) {
  TZStream z(TZStream::TKind::Deflate);
  // zlib's bound never needs growing, but filling all of it costs as much as
  // the compression of a large table saves; tables shrink well below half, so
  // large inputs start there and grow (up to the bound) only when they do not.
  const std::size_t bound = deflateBound(z.Get(), static_cast<uLong>(ASource.size()));
  std::string out(ASource.size() < 4 * kZBlockSize ? bound : ASource.size() / 2 + 65536, '\0');
  std::size_t used = 0;
  TBlockFeeder feeder(ASource);
  int rc = Z_OK;
  do {
    if (z->avail_in == 0 && !feeder.Empty()) feeder.Next(z.Get());
    if (used == out.size()) out.resize(std::max(bound, out.size() + kZBlockSize));
    z->next_out = reinterpret_cast<Bytef*>(out.data() + used);
    const std::size_t room = std::min<std::size_t>(out.size() - used, 0xFFFFFFFFu);
    z->avail_out = static_cast<uInt>(room);
    rc = deflate(z.Get(), feeder.Empty() && z->avail_in == 0 ? Z_FINISH : Z_NO_FLUSH);
    used += room - z->avail_out;
    if (rc == Z_STREAM_ERROR) RaiseZError<EZCompressionError>(rc, z.Get());
  } while (rc != Z_STREAM_END);
  out.resize(used);
  return out;
}

std::string ZDecompress(std::string_view ASource, std::size_t AMaxSize) {
  TZStream z(TZStream::TKind::Inflate);
  // A first guess that fits typical tables without growing; growth doubles.
  std::string out(std::min(AMaxSize, std::max<std::size_t>(ASource.size() * 4, 4096)), '\0');
  std::size_t used = 0;
  TBlockFeeder feeder(ASource);
  for (;;) {
    if (z->avail_in == 0 && !feeder.Empty()) feeder.Next(z.Get());
    if (used == out.size()) {
      if (out.size() >= AMaxSize) {
        throw EZDecompressionError(Format("Inflated data exceeds %d bytes", AMaxSize));
      }
      out.resize(std::min(AMaxSize, out.size() * 2));
    }
    z->next_out = reinterpret_cast<Bytef*>(out.data() + used);
    const std::size_t room = std::min<std::size_t>(out.size() - used, 0xFFFFFFFFu);
    z->avail_out = static_cast<uInt>(room);
    const int rc = inflate(z.Get(), Z_NO_FLUSH);
    used += room - z->avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_OK) continue;
    // Z_BUF_ERROR means no progress: input exhausted (stream cut short) or
    // output full (grown on the next turn).
    if (rc == Z_BUF_ERROR && z->avail_out == 0) continue;
    if (rc == Z_BUF_ERROR && feeder.Empty() && z->avail_in == 0) {
      RaiseZError<EZDecompressionError>(rc, nullptr);
    }
    if (rc == Z_BUF_ERROR) continue;
    RaiseZError<EZDecompressionError>(rc, z.Get());
  }
  out.resize(used);
  return out;
}

void ZCompressStream(TStream& ASource, TStream& ADest) {
  WriteAll(ADest, ZCompress(ReadToEnd(ASource)));
}

void ZDecompressStream(TStream& ASource, TStream& ADest, std::size_t AMaxSize) {
  WriteAll(ADest, ZDecompress(ReadToEnd(ASource), AMaxSize));
}

}  // namespace qvr::rest
