// Reading what remains of a stream into memory, for the storage formats that
// parse from a byte buffer. Private to data/.
#pragma once

#include <string>

#include "platform/Streams.h"

namespace qvr::data::detail {

// The bytes of AStream from its position to its end; the position moves to the end.
inline std::string ReadRemainingBytes(TStream& AStream) {
  const std::int64_t position = AStream.Position();
  const std::int64_t size = AStream.Size();
  std::string bytes(static_cast<std::size_t>(size > position ? size - position : 0), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const std::size_t n = AStream.Read(bytes.data() + got, bytes.size() - got);
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace qvr::data::detail
