// The command line of qvr: the options (anywhere on the line, "--name VALUE"
// or "--name=VALUE", until a "--" after which every word is an operand; "-"
// and negative numbers are operands) and the words that name the command and
// its operands. Every option is one row of one table (Options()): its names,
// its value, its help line, which commands take it and what it sets in
// TArguments; the parser, the help texts and the command check all read that
// table, so adding an option is adding a row and the field it fills. Which
// of the options a command declares is the command table's business
// (Commands.h).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
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
  // Whether an option of TOptionScope::Remote was given.
  bool ConnectionOptions = false;
};

// Which commands an option applies to, for their help and their check.
enum class TOptionScope {
  // Every command; none refuses it.
  Every,
  // The commands that call the server; the others refuse all of these with
  // one message.
  Remote,
  // The commands that declare the option's TCommandOption bit; the others
  // refuse it by name.
  Declared,
  // Acts before any command is read: the program's help lists it, no
  // command's help does, and no command refuses it.
  Program,
};

struct TOption {
  std::string_view Short;  // "-h", or empty
  std::string_view Name;   // "--help": the name the help and the messages use
  std::string_view Value;  // the value's name in the help ("FILE"); empty for a flag
  TOptionScope Scope;
  unsigned Bit;           // the TCommandOption bit for TOptionScope::Declared, else 0
  std::string_view Help;  // the rest of its help line
  // Puts the value (empty for a flag) into the arguments; raises EUsageError
  // for a value the option cannot take.
  void (*Apply)(TArguments& AArgs, const std::string& AValue);
};

// Every option, in the order the help lists them and the command check
// reports them.
std::span<const TOption> Options();

// Reads the line (without the program's name). Raises EUsageError for an
// unknown option, an option without its value, a value given to an option
// that takes none, and a value the option refuses (an unknown --format, an
// empty file name); the first fault on the line is the one reported.
TArguments ParseArguments(const std::vector<std::string>& AArgs);

}  // namespace qvr::cli
