// The client's settings; see uConfigClient.h.
#include "config/uConfigClient.h"

namespace qvr::config {

namespace {
const std::string kRest = "rest";
const std::string kSync = "sync";
}  // namespace

std::string TConfigClient::IP() const { return IniFile().ReadString(kRest, "IP", "127.0.0.1"); }
void TConfigClient::SetIP(const std::string& AValue) { IniFile().WriteString(kRest, "IP", AValue); }

std::int32_t TConfigClient::Puerto() const { return IniFile().ReadInteger(kRest, "Puerto", 8080); }
void TConfigClient::SetPuerto(std::int32_t AValue) {
  IniFile().WriteInteger(kRest, "Puerto", AValue);
}

std::string TConfigClient::UID() const { return IniFile().ReadString(kRest, "UID", ""); }
void TConfigClient::SetUID(const std::string& AValue) {
  IniFile().WriteString(kRest, "UID", AValue);
}

bool TConfigClient::RelojWebSobreEscribir() const {
  return IniFile().ReadBool(kSync, "Reloj Web Sobreescribir", false);
}
void TConfigClient::SetRelojWebSobreEscribir(bool AValue) {
  IniFile().WriteBool(kSync, "Reloj Web Sobreescribir", AValue);
}

void TConfigClient::GuardarPosicion(const IWindowGeometry& AForma) {
  const std::string section = AForma.Name();
  IniFile().WriteInteger(section, "Left", AForma.Left());
  IniFile().WriteInteger(section, "Top", AForma.Top());
  IniFile().WriteInteger(section, "Width", AForma.Width());
  IniFile().WriteInteger(section, "Height", AForma.Height());
}

void TConfigClient::RestaurarPosicion(IWindowGeometry& AForma) const {
  const std::string section = AForma.Name();
  // Each default is the current value, read after the earlier ones were set.
  AForma.SetLeft(IniFile().ReadInteger(section, "Left", AForma.Left()));
  AForma.SetTop(IniFile().ReadInteger(section, "Top", AForma.Top()));
  AForma.SetWidth(IniFile().ReadInteger(section, "Width", AForma.Width()));
  AForma.SetHeight(IniFile().ReadInteger(section, "Height", AForma.Height()));
}

}  // namespace qvr::config
