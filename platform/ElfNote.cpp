// ELF note lookup over pread; see ElfNote.h. Fields are decoded byte by byte
// as little-endian, so the reader does not depend on the host's byte order or
// on the alignment of anything in the file.
#include "platform/ElfNote.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/SysUtils.h"

namespace qvr {

namespace {

constexpr std::uint8_t kElfMagic[4] = {0x7f, 'E', 'L', 'F'};
constexpr std::uint8_t kElfClass32 = 1;
constexpr std::uint8_t kElfClass64 = 2;
constexpr std::uint8_t kElfDataLittle = 1;
constexpr std::size_t kNoteHeaderSize = 12;

// Owns one open file descriptor.
class TFileHandle {
 public:
  explicit TFileHandle(int AFd) : FFd(AFd) {}
  ~TFileHandle() {
    if (FFd >= 0) close(FFd);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  int Fd() const { return FFd; }

 private:
  int FFd;
};

std::uint64_t Le(const std::uint8_t* ABytes, std::size_t ASize) {
  std::uint64_t v = 0;
  for (std::size_t i = ASize; i > 0; --i) v = (v << 8) | ABytes[i - 1];
  return v;
}

// True when [AOffset, AOffset + ASize) lies inside a file of AFileSize bytes;
// written so that no sum can overflow.
bool InFile(std::uint64_t AOffset, std::uint64_t ASize, std::uint64_t AFileSize) {
  return AOffset <= AFileSize && ASize <= AFileSize - AOffset;
}

// Reads exactly ABuffer.size() bytes at AOffset. Returns false when the file
// ends first (it may have shrunk since it was measured); raises EOSError when
// the system refuses the read.
bool ReadAt(int AFd, std::uint64_t AOffset, std::uint8_t* ABuffer, std::size_t ASize) {
  std::size_t done = 0;
  while (done < ASize) {
    const ssize_t n = pread(AFd, ABuffer + done, ASize - done, static_cast<off_t>(AOffset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EOSError(errno);
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Where one table (sections or program headers) is described in the ELF
// header, and where its entries keep what the lookup needs; offsets in bytes
// from the start of the header or of the entry.
struct TTableLayout {
  std::size_t TableOffset, EntrySizeField, CountField;  // in the ELF header
  std::size_t EntrySize;                                // smallest valid entry
  std::size_t Type, Offset, Size, Align;                // in each entry
  std::uint32_t NoteType;                               // type of an entry holding notes
};

struct TElfLayout {
  std::size_t HeaderSize, AddrSize;
  TTableLayout Sections, Segments;
};

constexpr std::uint32_t kShtNote = 7;
constexpr std::uint32_t kPtNote = 4;

constexpr TElfLayout kElf32{.HeaderSize = 52,
                            .AddrSize = 4,
                            .Sections = {.TableOffset = 32,
                                         .EntrySizeField = 46,
                                         .CountField = 48,
                                         .EntrySize = 40,
                                         .Type = 4,
                                         .Offset = 16,
                                         .Size = 20,
                                         .Align = 32,
                                         .NoteType = kShtNote},
                            .Segments = {.TableOffset = 28,
                                         .EntrySizeField = 42,
                                         .CountField = 44,
                                         .EntrySize = 32,
                                         .Type = 0,
                                         .Offset = 4,
                                         .Size = 16,
                                         .Align = 28,
                                         .NoteType = kPtNote}};
constexpr TElfLayout kElf64{.HeaderSize = 64,
                            .AddrSize = 8,
                            .Sections = {.TableOffset = 40,
                                         .EntrySizeField = 58,
                                         .CountField = 60,
                                         .EntrySize = 64,
                                         .Type = 4,
                                         .Offset = 24,
                                         .Size = 32,
                                         .Align = 48,
                                         .NoteType = kShtNote},
                            .Segments = {.TableOffset = 32,
                                         .EntrySizeField = 54,
                                         .CountField = 56,
                                         .EntrySize = 56,
                                         .Type = 0,
                                         .Offset = 8,
                                         .Size = 32,
                                         .Align = 48,
                                         .NoteType = kPtNote}};

enum class TScan { Found, Absent, Damaged };

// Looks for the note in one area already read into ABytes.
TScan ScanNotes(const std::vector<std::uint8_t>& ABytes, std::uint64_t AAlign,
                std::string_view AOwner, std::uint32_t AType, std::vector<std::uint8_t>& ADesc) {
  const std::uint64_t size = ABytes.size();
  const auto alignUp = [AAlign](std::uint64_t v) { return (v + AAlign - 1) & ~(AAlign - 1); };
  std::uint64_t pos = 0;
  while (size - pos >= kNoteHeaderSize) {
    const std::uint8_t* h = ABytes.data() + pos;
    // 32-bit sizes held in 64 bits: aligning them up cannot overflow.
    const std::uint64_t nameSize = Le(h, 4);
    const std::uint64_t descSize = Le(h + 4, 4);
    const std::uint32_t type = static_cast<std::uint32_t>(Le(h + 8, 4));
    // Name and description each start on the area's alignment, counted from
    // the note's start (which is aligned): 8-aligned GNU notes have their
    // description right after a 4-byte name, at offset 16.
    const std::uint64_t nameAt = pos + kNoteHeaderSize;
    const std::uint64_t descOffset = alignUp(kNoteHeaderSize + nameSize);
    if (descOffset > size - pos) return TScan::Damaged;
    const std::uint64_t descAt = pos + descOffset;
    if (descSize > size - descAt) return TScan::Damaged;
    const char* name = reinterpret_cast<const char*>(ABytes.data() + nameAt);
    if (type == AType && nameSize == AOwner.size() + 1 && name[AOwner.size()] == '\0' &&
        std::string_view(name, AOwner.size()) == AOwner) {
      ADesc.assign(ABytes.begin() + static_cast<std::ptrdiff_t>(descAt),
                   ABytes.begin() + static_cast<std::ptrdiff_t>(descAt + descSize));
      return TScan::Found;
    }
    // The last note may lack its padding.
    if (alignUp(descSize) >= size - descAt) break;
    pos = descAt + alignUp(descSize);
  }
  return TScan::Absent;
}

// Reads the table of ACount entries of AEntSize bytes at AOffset; false when it
// does not fit in the file or the entries are too small to hold AMinEntSize.
bool ReadTable(int AFd, std::uint64_t AFileSize, std::uint64_t AOffset, std::uint64_t ACount,
               std::uint64_t AEntSize, std::size_t AMinEntSize, std::vector<std::uint8_t>& ATable) {
  if (AEntSize < AMinEntSize || AOffset > AFileSize) return false;
  // Checked by division so that a count of 65535 or more cannot overflow.
  if (ACount > (AFileSize - AOffset) / AEntSize) return false;
  ATable.resize(static_cast<std::size_t>(ACount * AEntSize));
  return ReadAt(AFd, AOffset, ATable.data(), ATable.size());
}

// One lookup in one open file.
class TNoteLookup {
 public:
  TNoteLookup(int AFd, std::uint64_t AFileSize, std::string_view AOwner, std::uint32_t AType)
      : FFd(AFd), FFileSize(AFileSize), FOwner(AOwner), FType(AType) {}

  // Scans the note sections of the file, or its note segments when it has no
  // section table, in table order.
  TScan Run(const TElfLayout& L, const std::uint8_t* AHeader) {
    const TTableLayout& S = L.Sections;
    const std::uint64_t shOff = Le(AHeader + S.TableOffset, L.AddrSize);
    if (shOff == 0)
      return ScanTable(L, L.Segments, AHeader, Le(AHeader + L.Segments.CountField, 2));
    std::uint64_t shNum = Le(AHeader + S.CountField, 2);
    if (shNum == 0) {
      // Extended numbering: the real count is the size of section 0.
      std::vector<std::uint8_t> first;
      if (!ReadTable(FFd, FFileSize, shOff, 1, Le(AHeader + S.EntrySizeField, 2), S.EntrySize,
                     first)) {
        return TScan::Damaged;
      }
      shNum = Le(first.data() + S.Size, L.AddrSize);
    }
    return ScanTable(L, S, AHeader, shNum);
  }

  // The description of the note found by Run.
  std::vector<std::uint8_t>& Desc() { return FDesc; }

 private:
  // Scans the note areas that the ACount entries of table T point at.
  TScan ScanTable(const TElfLayout& L, const TTableLayout& T, const std::uint8_t* AHeader,
                  std::uint64_t ACount) {
    const std::uint64_t offset = Le(AHeader + T.TableOffset, L.AddrSize);
    const std::uint64_t entrySize = Le(AHeader + T.EntrySizeField, 2);
    if (offset == 0 || ACount == 0) return TScan::Absent;
    std::vector<std::uint8_t> table;
    if (!ReadTable(FFd, FFileSize, offset, ACount, entrySize, T.EntrySize, table)) {
      return TScan::Damaged;
    }
    for (std::uint64_t i = 0; i < ACount; ++i) {
      const std::uint8_t* entry = table.data() + i * entrySize;
      if (Le(entry + T.Type, 4) != T.NoteType) continue;
      const TScan scan = ScanArea(Le(entry + T.Offset, L.AddrSize), Le(entry + T.Size, L.AddrSize),
                                  Le(entry + T.Align, L.AddrSize));
      if (scan != TScan::Absent) return scan;
    }
    return TScan::Absent;
  }

  TScan ScanArea(std::uint64_t AOffset, std::uint64_t ASize, std::uint64_t AAlign) {
    if (!InFile(AOffset, ASize, FFileSize)) return TScan::Damaged;
    // One buffer, reused: at no time larger than the file.
    FBytes.resize(static_cast<std::size_t>(ASize));
    if (!ReadAt(FFd, AOffset, FBytes.data(), FBytes.size())) return TScan::Damaged;
    // Notes are 4-byte aligned except where their area asks for 8 (as the GNU
    // property notes of 64-bit files do).
    return ScanNotes(FBytes, AAlign == 8 ? 8 : 4, FOwner, FType, FDesc);
  }

  int FFd;
  std::uint64_t FFileSize;
  std::string_view FOwner;
  std::uint32_t FType;
  std::vector<std::uint8_t> FBytes;
  std::vector<std::uint8_t> FDesc;
};

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadElfNote(const std::string& AFileName,
                                                     std::string_view AOwner, std::uint32_t AType) {
  // Non-blocking so that a FIFO given by name cannot hang the open.
  const TFileHandle file(open(AFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.Fd() < 0) throw EOSError(errno);
  struct stat st {};
  if (fstat(file.Fd(), &st) != 0) throw EOSError(errno);
  if (S_ISDIR(st.st_mode)) throw EOSError(EISDIR);
  if (!S_ISREG(st.st_mode) || st.st_size <= 0) return std::nullopt;
  const std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);

  std::uint8_t header[64];
  if (fileSize < 16 || !ReadAt(file.Fd(), 0, header, 16)) return std::nullopt;
  if (std::memcmp(header, kElfMagic, sizeof kElfMagic) != 0 || header[5] != kElfDataLittle) {
    return std::nullopt;
  }
  const TElfLayout* layout = header[4] == kElfClass32   ? &kElf32
                             : header[4] == kElfClass64 ? &kElf64
                                                        : nullptr;
  if (layout == nullptr || fileSize < layout->HeaderSize ||
      !ReadAt(file.Fd(), 0, header, layout->HeaderSize)) {
    return std::nullopt;
  }
  TNoteLookup lookup(file.Fd(), fileSize, AOwner, AType);
  if (lookup.Run(*layout, header) != TScan::Found) return std::nullopt;
  return std::move(lookup.Desc());
}

}  // namespace qvr
