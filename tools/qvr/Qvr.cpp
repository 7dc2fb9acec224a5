// The whole run of qvr; see Qvr.h.
#include "tools/qvr/Qvr.h"

#include <memory>

#include "rest/RestExceptions.h"
#include "tools/qvr/Arguments.h"
#include "tools/qvr/ClientContext.h"
#include "tools/qvr/Commands.h"
#include "tools/qvr/Output.h"

namespace qvr::cli {

namespace {

constexpr int kSuccess = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const TCommand& ResolveCommand(const TArguments& AArgs, std::size_t& AUsed) {
  if (const TCommand* command = FindCommand(AArgs.Words, AUsed)) return *command;
  const std::string& first = AArgs.Words[0];
  if (IsGroup(first) && AArgs.Words.size() == 1) {
    throw EUsageError(first + " needs a command ('qvr " + first + " --help' lists them)");
  }
  const std::string name = IsGroup(first) ? first + " " + AArgs.Words[1] : first;
  throw EUsageError("unknown command '" + name + "' ('qvr --help' lists the commands)");
}

// "--host, --port, --uid and --session-file": the options of AScope.
std::string NamesOf(TOptionScope AScope) {
  std::vector<std::string_view> names;
  for (const TOption& option : Options()) {
    if (option.Scope == AScope) names.push_back(option.Name);
  }
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

void CheckLine(const TCommand& ACommand, const TArguments& AArgs, std::size_t AOperands) {
  // The declared options are checked first and in the table's order, and the
  // connection options after them as one message, whatever the order on the
  // line: one line always gets the same message.
  for (const TOption& option : Options()) {
    if (option.Scope == TOptionScope::Declared && (AArgs.Given & option.Bit) != 0 &&
        !Takes(ACommand, option)) {
      throw EUsageError(std::string(ACommand.Name) + " does not take " + std::string(option.Name));
    }
  }
  if (AArgs.ConnectionOptions && !ACommand.Remote) {
    throw EUsageError(std::string(ACommand.Name) +
                      " calls no server: " + NamesOf(TOptionScope::Remote) + " do not apply");
  }
  const auto count = static_cast<int>(AOperands);
  if (count < ACommand.MinOperands || (ACommand.MaxOperands >= 0 && count > ACommand.MaxOperands)) {
    throw EUsageError("usage: qvr " + Usage(ACommand));
  }
}

int RunCommand(const TArguments& AArgs, std::istream& AIn, std::ostream& AOut) {
  std::size_t used = 0;
  const TCommand& command = ResolveCommand(AArgs, used);
  if (AArgs.Help) {
    AOut << CommandHelp(command);
    return kSuccess;
  }
  CheckLine(command, AArgs, AArgs.Words.size() - used);
  TClientContext context(AArgs);
  TOutput output(AOut, AArgs.Format, AArgs.DataSet);
  TCommandRun run{AArgs,
                  {AArgs.Words.begin() + static_cast<std::ptrdiff_t>(used), AArgs.Words.end()},
                  output,
                  context,
                  AIn};
  if (!command.Remote) {
    command.Run(run);
    return kSuccess;
  }
  context.BeginCall();
  try {
    command.Run(run);
  } catch (...) {
    context.EndCall(true);
    throw;
  }
  context.EndCall(false);
  return kSuccess;
}

int Run(const std::vector<std::string>& AArgs, std::istream& AIn, std::ostream& AOut) {
  const TArguments args = ParseArguments(AArgs);
  if (args.Version) {
    client::TdmBaseCliente dm(args.ConfigFile);
    AOut << "qvr " << dm.Version() << '\n';
    return kSuccess;
  }
  if (args.Words.empty()) {
    if (args.Help) {
      AOut << ProgramHelp();
      return kSuccess;
    }
    throw EUsageError("no command given ('qvr --help' lists the commands)");
  }
  if (args.Help && IsGroup(args.Words[0]) && args.Words.size() == 1) {
    AOut << GroupHelp(args.Words[0]);
    return kSuccess;
  }
  return RunCommand(args, AIn, AOut);
}

}  // namespace

std::string OneLine(const std::string& AMessage) {
  std::string line;
  bool blank = false;
  for (const char c : AMessage) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      blank = true;
      continue;
    }
    if (blank && !line.empty() && line.back() != ' ') line += ' ';
    blank = false;
    line += c;
  }
  return line;
}

int RunQvr(const std::vector<std::string>& AArgs, std::istream& AIn, std::ostream& AOut,
           std::ostream& AErr) {
  int status = kFailed;
  try {
    status = Run(AArgs, AIn, AOut);
  } catch (const EUsageError& AError) {
    AErr << "qvr: " << OneLine(AError.Message()) << '\n';
    status = kUsage;
  } catch (const rest::TRestProtocolException& AError) {
    // The message holds the status line; an answer of 203 to 299 has none.
    std::string message = OneLine(AError.Message());
    if (message.find(std::to_string(AError.Status())) == std::string::npos) {
      message =
          "status " + std::to_string(AError.Status()) + (message.empty() ? "" : ": ") + message;
    }
    AErr << "qvr: " << message << '\n';
    status = kFailed;
  } catch (const EAbort&) {
    // A silent abort is shown by nobody.
    status = kFailed;
  } catch (const std::exception& AError) {
    AErr << "qvr: " << OneLine(AError.what()) << '\n';
    status = kFailed;
  }
  AOut.flush();
  if (!AOut) {
    AErr << "qvr: the output could not be written\n";
    if (status == kSuccess) status = kFailed;
  }
  return status;
}

}  // namespace qvr::cli
