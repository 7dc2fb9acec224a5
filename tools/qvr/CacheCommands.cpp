// qvr cache get, command and delete: raw requests to the server's cache
// area (TRestCacheCommand) about an item path that a --cache call printed.
// They go through the connection's session-carrying exchange, so the
// session of --session-file is the one that reaches the items.
#include "rest/RestCacheCommand.h"
#include "tools/qvr/Commands.h"

namespace qvr::cli {

void RunCacheGet(TCommandRun& ARun) {
  rest::TRestCacheCommand command(ARun.Context.dm().rest());
  command.SetParameterPath(ARun.Operands[0]);
  const std::unique_ptr<rest::TJSONValue> value = command.GetParameter(ARun.Args.Filter);
  ARun.Out.Value(value.get());
}

void RunCacheCommand(TCommandRun& ARun) {
  rest::TRestCacheCommand command(ARun.Context.dm().rest());
  command.SetParameterPath(ARun.Operands[0]);
  const std::unique_ptr<rest::TJSONObject> cached = command.GetCommand(false);
  ARun.Out.Value(cached.get());
}

void RunCacheDelete(TCommandRun& ARun) {
  rest::TRestCacheCommand command(ARun.Context.dm().rest());
  command.SetParameterPath(ARun.Operands[0]);
  command.DeleteCommand();
}

}  // namespace qvr::cli
