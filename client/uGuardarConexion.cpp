// The save rule of the connection settings; see uGuardarConexion.h.
#include "client/uGuardarConexion.h"

#include <cstdint>

#include "platform/SysUtils.h"

namespace qvr::client {

bool GuardarConexion(config::TConfigClient& AConfig, const TConexionTextos& ATextos) {
  // The port is converted before anything is written, so that a bad one
  // leaves the file as it was.
  std::int32_t puerto = 0;
  if (ATextos.Puerto && !TryStrToInt(*ATextos.Puerto, puerto)) return false;
  if (ATextos.IP) AConfig.SetIP(*ATextos.IP);
  if (ATextos.Puerto) AConfig.SetPuerto(puerto);
  if (ATextos.UID) AConfig.SetUID(*ATextos.UID);
  return true;
}

}  // namespace qvr::client
