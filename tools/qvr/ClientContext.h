// The client data module of one run of qvr, as the command line sets it up.
// qvr is a client program of the suite like any other: it creates the data
// module, which reads config.ini beside the program (or the file --config
// names) through the configuration classes. --host, --port and --uid change
// the module's connection for this run only; nothing of them is written.
#pragma once

#include <memory>
#include <string>

#include "client/dBaseCliente.h"
#include "tools/qvr/Arguments.h"
#include "tools/qvr/Progress.h"

namespace qvr::cli {

class TClientContext {
 public:
  // Creates the data module (sending nothing). A relative --config path is
  // taken from the current folder.
  explicit TClientContext(const TArguments& AArgs);
  ~TClientContext();
  TClientContext(const TClientContext&) = delete;
  TClientContext& operator=(const TClientContext&) = delete;

  client::TdmBaseCliente& dm() { return *Fdm; }

  // Before a remote call: the overrides on the connection (EUsageError "El
  // puerto debe ser numerico" for a --port that does not convert), the
  // session id kept in --session-file (EUsageError when the file holds
  // something else or is a symbolic link, which is never followed), and the
  // progress line when standard error is a terminal.
  void BeginCall();
  // After the call, also a failed one: ends the progress line and keeps the
  // connection's session id in --session-file, made private to the user
  // (mode 0600) whatever its mode was. A file that cannot be written or
  // made private raises Exception, unless AQuiet (the call's own failure is
  // then what counts).
  void EndCall(bool AQuiet);

 private:
  const TArguments& FArgs;
  std::unique_ptr<client::TdmBaseCliente> Fdm;
  std::unique_ptr<TProgressLine> FProgress;
};

}  // namespace qvr::cli
