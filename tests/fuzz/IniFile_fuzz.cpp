// Fuzz target: config.ini as any bytes. Reads never fail or crash, and a
// write of one key is read back as written while another key keeps its
// value, whatever the file held before.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "platform/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace qvr;
  const std::string path = fuzz::InputFile("config.ini", AData, ASize);
  TIniFile ini(path);
  const std::string ip = ini.ReadString("rest", "IP", "<none>");
  ini.ReadInteger("rest", "Puerto", 8080);
  ini.ReadBool("sync", "Reloj Web Sobreescribir", false);
  ini.ReadInteger("frmMainOpciones", "Left", 0);
  const bool section = ini.SectionExists("rest");
  fuzz::Check(!ini.ValueExists("rest", "IP") || section, "a key without its section");

  ini.WriteString("rest", "UID", "caja 1");
  fuzz::Check(ini.ReadString("rest", "UID", "") == "caja 1", "the written value reads back");
  fuzz::Check(ini.ReadString("rest", "IP", "<none>") == ip, "another key keeps its value");
  fuzz::Check(ini.SectionExists("rest"), "the written section exists");
  return 0;
}
