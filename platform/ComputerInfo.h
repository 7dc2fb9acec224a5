// The computer-information component: answers the operating system's special
// folders by their number, as the client data module asks for them.
#pragma once

#include <string>

namespace qvr {

class TComputerInfo {
 public:
  // The current user's roaming application-data folder.
  static constexpr int sfAppData = 26;

  // The folder with the number ANumber, without a trailing "/". For sfAppData
  // it is $XDG_DATA_HOME when that is set and absolute, otherwise
  // $HOME/.local/share when HOME is set and absolute, otherwise the home
  // folder from the password database followed by /.local/share. The folder
  // is not required to exist. A number this component does not know, or a
  // lookup that finds nothing, gives empty text; nothing is raised.
  std::string SpecialFolder(int ANumber) const;
};

}  // namespace qvr
