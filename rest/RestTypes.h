// The login properties of a REST connection and the signature of its login
// event.
#pragma once

#include <functional>
#include <string>

#include "platform/Classes.h"

namespace qvr::rest {

// The user name, password and login-prompt flag that exchanges actually use.
class TRestLoginProperties : public TObject {
 public:
  std::string UserName() const { return FUserName; }
  void SetUserName(const std::string& AValue) { FUserName = AValue; }
  std::string Password() const { return FPassword; }
  void SetPassword(const std::string& AValue) { FPassword = AValue; }
  bool LoginPrompt() const { return FLoginPrompt; }
  void SetLoginPrompt(bool AValue) { FLoginPrompt = AValue; }
  // Copies the three values.
  void Assign(const TRestLoginProperties& ASource) {
    FUserName = ASource.FUserName;
    FPassword = ASource.FPassword;
    FLoginPrompt = ASource.FLoginPrompt;
  }

 private:
  std::string FUserName;
  std::string FPassword;
  bool FLoginPrompt = true;
};

using TRestLoginEvent =
    std::function<void(TObject* Sender, TRestLoginProperties& LoginProperties, bool& Cancel)>;

}  // namespace qvr::rest
