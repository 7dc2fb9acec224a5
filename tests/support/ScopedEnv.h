// Sets or unsets one environment variable for the life of an object, giving
// the old value back afterwards, so that tests of environment-driven lookups
// leave the process as they found it.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace qvr::test {

class TScopedEnv {
 public:
  // AValue empty-optional unsets the variable; an empty text sets it empty.
  TScopedEnv(const char* AName, const std::optional<std::string>& AValue) : FName(AName) {
    if (const char* old = std::getenv(AName)) FOld = old;
    Set(AValue);
  }
  ~TScopedEnv() { Set(FOld); }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

  // Changes the variable again; the value from before the object still comes
  // back at the end.
  void Set(const std::optional<std::string>& AValue) {
    if (AValue) {
      setenv(FName.c_str(), AValue->c_str(), 1);
    } else {
      unsetenv(FName.c_str());
    }
  }

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

}  // namespace qvr::test
