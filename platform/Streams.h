// Byte streams: the abstract TStream that HTTP bodies, dataset storage and
// blobs are read from and written to, and TMemoryStream, which holds its bytes
// in memory. Streams are move-free objects owned through std::unique_ptr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qvr {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Reads up to ACount bytes at the position; returns how many were read.
  virtual std::size_t Read(void* ABuffer, std::size_t ACount) = 0;
  // Writes ACount bytes at the position, growing the stream as needed.
  virtual std::size_t Write(const void* ABuffer, std::size_t ACount) = 0;
  // Moves the position; returns the new one. Positions are clamped at 0.
  virtual std::int64_t Seek(std::int64_t AOffset, TSeekOrigin AOrigin) = 0;
  virtual std::int64_t Size() const = 0;
  // Cuts or extends the stream to ASize bytes.
  virtual void SetSize(std::int64_t ASize) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t APos) { Seek(APos, TSeekOrigin::soBeginning); }
  void Write(std::string_view ABytes) { Write(ABytes.data(), ABytes.size()); }
};

// The bytes of AStream from its position to its end; the position moves to
// the end.
std::string ReadToEnd(TStream& AStream);

// A stream over an in-memory byte string.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string ABytes) : FData(std::move(ABytes)) {}

  std::size_t Read(void* ABuffer, std::size_t ACount) override;
  std::size_t Write(const void* ABuffer, std::size_t ACount) override;
  using TStream::Write;
  std::int64_t Seek(std::int64_t AOffset, TSeekOrigin AOrigin) override;
  std::int64_t Size() const override { return static_cast<std::int64_t>(FData.size()); }
  void SetSize(std::int64_t ASize) override;
  void Clear() {
    FData.clear();
    FPosition = 0;
  }

  // The whole content, whatever the position.
  const std::string& Bytes() const { return FData; }
  std::string& Bytes() { return FData; }
  // Takes the content out, leaving the stream empty at position 0.
  std::string TakeBytes();

 private:
  std::string FData;
  std::size_t FPosition = 0;
};

}  // namespace qvr
