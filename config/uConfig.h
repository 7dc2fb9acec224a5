// The base of every configuration object of the suite: it owns the open INI
// file config.ini that lies beside the running executable, or the file that a
// program was told to use instead (qvr --config FILE).
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
  // The same on AFileConfig, a full path, which FileConfig then answers
  // whatever the executable's folder is; the file is read and written with
  // exactly the same semantics. An empty AFileConfig means config.ini beside
  // the executable.
  explicit TBaseConfig(std::string AFileConfig);
  virtual ~TBaseConfig();
  TBaseConfig(const TBaseConfig&) = delete;
  TBaseConfig& operator=(const TBaseConfig&) = delete;

  // Full path of config.ini: the running executable's folder, with its
  // trailing "/", followed by "config.ini". Computed on every read. For a
  // configuration made on a file of its own, that file's path.
  std::string FileConfig() const;

 protected:
  TIniFile& IniFile() { return *FIniFile; }
  const TIniFile& IniFile() const { return *FIniFile; }

 private:
  // Empty unless the configuration was made on a file of its own.
  std::string FFixedFile;
  std::unique_ptr<TIniFile> FIniFile;
};

}  // namespace qvr::config
