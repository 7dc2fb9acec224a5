// The special-folder lookup under controlled environments: which variable
// wins, which values are ignored, and the password database as the last
// resort.
#include "platform/ComputerInfo.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "support/ScopedEnv.h"

namespace qvr {
namespace {

using test::TScopedEnv;

// The folder the lookup falls back to when neither variable helps.
std::string FromPasswd() {
  const passwd* entry = getpwuid(getuid());
  if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') return {};
  std::string home = entry->pw_dir;
  while (!home.empty() && home.back() == '/') home.pop_back();
  return home + "/.local/share";
}

TEST(TComputerInfo, AppDataFollowsTheEnvironment) {
  const std::nullopt_t unset = std::nullopt;
  struct TCase {
    std::optional<std::string> XdgDataHome;
    std::optional<std::string> Home;
    std::string Expected;  // "<passwd>" for the password database's answer
  };
  const TCase cases[] = {
      {"/srv/data", "/home/ana", "/srv/data"},
      {"/srv/data/", "/home/ana", "/srv/data"},
      {"/srv/data//", unset, "/srv/data"},
      // Relative or empty values are ignored, as the desktop conventions say.
      {"srv/data", "/home/ana", "/home/ana/.local/share"},
      {"", "/home/ana", "/home/ana/.local/share"},
      {unset, "/home/ana", "/home/ana/.local/share"},
      {unset, "/home/ana/", "/home/ana/.local/share"},
      {unset, "home/ana", "<passwd>"},
      {unset, "", "<passwd>"},
      {unset, unset, "<passwd>"},
      // The root folder itself, without its separator, is empty text.
      {"/", "/home/ana", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.XdgDataHome.value_or("(unset)") + " | " + c.Home.value_or("(unset)"));
    TScopedEnv xdg("XDG_DATA_HOME", c.XdgDataHome);
    TScopedEnv home("HOME", c.Home);
    const std::string expected = c.Expected == "<passwd>" ? FromPasswd() : c.Expected;
    EXPECT_EQ(TComputerInfo().SpecialFolder(TComputerInfo::sfAppData), expected);
  }
}

TEST(TComputerInfo, UnknownFolderNumbersGiveEmptyText) {
  TScopedEnv xdg("XDG_DATA_HOME", "/srv/data");
  for (const int number : {-1, 0, 5, 25, 27, 28, 0x1a00}) {
    EXPECT_EQ(TComputerInfo().SpecialFolder(number), "") << number;
  }
}

}  // namespace
}  // namespace qvr
