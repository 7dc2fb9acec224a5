// Test helpers for ELF files: a view over the bytes of a little-endian ELF
// image that reads and patches the fields the version note hangs on, and a
// builder of small images of either class. They follow the ELF layout on their
// own (not through the reader under test), so a wrong offset in the reader
// shows up as a failed test.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvr::test {

inline constexpr char kElfTestMagic[] =
    "\x7f"
    "ELF";

class TElfTestImage {
 public:
  // A view over a real image; its class comes from its identification.
  explicit TElfTestImage(std::string ABytes) : Bytes(std::move(ABytes)) {
    if (Bytes.size() < 64 || Bytes.compare(0, 4, kElfTestMagic) != 0) {
      throw std::runtime_error("not an ELF image");
    }
    Is64 = Bytes[4] == 2;
  }
  // A view over bytes still being built.
  TElfTestImage(std::string ABytes, bool AIs64) : Bytes(std::move(ABytes)), Is64(AIs64) {}

  std::string Bytes;
  bool Is64 = true;

  std::uint64_t Get(std::size_t AOffset, std::size_t ASize) const {
    std::uint64_t v = 0;
    for (std::size_t i = ASize; i > 0; --i) {
      v = (v << 8) | static_cast<std::uint8_t>(Bytes.at(AOffset + i - 1));
    }
    return v;
  }
  void Set(std::size_t AOffset, std::size_t ASize, std::uint64_t AValue) {
    for (std::size_t i = 0; i < ASize; ++i) {
      Bytes.at(AOffset + i) = static_cast<char>((AValue >> (8 * i)) & 0xff);
    }
  }

  // Size of an address or offset field, and its largest value.
  std::size_t Addr() const { return Is64 ? 8 : 4; }
  std::uint64_t AddrMax() const { return Is64 ? ~0ull : 0xffffffffull; }

  // Offsets of the ELF header fields.
  std::size_t HeaderSize() const { return Is64 ? 64 : 52; }
  std::size_t PhOffField() const { return Is64 ? 32 : 28; }
  std::size_t ShOffField() const { return Is64 ? 40 : 32; }
  std::size_t PhEntSizeField() const { return Is64 ? 54 : 42; }
  std::size_t PhNumField() const { return Is64 ? 56 : 44; }
  std::size_t ShEntSizeField() const { return Is64 ? 58 : 46; }
  std::size_t ShNumField() const { return Is64 ? 60 : 48; }

  std::uint64_t ShOff() const { return Get(ShOffField(), Addr()); }
  std::uint64_t ShNum() const { return Get(ShNumField(), 2); }
  std::uint64_t ShEntSize() const { return Get(ShEntSizeField(), 2); }
  std::size_t ShdrSize() const { return Is64 ? 64 : 40; }

  // Offsets of the fields of section header AIndex.
  std::size_t Section(std::uint64_t AIndex) const {
    return static_cast<std::size_t>(ShOff() + AIndex * ShEntSize());
  }
  std::size_t ShTypeField(std::uint64_t AIndex) const { return Section(AIndex) + 4; }
  std::size_t ShOffsetField(std::uint64_t AIndex) const {
    return Section(AIndex) + (Is64 ? 24 : 16);
  }
  std::size_t ShSizeField(std::uint64_t AIndex) const { return Section(AIndex) + (Is64 ? 32 : 20); }

  // Offsets of the fields of program header AIndex.
  std::size_t Segment(std::uint64_t AIndex) const {
    return static_cast<std::size_t>(Get(PhOffField(), Addr()) + AIndex * Get(PhEntSizeField(), 2));
  }
  std::size_t PFileSzField(std::uint64_t AIndex) const {
    return Segment(AIndex) + (Is64 ? 32 : 16);
  }
  std::uint64_t PhNum() const { return Get(PhNumField(), 2); }

  // The note section that holds the "QVR" note, and the offset of that note.
  std::uint64_t VersionSection() const {
    for (std::uint64_t i = 0; i < ShNum(); ++i) {
      if (Get(ShTypeField(i), 4) == 7 && VersionNoteIn(i) != 0) return i;
    }
    throw std::runtime_error("no version note");
  }
  std::size_t VersionNote() const { return VersionNoteIn(VersionSection()); }

 private:
  std::size_t VersionNoteIn(std::uint64_t AIndex) const {
    const std::size_t begin = static_cast<std::size_t>(Get(ShOffsetField(AIndex), Addr()));
    const std::size_t end = begin + static_cast<std::size_t>(Get(ShSizeField(AIndex), Addr()));
    for (std::size_t at = begin; at + 16 <= end; at += 4) {
      if (Get(at, 4) == 4 && Bytes.compare(at + 12, 4, std::string("QVR\0", 4)) == 0) return at;
    }
    return 0;
  }
};

struct TElfTestNote {
  std::string Owner;
  std::uint32_t Type;
  std::string Desc;
};

// A small ELF image of the given class: header, one note segment, the notes
// (entries aligned to AAlign), and a section table of a null section and one
// note section at the end. With AExtendedCount the header's section count is 0
// and the real count sits in section 0, as files with many sections have it.
inline std::string BuildElfTestImage(bool AIs64, const std::vector<TElfTestNote>& ANotes,
                                     std::uint64_t AAlign = 4, bool AExtendedCount = false) {
  const std::size_t header = AIs64 ? 64 : 52;
  const std::size_t phdr = AIs64 ? 56 : 32;
  const std::size_t shdr = AIs64 ? 64 : 40;
  const auto alignUp = [](std::size_t v, std::size_t a) { return (v + a - 1) / a * a; };

  std::string notes;
  const auto put = [](std::string& s, std::uint64_t v, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  for (const TElfTestNote& n : ANotes) {
    put(notes, n.Owner.size() + 1, 4);
    put(notes, n.Desc.size(), 4);
    put(notes, n.Type, 4);
    notes += n.Owner;
    notes.resize(alignUp(notes.size() + 1, AAlign), '\0');
    notes += n.Desc;
    notes.resize(alignUp(notes.size(), AAlign), '\0');
  }
  const std::size_t notesAt = alignUp(header + phdr, 8);
  const std::size_t shAt = alignUp(notesAt + notes.size(), 8);
  TElfTestImage img(std::string(shAt + 2 * shdr, '\0'), AIs64);
  img.Bytes.replace(0, 4, kElfTestMagic);
  img.Set(4, 1, AIs64 ? 2 : 1);  // class
  img.Set(5, 1, 1);              // little-endian
  img.Set(6, 1, 1);              // version
  img.Set(16, 2, 2);             // executable
  img.Set(18, 2, AIs64 ? 62 : 3);
  img.Set(20, 4, 1);
  img.Set(img.PhOffField(), img.Addr(), header);
  img.Set(img.ShOffField(), img.Addr(), shAt);
  img.Set(AIs64 ? 52 : 40, 2, header);
  img.Set(img.PhEntSizeField(), 2, phdr);
  img.Set(img.PhNumField(), 2, 1);
  img.Set(img.ShEntSizeField(), 2, shdr);
  img.Set(img.ShNumField(), 2, AExtendedCount ? 0 : 2);
  // The note segment.
  img.Set(header, 4, 4);
  img.Set(header + (AIs64 ? 8 : 4), img.Addr(), notesAt);
  img.Set(img.PFileSzField(0), img.Addr(), notes.size());
  img.Set(header + (AIs64 ? 48 : 28), img.Addr(), AAlign);
  img.Bytes.replace(notesAt, notes.size(), notes);
  // Section 0 carries the real count when the header's is 0.
  if (AExtendedCount) img.Set(img.ShSizeField(0), img.Addr(), 2);
  img.Set(img.ShTypeField(1), 4, 7);
  img.Set(img.ShOffsetField(1), img.Addr(), notesAt);
  img.Set(img.ShSizeField(1), img.Addr(), notes.size());
  img.Set(img.Section(1) + (AIs64 ? 48 : 32), img.Addr(), AAlign);
  return img.Bytes;
}

}  // namespace qvr::test
