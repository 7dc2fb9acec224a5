// The command line of qvr and the table of its options; see Arguments.h.
#include "tools/qvr/Arguments.h"

#include <bit>

namespace qvr::cli {

namespace {

// What the rows put into TArguments: a flag sets its field, a value is
// stored as given; the rows that check their value have a function of
// their own.
template <auto AField>
void Set(TArguments& AArgs, const std::string&) {
  AArgs.*AField = true;
}

template <auto AField>
void Store(TArguments& AArgs, const std::string& AValue) {
  AArgs.*AField = AValue;
}

const std::string& Required(const std::string& AValue, const char* AMessage) {
  if (AValue.empty()) throw EUsageError(AMessage);
  return AValue;
}

void SetFormat(TArguments& AArgs, const std::string& AValue) {
  if (AValue == "table") {
    AArgs.Format = TFormat::Table;
  } else if (AValue == "json") {
    AArgs.Format = TFormat::JSON;
  } else if (AValue == "csv") {
    AArgs.Format = TFormat::CSV;
  } else {
    throw EUsageError("--format takes table, json or csv, not '" + AValue + "'");
  }
}

using enum TOptionScope;

constexpr TOption kOptions[] = {
    {"", "--config", "FILE", Every, 0, "read and write FILE instead of config.ini beside qvr",
     [](TArguments& AArgs, const std::string& AValue) {
       AArgs.ConfigFile = Required(AValue, "--config needs a file name");
     }},
    {"", "--host", "HOST", Remote, 0, "call HOST instead of the IP of config.ini (not written)",
     Store<&TArguments::Host>},
    {"", "--port", "PORT", Remote, 0, "call PORT instead of the Puerto of config.ini (not written)",
     Store<&TArguments::Port>},
    {"", "--uid", "UID", Remote, 0, "call as UID instead of the UID of config.ini (not written)",
     Store<&TArguments::Uid>},
    {"", "--session-file", "FILE", Remote, 0,
     "keep the server's session id in FILE from one run to the next",
     [](TArguments& AArgs, const std::string& AValue) {
       AArgs.SessionFile = Required(AValue, "--session-file needs a file name");
     }},
    {"", "--format", "table|json|csv", Every, 0, "how results are printed (table by default)",
     SetFormat},
    {"", "--filter", "FILTER", Declared, coFilter, "send FILTER as the request filter",
     Store<&TArguments::Filter>},
    {"", "--cache", "", Declared, coCache,
     "leave the result in the server's cache, print its item path", Set<&TArguments::Cache>},
    {"", "--completo", "", Declared, coCompleto, "every column (ListaPersonalCompleta)",
     Set<&TArguments::Completo>},
    {"", "--dataset", "NAME", Declared, coDataSet,
     "only the dataset NAME of a list (subir-asistencia: its name)",
     [](TArguments& AArgs, const std::string& AValue) {
       AArgs.DataSet = Required(AValue, "--dataset needs a name");
     }},
    {"-h", "--help", "", Every, 0, "this help", Set<&TArguments::Help>},
    {"", "--version", "", Program, 0, "the program's version", Set<&TArguments::Version>},
};

constexpr bool IsLetter(char AChar) {
  return (AChar >= 'a' && AChar <= 'z') || (AChar >= 'A' && AChar <= 'Z');
}

// A new row gets its names and its bit checked here rather than by a
// command that reports the wrong option.
constexpr bool WellFormed() {
  unsigned bits = 0;
  for (const TOption& option : kOptions) {
    if (!option.Name.starts_with("--")) return false;
    // A short name is "-" and a letter: "--" and "-7" are read as operands.
    if (!option.Short.empty() &&
        (option.Short.size() != 2 || option.Short[0] != '-' || !IsLetter(option.Short[1]))) {
      return false;
    }
    const bool declared = option.Scope == Declared;
    if (declared != std::has_single_bit(option.Bit) || (bits & option.Bit) != 0) return false;
    bits |= option.Bit;
    for (const TOption& other : kOptions) {
      if (&other != &option &&
          (other.Name == option.Name || (!option.Short.empty() && other.Short == option.Short))) {
        return false;
      }
    }
  }
  return true;
}
static_assert(WellFormed(), "an option's names or its command option bit are wrong");

const TOption* FindOption(std::string_view AName) {
  for (const TOption& option : kOptions) {
    if (AName == option.Name || AName == option.Short) return &option;
  }
  return nullptr;
}

}  // namespace

std::span<const TOption> Options() { return kOptions; }

TArguments ParseArguments(const std::vector<std::string>& AArgs) {
  TArguments result;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < AArgs.size(); ++i) {
    const std::string& word = AArgs[i];
    // A lone "-" is an operand (standard input), as are a negative number
    // (an employee code) and every word after "--".
    const bool negative = word.size() >= 2 && word[0] == '-' && word[1] >= '0' && word[1] <= '9';
    if (optionsEnded || word.size() < 2 || word[0] != '-' || negative) {
      result.Words.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    const auto equals = word.find('=');
    // Messages name the option as it was typed, "-h" as "-h".
    const std::string name = word.substr(0, equals);
    const TOption* option = FindOption(name);
    if (option == nullptr) throw EUsageError("unknown option " + name);
    const bool takesValue = !option->Value.empty();
    std::string value;
    if (equals != std::string::npos) {
      if (!takesValue) throw EUsageError(name + " takes no value");
      value = word.substr(equals + 1);
    } else if (takesValue) {
      if (i + 1 >= AArgs.size()) throw EUsageError(name + " needs a value");
      value = AArgs[++i];
    }
    option->Apply(result, value);
    if (option->Scope == Declared) result.Given |= option->Bit;
    if (option->Scope == Remote) result.ConnectionOptions = true;
  }
  return result;
}

}  // namespace qvr::cli
