// qvr config show and qvr config set: the connection settings of config.ini
// through the data module's configuration, saved by the options window's
// own rule (client/uGuardarConexion.h).
#include <sys/stat.h>

#include "client/uGuardarConexion.h"
#include "rest/json/JSONValues.h"
#include "tools/qvr/Commands.h"

namespace qvr::cli {

using rest::TJSONObject;

void RunConfigShow(TCommandRun& ARun) {
  config::TConfigClient& config = ARun.Context.dm().config();
  const std::string file = config.FileConfig();
  // The configuration reads anything but a regular file (or a link to one)
  // as absent.
  struct stat st {};
  const bool exists = ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  TJSONObject settings;
  settings.AddPair("IP", config.IP());
  settings.AddPair("Puerto", std::make_unique<rest::TJSONNumber>(config.Puerto()));
  settings.AddPair("UID", config.UID());
  settings.AddPair("File", file);
  if (exists) {
    settings.AddPair("Exists", std::make_unique<rest::TJSONTrue>());
  } else {
    settings.AddPair("Exists", std::make_unique<rest::TJSONFalse>());
  }
  ARun.Out.Object(settings);
}

void RunConfigSet(TCommandRun& ARun) {
  client::TConexionTextos textos;
  for (const std::string& operand : ARun.Operands) {
    const auto equals = operand.find('=');
    if (equals == std::string::npos) {
      throw EUsageError("config set takes IP=..., Puerto=... and UID=..., not '" + operand + "'");
    }
    const std::string key = operand.substr(0, equals);
    std::optional<std::string>* slot = SameText(key, "IP")       ? &textos.IP
                                       : SameText(key, "Puerto") ? &textos.Puerto
                                       : SameText(key, "UID")    ? &textos.UID
                                                                 : nullptr;
    if (slot == nullptr) {
      throw EUsageError("config set knows IP, Puerto and UID, not '" + key + "'");
    }
    if (slot->has_value()) throw EUsageError(key + " is given twice");
    *slot = operand.substr(equals + 1);
  }
  if (!client::GuardarConexion(ARun.Context.dm().config(), textos)) {
    throw EUsageError(client::kPuertoNoNumerico);
  }
}

}  // namespace qvr::cli
