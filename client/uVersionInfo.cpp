// The file-version reader; see uVersionInfo.h. The version lives in an ELF
// note that cmake/QvrVersionNote.cpp.in writes: owner "QVR", type 1, and a
// description of four little-endian 16-bit numbers.
#include "client/uVersionInfo.h"

#include <cerrno>

#include "platform/ElfNote.h"
#include "platform/SysUtils.h"

namespace qvr::client {

namespace {

constexpr std::string_view kNoteOwner = "QVR";
constexpr std::uint32_t kNoteTypeVersion = 1;
constexpr std::size_t kNoteDescSize = 8;

}  // namespace

TVorelFileVersion::TVorelFileVersion(std::string AFileName) : FFileName(std::move(AFileName)) {
  Actualizar();
}

void TVorelFileVersion::Actualizar() {
  const auto desc = ReadElfNote(FFileName, kNoteOwner, kNoteTypeVersion);
  // A longer description is accepted so that later builds may add to the note
  // without older readers refusing it.
  if (!desc || desc->size() < kNoteDescSize) throw EOSError(ENODATA);
  const auto word = [&desc](std::size_t i) {
    return static_cast<std::uint16_t>((*desc)[2 * i] | ((*desc)[2 * i + 1] << 8));
  };
  FFileVersion = {word(0), word(1), word(2), word(3)};
}

void TVorelFileVersion::SetFileName(std::string AFileName) {
  FFileName = std::move(AFileName);
  Actualizar();
}

std::string TVorelFileVersion::Version() const {
  return Format("%s%d.%d.%d.%d", FPrefijo, FFileVersion.Major, FFileVersion.Minor,
                FFileVersion.Release, FFileVersion.Build);
}

}  // namespace qvr::client
