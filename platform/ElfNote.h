// Reading one note of an ELF file without running it. The build puts the
// version of every executable in such a note; the version reader finds it here.
// The file is treated as hostile: every offset, size and count it holds is
// checked against the file before use, nothing is read outside it, and no
// buffer larger than the file is allocated.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// Returns the description bytes of the first note whose owner name is AOwner
// and whose type is AType in the ELF file AFileName (32- or 64-bit,
// little-endian). Notes are looked for in the note sections, or in the note
// segments when the file has no section table.
// Returns std::nullopt when the file is not such an ELF file, when any
// structure on the way to the note is damaged (offsets or sizes past the end,
// sizes that overflow, impossible counts) or when no such note exists.
// Raises EOSError with the system's error number when the file cannot be
// opened (missing, no permission) or read (a folder, an I/O error).
std::optional<std::vector<std::uint8_t>> ReadElfNote(const std::string& AFileName,
                                                     std::string_view AOwner, std::uint32_t AType);

}  // namespace qvr
