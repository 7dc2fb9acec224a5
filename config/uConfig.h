// The base of every configuration object of the suite: it owns the open INI
// file config.ini that lies beside the running executable.
#pragma once

#include <memory>
#include <string>

#include "platform/IniFile.h"

namespace qvr::config {

class TBaseConfig {
 public:
  // Opens the INI file on FileConfig. Opening does not touch the disk: a
  // missing file is no error, it yields every read default.
  TBaseConfig();
  virtual ~TBaseConfig();
  TBaseConfig(const TBaseConfig&) = delete;
  TBaseConfig& operator=(const TBaseConfig&) = delete;

  // Full path of config.ini: the running executable's folder, with its
  // trailing "/", followed by "config.ini". Computed on every read.
  std::string FileConfig() const;

 protected:
  TIniFile& IniFile() { return *FIniFile; }
  const TIniFile& IniFile() const { return *FIniFile; }

 private:
  std::unique_ptr<TIniFile> FIniFile;
};

}  // namespace qvr::config
