// qvr cache get, command and delete: raw requests to the server's cache
// area (TRestCacheCommand) about an item path that a --cache call printed.
// They go through the connection's session-carrying exchange, so the
// session of --session-file is the one that reaches the items.
#include "rest/RestCacheCommand.h"
#include "rest/RestExceptions.h"
#include "tools/qvr/Commands.h"

namespace qvr::cli {

namespace {

// Runs one cache request. The server keeps an item for the session that left
// it, and a run of qvr without --session-file is a session of its own, so a
// 404 there most likely means an item path of an earlier run: say so.
template <typename TRequest>
void CacheRequest(const TCommandRun& ARun, TRequest ARequest) {
  try {
    ARequest();
  } catch (const rest::TRestProtocolException& AError) {
    if (AError.Status() != 404 || !ARun.Args.SessionFile.empty()) throw;
    throw rest::TRestProtocolException(
        AError.Status(),
        AError.Message() +
            " (each run of qvr is a new session: give the --cache call and this one the same "
            "--session-file)",
        AError.ResponseText());
  }
}

}  // namespace

void RunCacheGet(TCommandRun& ARun) {
  rest::TRestCacheCommand command(ARun.Context.dm().rest());
  command.SetParameterPath(ARun.Operands[0]);
  CacheRequest(ARun, [&] {
    const std::unique_ptr<rest::TJSONValue> value = command.GetParameter(ARun.Args.Filter);
    // No value: the answer held no "result", which the cache command takes
    // for no error.
    if (!value) throw EResultError(kNoJSONResult);
    ARun.Out.Value(value.get());
  });
}

void RunCacheCommand(TCommandRun& ARun) {
  rest::TRestCacheCommand command(ARun.Context.dm().rest());
  command.SetParameterPath(ARun.Operands[0]);
  CacheRequest(ARun, [&] {
    const std::unique_ptr<rest::TJSONObject> cached = command.GetCommand(false);
    if (!cached) throw EResultError(kNoJSONResult);
    ARun.Out.Value(cached.get());
  });
}

void RunCacheDelete(TCommandRun& ARun) {
  rest::TRestCacheCommand command(ARun.Context.dm().rest());
  command.SetParameterPath(ARun.Operands[0]);
  CacheRequest(ARun, [&] { command.DeleteCommand(); });
}

}  // namespace qvr::cli
