// The save rule of the connection settings, shared by the options window's
// "Guardar" and qvr config set, so that a workstation configured without a
// desktop gets exactly what the window would have written.
#pragma once

#include <optional>
#include <string>

#include "config/uConfigClient.h"

namespace qvr::client {

// What is shown when the port text does not convert (no accent, as the
// suite has always shown it).
inline constexpr const char* kPuertoNoNumerico = "El puerto debe ser numerico";

// The texts to save, as typed; an absent one is left as it is in the file.
struct TConexionTextos {
  std::optional<std::string> IP;
  std::optional<std::string> Puerto;
  std::optional<std::string> UID;
};

// Converts APuerto's text by the integer rule (qvr::TryStrToInt: leading
// blanks, a sign, decimal digits or hexadecimal ones after "$", "x" or "0x",
// nothing after them). When it does not convert, returns false and writes
// nothing. Otherwise writes IP, Puerto and UID, in this order and each at
// once, exactly as given (no trimming, no range check), and returns true. A
// refused write raises EIniFileException "Unable to write to %s" and ends
// the save there: the values written before it stay on disk, the later ones
// are not written.
bool GuardarConexion(config::TConfigClient& AConfig, const TConexionTextos& ATextos);

}  // namespace qvr::client
