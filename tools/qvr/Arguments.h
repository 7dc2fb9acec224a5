// The command line of qvr: the options (anywhere on the line, "--name VALUE"
// or "--name=VALUE", until a "--" after which every word is an operand; "-"
// and negative numbers are operands) and
// the words that name the command and its operands. Which options a command
// takes is the command table's business (CommandTable.h); this unit only
// reads the line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/SysUtils.h"

namespace qvr::cli {

// The line, or the input a command names (a file, a CSV row, a code), is
// wrong; nothing was sent and nothing written. The program ends with exit
// status 2.
class EUsageError : public Exception {
 public:
  using Exception::Exception;
};

enum class TFormat { Table, JSON, CSV };

// The options a command may take besides the ones every command takes.
enum TCommandOption : unsigned {
  coFilter = 1u << 0,
  coCache = 1u << 1,
  coCompleto = 1u << 2,
  coDataSet = 1u << 3,
};

struct TArguments {
  // The command's words and its operands, in order.
  std::vector<std::string> Words;

  // --config FILE: empty for config.ini beside the program.
  std::string ConfigFile;
  // --host, --port, --uid: for this call only, never written.
  std::optional<std::string> Host;
  std::optional<std::string> Port;
  std::optional<std::string> Uid;
  // --session-file FILE: the session id is read from it before the call
  // and written back after it.
  std::string SessionFile;

  TFormat Format = TFormat::Table;
  std::string Filter;
  bool Cache = false;
  bool Completo = false;
  std::optional<std::string> DataSet;

  bool Help = false;
  bool Version = false;

  // The command options given (TCommandOption bits), for the command's check.
  unsigned Given = 0;
  // Whether one of --host, --port, --uid, --session-file was given.
  bool ConnectionOptions = false;
};

// Reads the line (without the program's name). Raises EUsageError for an
// unknown option, an option without its value, a value given to an option
// that takes none, and an unknown --format.
TArguments ParseArguments(const std::vector<std::string>& AArgs);

// The name of an option bit ("--cache"), for messages.
const char* OptionName(TCommandOption AOption);

}  // namespace qvr::cli
