// The configuration base; see uConfig.h.
#include "config/uConfig.h"

#include "platform/ExePath.h"
#include "platform/SysUtils.h"

namespace qvr::config {

TBaseConfig::TBaseConfig() : FIniFile(std::make_unique<TIniFile>(FileConfig())) {}

TBaseConfig::TBaseConfig(std::string AFileConfig)
    : FFixedFile(std::move(AFileConfig)), FIniFile(std::make_unique<TIniFile>(FileConfig())) {}

TBaseConfig::~TBaseConfig() {
  if (FIniFile) FIniFile->UpdateFile();
}

std::string TBaseConfig::FileConfig() const {
  if (!FFixedFile.empty()) return FFixedFile;
  return Format("%sconfig.ini", ExecutableFolder());
}

}  // namespace qvr::config
