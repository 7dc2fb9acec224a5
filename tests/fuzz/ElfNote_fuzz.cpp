// Fuzz target: an executable's bytes as anything. The note reader finds a
// note or nothing, never reads outside the file and never returns more bytes
// than the file has.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "fuzz/FuzzSupport.h"
#include "platform/ElfNote.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace qvr;
  const std::string path = fuzz::InputFile("program", AData, ASize);
  // The version note, and the build id that every linked program carries.
  for (const auto& [owner, type] : {std::pair<const char*, std::uint32_t>{"QVR", 1}, {"GNU", 3}}) {
    const auto note = ReadElfNote(path, owner, type);
    fuzz::Check(!note || note->size() <= ASize, "a note larger than the file");
  }
  return 0;
}
