// The command line of qvr; see Arguments.h.
#include "tools/qvr/Arguments.h"

#include <string_view>

namespace qvr::cli {

namespace {

enum class TOptionId {
  Config,
  Host,
  Port,
  Uid,
  SessionFile,
  Format,
  Filter,
  Cache,
  Completo,
  DataSet,
  Help,
  Version
};

struct TOptionInfo {
  std::string_view Name;
  TOptionId Id;
  bool TakesValue;
};

constexpr TOptionInfo kOptions[] = {
    {"--config", TOptionId::Config, true},
    {"--host", TOptionId::Host, true},
    {"--port", TOptionId::Port, true},
    {"--uid", TOptionId::Uid, true},
    {"--session-file", TOptionId::SessionFile, true},
    {"--format", TOptionId::Format, true},
    {"--filter", TOptionId::Filter, true},
    {"--cache", TOptionId::Cache, false},
    {"--completo", TOptionId::Completo, false},
    {"--dataset", TOptionId::DataSet, true},
    {"--help", TOptionId::Help, false},
    {"-h", TOptionId::Help, false},
    {"--version", TOptionId::Version, false},
};

const TOptionInfo* FindOption(std::string_view AName) {
  for (const auto& info : kOptions) {
    if (info.Name == AName) return &info;
  }
  return nullptr;
}

TFormat ParseFormat(const std::string& AText) {
  if (AText == "table") return TFormat::Table;
  if (AText == "json") return TFormat::JSON;
  if (AText == "csv") return TFormat::CSV;
  throw EUsageError("--format takes table, json or csv, not '" + AText + "'");
}

void Apply(TArguments& AResult, const TOptionInfo& AInfo, const std::string& AValue) {
  const auto given = [&](TCommandOption AOption) { AResult.Given |= AOption; };
  switch (AInfo.Id) {
    case TOptionId::Config:
      if (AValue.empty()) throw EUsageError("--config needs a file name");
      AResult.ConfigFile = AValue;
      break;
    case TOptionId::Host:
      AResult.Host = AValue;
      AResult.ConnectionOptions = true;
      break;
    case TOptionId::Port:
      AResult.Port = AValue;
      AResult.ConnectionOptions = true;
      break;
    case TOptionId::Uid:
      AResult.Uid = AValue;
      AResult.ConnectionOptions = true;
      break;
    case TOptionId::SessionFile:
      if (AValue.empty()) throw EUsageError("--session-file needs a file name");
      AResult.SessionFile = AValue;
      AResult.ConnectionOptions = true;
      break;
    case TOptionId::Format:
      AResult.Format = ParseFormat(AValue);
      break;
    case TOptionId::Filter:
      AResult.Filter = AValue;
      given(coFilter);
      break;
    case TOptionId::Cache:
      AResult.Cache = true;
      given(coCache);
      break;
    case TOptionId::Completo:
      AResult.Completo = true;
      given(coCompleto);
      break;
    case TOptionId::DataSet:
      if (AValue.empty()) throw EUsageError("--dataset needs a name");
      AResult.DataSet = AValue;
      given(coDataSet);
      break;
    case TOptionId::Help:
      AResult.Help = true;
      break;
    case TOptionId::Version:
      AResult.Version = true;
      break;
  }
}

}  // namespace

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
    const std::string name = word.substr(0, equals);
    const TOptionInfo* info = FindOption(name);
    if (info == nullptr) throw EUsageError("unknown option " + name);
    std::string value;
    if (equals != std::string::npos) {
      if (!info->TakesValue) throw EUsageError(name + " takes no value");
      value = word.substr(equals + 1);
    } else if (info->TakesValue) {
      if (i + 1 >= AArgs.size()) throw EUsageError(name + " needs a value");
      value = AArgs[++i];
    }
    Apply(result, *info, value);
  }
  return result;
}

const char* OptionName(TCommandOption AOption) {
  switch (AOption) {
    case coFilter:
      return "--filter";
    case coCache:
      return "--cache";
    case coCompleto:
      return "--completo";
    case coDataSet:
      return "--dataset";
  }
  return "";
}

}  // namespace qvr::cli
