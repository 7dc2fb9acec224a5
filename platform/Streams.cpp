// In-memory stream; see Streams.h.
#include "platform/Streams.h"

#include <algorithm>
#include <cstring>

namespace qvr {

std::string ReadToEnd(TStream& AStream) {
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

std::size_t TMemoryStream::Read(void* ABuffer, std::size_t ACount) {
  if (FPosition >= FData.size()) return 0;
  const std::size_t n = std::min(ACount, FData.size() - FPosition);
  std::memcpy(ABuffer, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

std::size_t TMemoryStream::Write(const void* ABuffer, std::size_t ACount) {
  if (ACount == 0) return 0;
  if (FPosition == FData.size()) {
    FData.append(static_cast<const char*>(ABuffer), ACount);
  } else {
    if (FPosition + ACount > FData.size()) FData.resize(FPosition + ACount);
    std::memcpy(FData.data() + FPosition, ABuffer, ACount);
  }
  FPosition += ACount;
  return ACount;
}

std::int64_t TMemoryStream::Seek(std::int64_t AOffset, TSeekOrigin AOrigin) {
  std::int64_t base = 0;
  if (AOrigin == TSeekOrigin::soCurrent) base = static_cast<std::int64_t>(FPosition);
  if (AOrigin == TSeekOrigin::soEnd) base = static_cast<std::int64_t>(FData.size());
  const std::int64_t pos = std::max<std::int64_t>(0, base + AOffset);
  FPosition = static_cast<std::size_t>(pos);
  return pos;
}

void TMemoryStream::SetSize(std::int64_t ASize) {
  FData.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, ASize)));
  FPosition = std::min(FPosition, FData.size());
}

std::string TMemoryStream::TakeBytes() {
  std::string out = std::move(FData);
  FData.clear();
  FPosition = 0;
  return out;
}

}  // namespace qvr
