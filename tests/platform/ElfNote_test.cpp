// The ELF note reader against real executables of this build, small images
// of both classes built here, and a table of damage done to them by cutting
// and patching: every damaged file must read as "no note" without reading out
// of bounds (the sanitizer build checks that) or allocating more than the file.
#include "platform/ElfNote.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include "platform/ElfTestImage.h"
#include "platform/SysUtils.h"
#include "support/TempDir.h"

// Every allocation of the test program goes through these, so that a test can
// learn the largest block the reader asked for.
namespace {
std::atomic<bool> gTrackAllocations{false};
std::atomic<std::size_t> gLargestAllocation{0};
}  // namespace

// GCC sees free() on memory from operator new once these are inlined, not
// knowing that this operator new is malloc underneath.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t ASize) {
  if (gTrackAllocations.load(std::memory_order_relaxed)) {
    std::size_t seen = gLargestAllocation.load();
    while (ASize > seen && !gLargestAllocation.compare_exchange_weak(seen, ASize)) {
    }
  }
  if (void* p = std::malloc(ASize == 0 ? 1 : ASize)) return p;
  throw std::bad_alloc();
}
void operator delete(void* APointer) noexcept { std::free(APointer); }
void operator delete(void* APointer, std::size_t) noexcept { std::free(APointer); }
#pragma GCC diagnostic pop

namespace qvr {
namespace {

using test::BuildElfTestImage;
using test::TElfTestImage;
using test::TElfTestNote;
using test::TTempDir;
using TBytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kVersionType = 1;

// The description the build writes for 10.2.0.117: four little-endian 16-bit
// numbers (cmake/QvrVersionNote.cpp.in).
const TBytes kProbeDesc = {10, 0, 2, 0, 0, 0, 117, 0};
const std::string kProbeDescText("\x0a\x00\x02\x00\x00\x00\x75\x00", 8);

std::optional<TBytes> ReadVersionNote(const std::string& AFileName) {
  return ReadElfNote(AFileName, "QVR", kVersionType);
}

// Reads the note of ABytes written to a file, and checks that no allocation
// on the way was larger than the file.
std::optional<TBytes> ReadFromBytes(const TTempDir& ADir, const std::string& ABytes) {
  const std::string path = ADir.File("image");
  test::WriteFileBytes(path, ABytes);
  gLargestAllocation = 0;
  gTrackAllocations = true;
  std::optional<TBytes> note;
  try {
    note = ReadVersionNote(path);
  } catch (...) {
    gTrackAllocations = false;
    throw;
  }
  gTrackAllocations = false;
  EXPECT_LE(gLargestAllocation.load(), std::max<std::size_t>(ABytes.size(), 64));
  // A found note was read into a buffer: proof that the tracking sees the reader.
  if (note) {
    EXPECT_GT(gLargestAllocation.load(), 0u);
  }
  return note;
}

std::string ReadProbe() { return test::ReadFileBytes(QVR_VERSION_PROBE); }

// The project's version as the note's description holds it.
TBytes ProjectVersionDesc() {
  TBytes desc;
  std::string text = QVR_PROJECT_VERSION;
  for (std::size_t start = 0; desc.size() < 8;) {
    const std::size_t dot = text.find('.', start);
    const unsigned long n = start < text.size() ? std::stoul(text.substr(start, dot - start)) : 0;
    desc.push_back(static_cast<std::uint8_t>(n & 0xff));
    desc.push_back(static_cast<std::uint8_t>(n >> 8));
    start = dot == std::string::npos ? text.size() : dot + 1;
  }
  return desc;
}

TEST(ElfNote, FindsTheVersionNoteOfExecutablesOfThisBuild) {
  EXPECT_EQ(ReadVersionNote(QVR_VERSION_PROBE), kProbeDesc);
  EXPECT_EQ(ReadVersionNote("/proc/self/exe"), ProjectVersionDesc());
}

// What `readelf -n` prints for AFileName, or nothing when readelf is missing.
std::string ReadelfNotes(const std::string& AFileName) {
  if (std::system("command -v readelf > /dev/null 2>&1") != 0) return {};
  std::string out;
  if (FILE* pipe = popen(("readelf -n '" + AFileName + "' 2>&1").c_str(), "r")) {
    char buf[4096];
    // The output of one small program: bounded by the file, read to its end.
    while (const std::size_t n = fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    pclose(pipe);
  }
  return out;
}

// The note must be one that the standard tools show, not only one this
// reader finds.
TEST(ElfNote, ReadelfShowsTheVersionNote) {
  const std::string notes = ReadelfNotes(QVR_VERSION_PROBE);
  if (notes.empty()) GTEST_SKIP() << "readelf is not installed";
  EXPECT_NE(notes.find("Displaying notes found in: .note.qvr.version"), std::string::npos) << notes;
  EXPECT_NE(notes.find("description data: 0a 00 02 00 00 00 75 00"), std::string::npos) << notes;
}

TEST(ElfNote, FindsTheNoteInImagesOfBothClassesAndLayouts) {
  const TElfTestNote version{"QVR", kVersionType, kProbeDescText};
  // Notes that resemble the version note in all but one respect come first,
  // and must be skipped.
  const std::vector<TElfTestNote> lookalikes = {
      {"QVRX", kVersionType, "aaaaaaaa"},
      {"QV", kVersionType, "bbbbbbbb"},
      {"QVR", 2, "cccccccc"},
      {"GNU", kVersionType, "odd"},  // a description that needs padding
      {"", kVersionType, ""},
  };
  std::vector<TElfTestNote> crowded = lookalikes;
  crowded.push_back(version);

  struct TCase {
    const char* Name;
    std::function<std::string()> Make;
  };
  const TCase cases[] = {
      {"64-bit", [&] { return BuildElfTestImage(true, {version}); }},
      {"32-bit", [&] { return BuildElfTestImage(false, {version}); }},
      {"64-bit after look-alike notes", [&] { return BuildElfTestImage(true, crowded); }},
      {"32-bit after look-alike notes", [&] { return BuildElfTestImage(false, crowded); }},
      // Areas aligned to 8, as the GNU property notes of 64-bit files are:
      // reading them with 4-byte steps would miss the note.
      {"64-bit, 8-byte aligned notes", [&] { return BuildElfTestImage(true, crowded, 8); }},
      {"32-bit, 8-byte aligned notes", [&] { return BuildElfTestImage(false, crowded, 8); }},
      {"64-bit, extended section count",
       [&] { return BuildElfTestImage(true, {version}, 4, true); }},
      {"32-bit, extended section count",
       [&] { return BuildElfTestImage(false, {version}, 4, true); }},
      // Without a section table the note segments are read.
      {"32-bit without a section table",
       [&] {
         TElfTestImage img(BuildElfTestImage(false, crowded));
         img.Set(img.ShOffField(), img.Addr(), 0);
         return img.Bytes;
       }},
      {"real executable without a section table",
       [&] {
         TElfTestImage img(ReadProbe());
         img.Set(img.ShOffField(), img.Addr(), 0);
         return img.Bytes;
       }},
  };
  TTempDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ReadFromBytes(dir, c.Make()), kProbeDesc);
  }
}

TEST(ElfNote, FilesWithoutTheNoteGiveNothing) {
  struct TCase {
    const char* Name;
    std::string Bytes;
  };
  const TCase cases[] = {
      {"empty file", ""},
      {"text file", "#!/bin/sh\necho not an executable\n"},
      {"ELF without notes", BuildElfTestImage(true, {})},
      {"ELF with other notes only", BuildElfTestImage(false, {{"GNU", 1, "1234"}})},
  };
  TTempDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ReadFromBytes(dir, c.Bytes), std::nullopt);
  }
}

// Damage done to a good image. Each entry patches or cuts a fresh copy; every
// result must read as "no note".
struct TDamage {
  const char* Name;
  std::function<void(TElfTestImage&)> Apply;
};

// Makes the note segments the only way to the note.
void DropSectionTable(TElfTestImage& AImg) { AImg.Set(AImg.ShOffField(), AImg.Addr(), 0); }

const std::vector<TDamage>& Damages() {
  using I = TElfTestImage;
  static const std::vector<TDamage> damages = {
      // Cut short.
      {"cut to nothing", [](I& i) { i.Bytes.clear(); }},
      {"cut after the magic", [](I& i) { i.Bytes.resize(4); }},
      {"cut after the identification", [](I& i) { i.Bytes.resize(16); }},
      {"cut inside the header", [](I& i) { i.Bytes.resize(i.HeaderSize() - 1); }},
      {"cut inside the version note", [](I& i) { i.Bytes.resize(i.VersionNote() + 6); }},
      {"cut at the section table", [](I& i) { i.Bytes.resize(i.ShOff() + 1); }},
      {"cut inside the last section header",
       [](I& i) { i.Bytes.resize(i.Section(i.ShNum()) - 1); }},
      // The identification.
      {"wrong magic", [](I& i) { i.Bytes[1] = 'e'; }},
      {"class 0", [](I& i) { i.Set(4, 1, 0); }},
      {"class 3", [](I& i) { i.Set(4, 1, 3); }},
      {"big-endian", [](I& i) { i.Set(5, 1, 2); }},
      // The section table.
      {"section table past the end", [](I& i) { i.Set(i.ShOffField(), i.Addr(), i.Bytes.size()); }},
      {"section table across the end",
       [](I& i) { i.Set(i.ShOffField(), i.Addr(), i.Bytes.size() - i.ShEntSize()); }},
      {"section table offset at the largest value",
       [](I& i) { i.Set(i.ShOffField(), i.Addr(), i.AddrMax()); }},
      {"section count 65535", [](I& i) { i.Set(i.ShNumField(), 2, 65535); }},
      {"section entry size 0", [](I& i) { i.Set(i.ShEntSizeField(), 2, 0); }},
      {"section entry smaller than a section header",
       [](I& i) { i.Set(i.ShEntSizeField(), 2, i.ShdrSize() - 1); }},
      {"extended section count of 2 GB",
       [](I& i) {
         i.Set(i.ShSizeField(0), i.Addr(), 0x80000000u);
         i.Set(i.ShNumField(), 2, 0);
       }},
      {"extended section count at the largest value",
       [](I& i) {
         i.Set(i.ShSizeField(0), i.Addr(), i.AddrMax());
         i.Set(i.ShNumField(), 2, 0);
       }},
      // The note section's header.
      {"note section past the end",
       [](I& i) { i.Set(i.ShOffsetField(i.VersionSection()), i.Addr(), i.Bytes.size()); }},
      {"note section offset and size overflow",
       [](I& i) { i.Set(i.ShOffsetField(i.VersionSection()), i.Addr(), i.AddrMax() - 3); }},
      {"note section size of 2 GB",
       [](I& i) { i.Set(i.ShSizeField(i.VersionSection()), i.Addr(), 0x80000000u); }},
      {"note section size at the largest value",
       [](I& i) { i.Set(i.ShSizeField(i.VersionSection()), i.Addr(), i.AddrMax()); }},
      {"note section across the end",
       [](I& i) { i.Set(i.ShSizeField(i.VersionSection()), i.Addr(), i.Bytes.size()); }},
      {"note section shorter than its note",
       [](I& i) { i.Set(i.ShSizeField(i.VersionSection()), i.Addr(), 14); }},
      // The note's own sizes.
      {"owner size at the largest value", [](I& i) { i.Set(i.VersionNote(), 4, 0xffffffffu); }},
      {"owner size that wraps when aligned", [](I& i) { i.Set(i.VersionNote(), 4, 0xfffffffdu); }},
      {"owner size of 2 GB", [](I& i) { i.Set(i.VersionNote(), 4, 0x80000000u); }},
      {"description size at the largest value",
       [](I& i) { i.Set(i.VersionNote() + 4, 4, 0xffffffffu); }},
      {"description size that wraps when aligned",
       [](I& i) { i.Set(i.VersionNote() + 4, 4, 0xfffffffdu); }},
      {"description size of 2 GB", [](I& i) { i.Set(i.VersionNote() + 4, 4, 0x80000000u); }},
      {"description one byte past its section", [](I& i) { i.Set(i.VersionNote() + 4, 4, 9); }},
      // The note is intact but is not the version note.
      {"note section of another type",
       [](I& i) { i.Set(i.ShTypeField(i.VersionSection()), 4, 1); }},
      {"owner renamed", [](I& i) { i.Bytes[i.VersionNote() + 14] = 'X'; }},
      {"owner without its terminating zero", [](I& i) { i.Bytes[i.VersionNote() + 15] = 'X'; }},
      {"note of another type", [](I& i) { i.Set(i.VersionNote() + 8, 4, 2); }},
      // The program headers, read when there is no section table.
      {"no section table, program header count 65535",
       [](I& i) {
         DropSectionTable(i);
         i.Set(i.PhNumField(), 2, 65535);
       }},
      {"no section table, program header entry size 0",
       [](I& i) {
         DropSectionTable(i);
         i.Set(i.PhEntSizeField(), 2, 0);
       }},
      {"no section table, program header table past the end",
       [](I& i) {
         DropSectionTable(i);
         i.Set(i.PhOffField(), i.Addr(), i.Bytes.size());
       }},
      {"no section table, note segments of 2 GB",
       [](I& i) {
         DropSectionTable(i);
         for (std::uint64_t n = 0; n < i.PhNum(); ++n) {
           if (i.Get(i.Segment(n), 4) == 4) i.Set(i.PFileSzField(n), i.Addr(), 0x80000000u);
         }
       }},
  };
  return damages;
}

void ExpectEveryDamageGivesNothing(const std::string& AGood) {
  TTempDir dir;
  ASSERT_EQ(ReadFromBytes(dir, AGood), kProbeDesc) << "the undamaged image must read";
  for (const TDamage& d : Damages()) {
    SCOPED_TRACE(d.Name);
    TElfTestImage img(AGood);
    d.Apply(img);
    EXPECT_EQ(ReadFromBytes(dir, img.Bytes), std::nullopt);
  }
}

TEST(ElfNote, DamagedRealExecutableGivesNothing) { ExpectEveryDamageGivesNothing(ReadProbe()); }

TEST(ElfNote, Damaged32BitImageGivesNothing) {
  ExpectEveryDamageGivesNothing(BuildElfTestImage(false, {{"QVR", kVersionType, kProbeDescText}}));
}

TEST(ElfNote, Damaged64BitImageGivesNothing) {
  ExpectEveryDamageGivesNothing(BuildElfTestImage(true, {{"QVR", kVersionType, kProbeDescText}}));
}

TEST(ElfNote, FilesThatCannotBeReadRaiseTheSystemError) {
  TTempDir dir;
  struct TCase {
    const char* Name;
    std::string Path;
    int Errno;
  };
  std::vector<TCase> cases = {
      {"missing file", dir.File("missing"), ENOENT},
      {"missing folder", dir.File("missing/image"), ENOENT},
      {"folder", dir.Path(), EISDIR},
  };
  if (!test::RunningAsRoot()) {
    // Root reads whatever the permission bits say.
    const std::string locked = dir.File("locked");
    test::WriteFileBytes(locked, ReadProbe());
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    cases.push_back({"no read permission", locked, EACCES});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      ReadVersionNote(c.Path);
      ADD_FAILURE() << "no error raised";
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode(), c.Errno);
      EXPECT_EQ(e.Message(),
                Format("System Error.  Code: %d.", c.Errno) + "\n" + std::strerror(c.Errno));
    }
  }
}

TEST(ElfNote, SpecialFilesGiveNothingWithoutBlocking) {
  TTempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A FIFO with no writer would block an ordinary open for reading.
  EXPECT_EQ(ReadVersionNote(fifo), std::nullopt);
  EXPECT_EQ(ReadVersionNote("/dev/null"), std::nullopt);
}

}  // namespace
}  // namespace qvr
