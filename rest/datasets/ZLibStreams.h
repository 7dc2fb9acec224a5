// zlib compression as dataset-list blobs use it: a zlib stream (RFC 1950) made
// with level 6, window bits 15, memory level 8 and the default strategy, fed
// in blocks of 1 MiB; and inflation to the end of such a stream. zlib's errors
// become EZCompressionError / EZDecompressionError carrying zlib's own message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Streams.h"
#include "rest/datasets/DataSetListExceptions.h"

namespace qvr::rest {

// Bytes are handed to zlib, and copied between streams, in blocks of this size.
inline constexpr std::size_t kZBlockSize = 1048576;
// Inflation stops with EZDecompressionError beyond this many bytes, so a small
// hostile blob cannot claim unbounded memory.
inline constexpr std::size_t kZMaxInflatedSize = std::size_t{1} << 30;

// ASource as one finished zlib stream.
std::string ZCompress(std::string_view ASource);
// The bytes of the zlib stream at the start of ASource, inflated to its end
// (bytes after the end are ignored). Raises EZDecompressionError with zlib's
// message for invalid data ("incorrect header check", ...), "buffer error" for
// a stream cut short, and "Inflated data exceeds %d bytes" beyond AMaxSize.
std::string ZDecompress(std::string_view ASource, std::size_t AMaxSize = kZMaxInflatedSize);

// Stream forms: read ASource from its position to its end in blocks of 1 MiB
// and write the result to ADest at its position. Same failures as above.
void ZCompressStream(TStream& ASource, TStream& ADest);
void ZDecompressStream(TStream& ASource, TStream& ADest, std::size_t AMaxSize = kZMaxInflatedSize);

}  // namespace qvr::rest
