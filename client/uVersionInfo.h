// The file-version reader: the four version numbers that the build puts in
// every executable, read from any named file without running it, and the
// version text the client programs show ("v1.0.0.3").
#pragma once

#include <cstdint>
#include <string>

#include "platform/Classes.h"

namespace qvr::client {

// A file's version: four unsigned 16-bit numbers, most significant first.
struct TFileVersion {
  std::uint16_t Major = 0;
  std::uint16_t Minor = 0;
  std::uint16_t Release = 0;
  std::uint16_t Build = 0;

  bool operator==(const TFileVersion&) const = default;
};

class TVorelFileVersion : public TObject {
 public:
  // No file, no prefix, version 0.0.0.0; reads nothing.
  TVorelFileVersion() = default;
  // Stores AFileName and reads its version at once (see Actualizar, whose
  // errors it raises).
  explicit TVorelFileVersion(std::string AFileName);

  // Reads the version of FileName into FileVersion. Raises qvr::EOSError, with
  // FileVersion left as it was, when the file cannot be opened or read (the
  // system's error for that, such as ENOENT or EACCES) and with ENODATA when
  // the file carries no version: not an ELF file, a damaged one, or one built
  // without the version note.
  void Actualizar();

  const std::string& FileName() const { return FFileName; }
  // Stores the name and reads its version again at once; raises as Actualizar
  // does, with the new name kept.
  void SetFileName(std::string AFileName);
  const TFileVersion& FileVersion() const { return FFileVersion; }
  const std::string& Prefijo() const { return FPrefijo; }
  void SetPrefijo(std::string APrefijo) { FPrefijo = std::move(APrefijo); }
  // Prefijo followed by the four numbers, dotted and without leading zeros.
  std::string Version() const;

 private:
  std::string FFileName;
  TFileVersion FFileVersion;
  std::string FPrefijo;
};

}  // namespace qvr::client
