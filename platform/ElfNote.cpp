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
constexpr std::uint32_t kShtNote = 7;
constexpr std::uint32_t kPtNote = 4;
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

// Where the ELF header and its tables keep what the lookup needs, per class
// (offsets in bytes from the start of the header or table entry).
struct TElfLayout {
  std::size_t HeaderSize, PhOff, ShOff, PhEntSize, PhNum, ShEntSize, ShNum, AddrSize;
  std::size_t ShdrSize, ShType, ShOffset, ShSize, ShAlign;
  std::size_t PhdrSize, PType, POffset, PFileSz, PAlign;
};

constexpr TElfLayout kElf32{.HeaderSize = 52,
                            .PhOff = 28,
                            .ShOff = 32,
                            .PhEntSize = 42,
                            .PhNum = 44,
                            .ShEntSize = 46,
                            .ShNum = 48,
                            .AddrSize = 4,
                            .ShdrSize = 40,
                            .ShType = 4,
                            .ShOffset = 16,
                            .ShSize = 20,
                            .ShAlign = 32,
                            .PhdrSize = 32,
                            .PType = 0,
                            .POffset = 4,
                            .PFileSz = 16,
                            .PAlign = 28};
constexpr TElfLayout kElf64{.HeaderSize = 64,
                            .PhOff = 32,
                            .ShOff = 40,
                            .PhEntSize = 54,
                            .PhNum = 56,
                            .ShEntSize = 58,
                            .ShNum = 60,
                            .AddrSize = 8,
                            .ShdrSize = 64,
                            .ShType = 4,
                            .ShOffset = 24,
                            .ShSize = 32,
                            .ShAlign = 48,
                            .PhdrSize = 56,
                            .PType = 0,
                            .POffset = 8,
                            .PFileSz = 32,
                            .PAlign = 48};

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
    const std::uint64_t shOff = Le(AHeader + L.ShOff, L.AddrSize);
    const std::uint64_t shEntSize = Le(AHeader + L.ShEntSize, 2);
    std::uint64_t shNum = Le(AHeader + L.ShNum, 2);
    std::vector<std::uint8_t> table;
    if (shOff != 0) {
      if (shNum == 0) {
        // Extended numbering: the real count is the size of section 0.
        if (!ReadTable(FFd, FFileSize, shOff, 1, shEntSize, L.ShdrSize, table)) {
          return TScan::Damaged;
        }
        shNum = Le(table.data() + L.ShSize, L.AddrSize);
      }
      if (!ReadTable(FFd, FFileSize, shOff, shNum, shEntSize, L.ShdrSize, table)) {
        return TScan::Damaged;
      }
      for (std::uint64_t i = 0; i < shNum; ++i) {
        const std::uint8_t* sh = table.data() + i * shEntSize;
        if (Le(sh + L.ShType, 4) != kShtNote) continue;
        const TScan scan = ScanArea(Le(sh + L.ShOffset, L.AddrSize), Le(sh + L.ShSize, L.AddrSize),
                                    Le(sh + L.ShAlign, L.AddrSize));
        if (scan != TScan::Absent) return scan;
      }
      return TScan::Absent;
    }
    const std::uint64_t phOff = Le(AHeader + L.PhOff, L.AddrSize);
    const std::uint64_t phNum = Le(AHeader + L.PhNum, 2);
    const std::uint64_t phEntSize = Le(AHeader + L.PhEntSize, 2);
    if (phOff == 0 || phNum == 0) return TScan::Absent;
    if (!ReadTable(FFd, FFileSize, phOff, phNum, phEntSize, L.PhdrSize, table)) {
      return TScan::Damaged;
    }
    for (std::uint64_t i = 0; i < phNum; ++i) {
      const std::uint8_t* ph = table.data() + i * phEntSize;
      if (Le(ph + L.PType, 4) != kPtNote) continue;
      const TScan scan = ScanArea(Le(ph + L.POffset, L.AddrSize), Le(ph + L.PFileSz, L.AddrSize),
                                  Le(ph + L.PAlign, L.AddrSize));
      if (scan != TScan::Absent) return scan;
    }
    return TScan::Absent;
  }

  // The description of the note found by Run.
  std::vector<std::uint8_t>& Desc() { return FDesc; }

 private:
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
