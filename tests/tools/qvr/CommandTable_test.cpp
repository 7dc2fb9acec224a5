// qvr's command table held to the description of the remote interface: every
// method a command says it calls is a method of the interface, every method
// of the server's class is reachable through a command of its own, and a
// command calls the server exactly when it names methods it calls (the cache
// commands aside, which speak to the cache area, not to a method). A command
// that calls whatever method its line names (call) reaches every method, the
// administrative ones without a command of their own included, but only
// through the catalogue: it must name the method that answers it, and it
// does not count as a command of their own for the server's methods.
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
  bool anyCalled = false;
  for (const TCommand& command : Commands()) {
    SCOPED_TRACE(std::string(command.Name));
    const bool cacheArea = command.Name.starts_with("cache ");
    EXPECT_EQ(command.Remote && !cacheArea, !command.Calls.empty());
    for (const rest::TRemoteMethod* method : command.Calls) {
      EXPECT_TRUE(described.count(method)) << "a method the interface does not describe";
      called.insert(method);
    }
    if (command.CallsAny) {
      EXPECT_TRUE(command.Remote);
      std::set<const rest::TRemoteMethod*> calls(command.Calls.begin(), command.Calls.end());
      EXPECT_TRUE(calls.count(&rest::remote::GetServerMethodParameters))
          << "a command that calls any method finds it in the catalogue";
      anyCalled = true;
    }
  }
  for (const rest::TRemoteMethod* method : rest::RemoteMethods()) {
    if (method->ClassName == rest::remote::kServerClass) {
      EXPECT_TRUE(called.count(method)) << method->QualifiedName() << " has no command";
    } else {
      EXPECT_TRUE(called.count(method) || anyCalled)
          << method->QualifiedName() << " cannot be called from qvr";
    }
  }
}

}  // namespace
}  // namespace qvr::cli
