// The command table of qvr and its help texts; see Commands.h.
#include <algorithm>

#include "tools/qvr/Commands.h"

namespace qvr::cli {

namespace {

namespace remote = rest::remote;

constexpr unsigned kList = coFilter | coCache | coDataSet;

const std::vector<TCommand> kCommands = {
    {"config show",
     "",
     "the server, port and UID in config.ini, the file and whether it exists",
     "Prints the server address (IP), the port (Puerto) and the UID that config.ini holds,\n"
     "with the defaults a client uses when a value or the file is missing (127.0.0.1,\n"
     "8080, empty), the file's full path (File) and whether it exists (Exists).",
     0,
     0,
     0,
     false,
     RunConfigShow,
     {}},
    {"config set",
     "[IP=...] [Puerto=...] [UID=...]",
     "write the server, port and UID as the options window saves them",
     "Writes the values given, exactly as the options window's \"Guardar\" does. The port\n"
     "is converted first (blanks before it, a sign, decimal digits, or hexadecimal ones\n"
     "after $, x or 0x, and nothing after them); when it does not convert, \"El puerto\n"
     "debe ser numerico\" is printed and nothing is written. Then IP, Puerto and UID are\n"
     "written in this order, each at once and exactly as typed; a value not given stays\n"
     "as it is. A file that cannot be written gives \"Unable to write to <file>\" and\n"
     "keeps what it held. Key names are read without regard to case.",
     0,
     1,
     3,
     false,
     RunConfigSet,
     {}},
    {"test",
     "",
     "test the connection to the server",
     "Tests the connection as the client core does (TestConnection: the server's\n"
     "platform name is asked for) and prints the address that answered.",
     0,
     0,
     0,
     true,
     RunTest,
     {&remote::GetPlatformName}},
    {"echo",
     "TEXT",
     "the server's EchoString of TEXT",
     "Prints what the server's EchoString answers for TEXT.",
     coFilter,
     1,
     1,
     true,
     RunEcho,
     {&remote::EchoString}},
    {"reverse",
     "TEXT",
     "the server's ReverseString of TEXT",
     "Prints what the server's ReverseString answers for TEXT.",
     coFilter,
     1,
     1,
     true,
     RunReverse,
     {&remote::ReverseString}},
    {"opciones",
     "",
     "the server's options (CargarOpciones)",
     "Loads the server's options into the data module (CargarOpciones) and prints them.\n"
     "With --cache, Opciones_Cache leaves them in the server's cache and the item path\n"
     "is printed; --filter goes only with --cache, since CargarOpciones sends none.",
     coFilter | coCache,
     0,
     0,
     true,
     RunOpciones,
     {&remote::Opciones}},
    {"relojes",
     "",
     "the time clocks (ListaRelojes)",
     "Prints the dataset list of ListaRelojes: the time clocks.",
     kList,
     0,
     0,
     true,
     RunRelojes,
     {&remote::ListaRelojes}},
    {"empresas",
     "",
     "the companies (ListaEmpresas)",
     "Prints the dataset list of ListaEmpresas: the companies.",
     kList,
     0,
     0,
     true,
     RunEmpresas,
     {&remote::ListaEmpresas}},
    {"personal",
     "[--completo]",
     "the staff (ListaPersonalParcial, or ListaPersonalCompleta)",
     "Prints the dataset list of ListaPersonalParcial, the columns a clock needs, or\n"
     "with --completo that of ListaPersonalCompleta, with every column.",
     kList | coCompleto,
     0,
     0,
     true,
     RunPersonal,
     {&remote::ListaPersonalParcial, &remote::ListaPersonalCompleta}},
    {"existe",
     "CODIGO",
     "whether an employee has the code CODIGO (ExisteEmpleado)",
     "Prints true when the server's ExisteEmpleado finds an employee with the code\n"
     "CODIGO (a whole number), false otherwise.",
     coFilter,
     1,
     1,
     true,
     RunExiste,
     {&remote::ExisteEmpleado}},
    {"empleado",
     "CODIGO",
     "the record of the employee CODIGO (InfoEmpleado)",
     "Prints the object that the server's InfoEmpleado answers for the code CODIGO.\n"
     "A code no employee has (the server answers an empty object) is said so on\n"
     "standard error, with exit status 1.",
     coFilter | coCache,
     1,
     1,
     true,
     RunEmpleado,
     {&remote::InfoEmpleado}},
    {"actualizar-empleado",
     "FILE|-",
     "change an employee from a JSON object (ActualizarEmpleado)",
     "Sends the JSON object in FILE, or on standard input for -, to the server's\n"
     "ActualizarEmpleado and prints its answer: true when the employee was changed.\n"
     "An InfoEmpleado answer, edited, can be sent back as it is.",
     coFilter,
     1,
     1,
     true,
     RunActualizarEmpleado,
     {&remote::ActualizarEmpleado}},
    {"subir-asistencia",
     "NOMBRE FILE.csv",
     "upload attendance records from a CSV file (SubirAsistencia)",
     "Reads FILE.csv (or standard input for -): a header line naming the columns, then\n"
     "one line per record, fields separated by \",\" (or \";\" when the header has no\n"
     "\",\"). Each column is typed by its values: whole numbers as integers, dates\n"
     "YYYY-MM-DD with an optional time HH:MM or HH:MM:SS as date-times, anything else\n"
     "as text; an empty field is null. The table goes as the one dataset of a list\n"
     "(named Asistencia, or as --dataset says) to the server's SubirAsistencia under the\n"
     "file name NOMBRE, and its answer is printed: true when the records were stored.\n"
     "A line that cannot be read stops qvr with its line number before anything is sent.",
     coFilter | coDataSet,
     2,
     2,
     true,
     RunSubirAsistencia,
     {&remote::SubirAsistencia}},
    {"methods",
     "",
     "the server's methods and their parameters (GetServerMethodParameters)",
     "Prints the server's method catalogue: a line per parameter of every method, in\n"
     "order (the in-parameters, then the return value, which has no name), with its\n"
     "direction (in, out, in/out, return), its type code and the type the method\n"
     "declares; a method without parameters has one line of its own. With --format\n"
     "json, the catalogue as the server sends it.",
     0,
     0,
     0,
     true,
     RunMethods,
     {&remote::GetServerMethodParameters}},
    {"call",
     "CLASS.METHOD [ARG...]",
     "call any method of the server's catalogue with ARGs",
     "Calls the method CLASS.METHOD (as 'qvr methods' names it; letter case does not\n"
     "matter) with one ARG per in-parameter, in order. The command is prepared from the\n"
     "server's catalogue, which is asked for first, and each ARG is converted by its\n"
     "parameter's type before the call is sent: text as it stands, a whole number, true\n"
     "or false, and a JSON value, object or dataset list from the file ARG names (- for\n"
     "standard input; a list as --format json prints one). A wrong count or kind of\n"
     "ARG, or a method the server lacks, is a usage error and the call is not sent.\n"
     "The result is printed by its type, dataset lists as tables as the list commands\n"
     "print them; a method without a result prints nothing. Admin.ClearSession ends\n"
     "the session, and --session-file is emptied.",
     coFilter | coDataSet,
     1,
     -1,
     true,
     RunCall,
     {&remote::GetServerMethodParameters},
     true},
    {"cache get",
     "ITEMPATH",
     "a result left in the server's cache",
     "Fetches the value that a --cache call left in the server's cache under ITEMPATH\n"
     "(the item path it printed). The server keeps items for the session that left\n"
     "them: give both calls the same --session-file.",
     coFilter | coDataSet,
     1,
     1,
     true,
     RunCacheGet,
     {}},
    {"cache command",
     "ITEMPATH",
     "the cached command that a result belongs to",
     "Fetches the cached command that the item ITEMPATH belongs to (its path up to the\n"
     "last \"/\").",
     0,
     1,
     1,
     true,
     RunCacheCommand,
     {}},
    {"cache delete",
     "ITEMPATH",
     "delete from the server the cached command of a result",
     "Asks the server to delete the cached command that the item ITEMPATH belongs to.",
     0,
     1,
     1,
     true,
     RunCacheDelete,
     {}},
};

std::string CommandLines(std::string_view AGroup) {
  std::size_t width = 0;
  for (const auto& command : kCommands) width = std::max(width, Usage(command).size());
  std::string lines;
  for (const auto& command : kCommands) {
    if (!AGroup.empty() && !command.Name.starts_with(std::string(AGroup) + " ")) continue;
    const std::string usage = Usage(command);
    lines.append("  ").append(usage).append(width + 2 - usage.size(), ' ');
    lines.append(command.Summary).append("\n");
  }
  return lines;
}

// "--config FILE" or "-h, --help": the left column of the option's help line.
std::string Spelling(const TOption& AOption) {
  std::string spelling;
  if (!AOption.Short.empty()) spelling.append(AOption.Short).append(", ");
  spelling.append(AOption.Name);
  if (!AOption.Value.empty()) spelling.append(" ").append(AOption.Value);
  return spelling;
}

// The help lines of the options that ACommand takes, or of every option for
// a null ACommand; one column width for all, so that every help aligns them
// alike.
std::string OptionLines(const TCommand* ACommand) {
  std::size_t width = 0;
  for (const TOption& option : Options()) width = std::max(width, Spelling(option).size());
  std::string lines;
  for (const TOption& option : Options()) {
    if (ACommand != nullptr && !Takes(*ACommand, option)) continue;
    const std::string spelling = Spelling(option);
    lines.append("  ").append(spelling).append(width + 2 - spelling.size(), ' ');
    lines.append(option.Help).append("\n");
  }
  return lines;
}

constexpr std::string_view kExitStatus =
    "Exit status: 0 success; 1 a call or a write failed, or its answer lacks what is\n"
    "printed; 2 the command line or the input it names is wrong (nothing was sent or\n"
    "written; call may have asked for the catalogue, which changes nothing).\n";

}  // namespace

std::string Usage(const TCommand& ACommand) {
  std::string usage(ACommand.Name);
  if (!ACommand.Operands.empty()) usage.append(" ").append(ACommand.Operands);
  return usage;
}

const std::vector<TCommand>& Commands() { return kCommands; }

bool Takes(const TCommand& ACommand, const TOption& AOption) {
  switch (AOption.Scope) {
    case TOptionScope::Every:
      return true;
    case TOptionScope::Remote:
      return ACommand.Remote;
    case TOptionScope::Declared:
      return (ACommand.Options & AOption.Bit) != 0;
    case TOptionScope::Program:
      return false;
  }
  return false;
}

bool IsGroup(std::string_view AWord) { return AWord == "config" || AWord == "cache"; }

const TCommand* FindCommand(const std::vector<std::string>& AWords, std::size_t& AUsed) {
  if (AWords.empty()) return nullptr;
  std::string name = AWords[0];
  AUsed = 1;
  if (IsGroup(name)) {
    if (AWords.size() < 2) return nullptr;
    name += " " + AWords[1];
    AUsed = 2;
  }
  for (const auto& command : kCommands) {
    if (command.Name == name) return &command;
  }
  return nullptr;
}

std::string ProgramHelp() {
  std::string help =
      "Usage: qvr [OPTIONS] COMMAND [OPERANDS]\n"
      "\n"
      "The attendance suite's client for administrators and scripts. Like every client\n"
      "program of the suite it reads config.ini beside its executable (or the file\n"
      "--config names) and calls the attendance server that file names.\n"
      "\n"
      "Commands:\n";
  help += CommandLines("");
  help += "\nOptions:\n";
  help += OptionLines(nullptr);
  help += "\n";
  help += kExitStatus;
  help += "\n'qvr COMMAND --help' describes one command.\n";
  return help;
}

std::string GroupHelp(std::string_view AGroup) {
  return "Usage: qvr [OPTIONS] " + std::string(AGroup) + " COMMAND\n\nCommands:\n" +
         CommandLines(AGroup);
}

std::string CommandHelp(const TCommand& ACommand) {
  std::string help = "Usage: qvr [OPTIONS] " + Usage(ACommand) + "\n\n";
  help += std::string(ACommand.Help) + "\n\nOptions:\n";
  help += OptionLines(&ACommand);
  help += "\n";
  help += kExitStatus;
  return help;
}

}  // namespace qvr::cli
