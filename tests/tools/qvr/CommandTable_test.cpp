// qvr's command table held to the description of the remote interface: every
// method a command says it calls is a method of the interface, every method
// of the server's class is reachable through some command, and a command
// calls the server exactly when it names methods it calls (the cache
// commands aside, which speak to the cache area, not to a method).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "rest/wire/RemoteMethods.h"
#include "tools/qvr/Commands.h"

namespace qvr::cli {
namespace {

TEST(CommandTable, FollowsTheDescriptionOfTheRemoteInterface) {
  std::set<const rest::TRemoteMethod*> described;
  for (const rest::TRemoteMethod* method : rest::RemoteMethods()) described.insert(method);

  std::set<const rest::TRemoteMethod*> called;
  for (const TCommand& command : Commands()) {
    SCOPED_TRACE(std::string(command.Name));
    const bool cacheArea = command.Name.starts_with("cache ");
    EXPECT_EQ(command.Remote && !cacheArea, !command.Calls.empty());
    for (const rest::TRemoteMethod* method : command.Calls) {
      EXPECT_TRUE(described.count(method)) << "a method the interface does not describe";
      called.insert(method);
    }
  }
  for (const rest::TRemoteMethod* method : rest::RemoteMethods()) {
    if (method->ClassName != rest::remote::kServerClass) continue;
    EXPECT_TRUE(called.count(method)) << method->QualifiedName() << " has no command";
  }
}

}  // namespace
}  // namespace qvr::cli
