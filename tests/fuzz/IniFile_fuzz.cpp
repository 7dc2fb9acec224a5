// Fuzz target: config.ini as any bytes, in any encoding (UTF-8, with or
// without a byte-order mark, UTF-16LE, Windows-1252, or none of them). Reads
// never fail or crash and give UTF-8; a write of one key is read back as
// written while other keys keep their values, also when the value is one
// that the file's encoding lacks and the file is converted to UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/IniFile.h"
#include "platform/Utf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace qvr;
  const std::string path = fuzz::InputFile("config.ini", AData, ASize);
  TIniFile ini(path);
  const std::string ip = ini.ReadString("rest", "IP", "<none>");
  const std::string titulo = ini.ReadString("Ventana", "Titulo", "<none>");
  fuzz::Check(IsValidUtf8(ip) && IsValidUtf8(titulo), "a value read is UTF-8");
  ini.ReadInteger("rest", "Puerto", 8080);
  ini.ReadBool("sync", "Reloj Web Sobreescribir", false);
  ini.ReadInteger("frmMainOpciones", "Left", 0);
  const bool section = ini.SectionExists("rest");
  fuzz::Check(!ini.ValueExists("rest", "IP") || section, "a key without its section");

  // ASCII, a character Windows-1252 has, characters it lacks.
  for (const char* value : {"caja 1", "Ca\u00F1ada", "\u0141\u00F3d\u017A \U0001F600"}) {
    ini.WriteString("rest", "UID", value);
    fuzz::Check(ini.ReadString("rest", "UID", "") == value, "the written value reads back");
    fuzz::Check(ini.ReadString("rest", "IP", "<none>") == ip, "another key keeps its value");
    fuzz::Check(ini.ReadString("Ventana", "Titulo", "<none>") == titulo,
                "another section keeps its values");
  }
  fuzz::Check(ini.SectionExists("rest"), "the written section exists");
  return 0;
}
