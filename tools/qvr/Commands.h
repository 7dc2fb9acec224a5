// The commands of qvr: the table that names them, with their operands, the
// options they declare and their help, and the functions that run them.
// Each function reads its operands, calls the data module (its
// configuration, or the server through its Client) and prints what came
// back through TOutput; errors are exceptions (EUsageError for what the user
// gave, the core's own exceptions for what failed), which the program's
// entry turns into one line on standard error and the exit status.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "rest/wire/RemoteMethods.h"
#include "tools/qvr/Arguments.h"
#include "tools/qvr/ClientContext.h"
#include "tools/qvr/Output.h"

namespace qvr::cli {

struct TCommandRun {
  const TArguments& Args;
  // The words after the command's name.
  std::vector<std::string> Operands;
  TOutput& Out;
  TClientContext& Context;
  // Standard input, for the operand "-".
  std::istream& In;
};

struct TCommand {
  std::string_view Name;      // "config set"
  std::string_view Operands;  // "[IP=...] [Puerto=...] [UID=...]"
  std::string_view Summary;   // one line
  std::string_view Help;      // what it does, in a few lines
  unsigned Options;           // the TCommandOption bits of the options it declares
  int MinOperands;
  int MaxOperands;  // -1: any number
  // Calls the server: the options of TOptionScope::Remote apply.
  bool Remote;
  void (*Run)(TCommandRun& ARun);
  // The remote methods it calls, as the interface describes them (a test
  // holds the table to the description).
  std::vector<const rest::TRemoteMethod*> Calls;
  // Calls, besides those, whatever method its line names (call): any method
  // of the server's catalogue, described or not.
  bool CallsAny = false;
};

// Every command, in the order the help lists them.
const std::vector<TCommand>& Commands();
// The command that AWords start with (one word, or a group and a word such
// as "config set"), and in AUsed how many words its name took; null when
// none matches.
const TCommand* FindCommand(const std::vector<std::string>& AWords, std::size_t& AUsed);
// Whether ACommand takes AOption, by the option's scope: its help lists the
// options it takes and the command check refuses the others (an option of
// TOptionScope::Program is taken by none, and refused by none either, since
// it acts before a command is read).
bool Takes(const TCommand& ACommand, const TOption& AOption);
// True for "config" and "cache", whose commands are two words.
bool IsGroup(std::string_view AWord);

// "NAME OPERANDS", as the help and the usage errors show a command.
std::string Usage(const TCommand& ACommand);

// The help texts --help prints.
std::string ProgramHelp();
std::string GroupHelp(std::string_view AGroup);
std::string CommandHelp(const TCommand& ACommand);

// The commands' functions (ConfigCommands.cpp, RemoteCommands.cpp,
// CacheCommands.cpp, CatalogueCommands.cpp).
void RunConfigShow(TCommandRun& ARun);
void RunConfigSet(TCommandRun& ARun);
void RunTest(TCommandRun& ARun);
void RunEcho(TCommandRun& ARun);
void RunReverse(TCommandRun& ARun);
void RunOpciones(TCommandRun& ARun);
void RunRelojes(TCommandRun& ARun);
void RunEmpresas(TCommandRun& ARun);
void RunPersonal(TCommandRun& ARun);
void RunExiste(TCommandRun& ARun);
void RunEmpleado(TCommandRun& ARun);
void RunActualizarEmpleado(TCommandRun& ARun);
void RunSubirAsistencia(TCommandRun& ARun);
void RunCacheGet(TCommandRun& ARun);
void RunCacheCommand(TCommandRun& ARun);
void RunCacheDelete(TCommandRun& ARun);
void RunMethods(TCommandRun& ARun);
void RunCall(TCommandRun& ARun);

// The whole text of a file, or of standard input for "-". Raises
// EUsageError "Cannot read FILE: <reason>", and "FILE is larger than 512 MB"
// beyond that.
std::string ReadInput(TCommandRun& ARun, const std::string& AName);
// How an input operand is named in messages ("-" is standard input).
std::string InputName(const std::string& AName);

}  // namespace qvr::cli
