// qvr methods and qvr call: the server's method catalogue, and a call of any
// method in it with the arguments of the line. call prepares its command
// from the catalogue by the client core's rule (CatalogueMethod, the look-up
// of TRestCommand::Prepare with a catalogue), so that it reaches every
// method the server answers, those this build of qvr has no command for
// included; each argument is converted by the type code of its parameter
// before anything of the call is sent.
#include <memory>

#include "platform/StrUtils.h"
#include "rest/ProxyRest.h"
#include "rest/RestExceptions.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"
#include "tools/qvr/Commands.h"

namespace qvr::cli {

using rest::TJSONValue;
using rest::TParameter;
using rest::TParameterDirections;
using rest::TRestParameterMetaData;
using rest::TRestProxyMetaData;
using rest::TRestProxyMethod;
using rest::TValueTypes;

namespace {

std::string DirectionText(std::int32_t ADirection) {
  switch (ADirection) {
    case TParameterDirections::In:
      return "in";
    case TParameterDirections::Out:
      return "out";
    case TParameterDirections::InOut:
      return "in/out";
    case TParameterDirections::Return:
      return "return";
    default:
      return std::to_string(ADirection);
  }
}

// The catalogue as one table, a row per parameter (a method without any
// has one row of its own, so that every method shows).
std::unique_ptr<rest::TDataSetList> CatalogueTable(const TRestProxyMetaData& ACatalogue) {
  using data::TFieldType;
  using data::TValue;
  auto table = std::make_unique<data::TMemTable>();
  table->FieldDefs().Add("Class", TFieldType::ftString);
  table->FieldDefs().Add("Method", TFieldType::ftString);
  table->FieldDefs().Add("Parameter", TFieldType::ftString);
  table->FieldDefs().Add("Direction", TFieldType::ftString);
  table->FieldDefs().Add("Type", TFieldType::ftInteger);
  table->FieldDefs().Add("TypeName", TFieldType::ftString);
  table->CreateDataSet();
  for (const auto& serverClass : ACatalogue.Classes) {
    for (const auto& method : serverClass.Methods) {
      if (method.Parameters.empty()) table->AppendRecord({serverClass.Name, method.Name});
      for (const TRestParameterMetaData& row : method.Parameters) {
        table->AppendRecord({serverClass.Name, method.Name, row.Name, DirectionText(row.Direction),
                             TValue(std::int64_t{row.ValueType}), row.TypeName});
      }
    }
  }
  auto list = std::make_unique<rest::TDataSetList>();
  list->AddDataSet("Methods", std::move(table));
  return list;
}

bool IsDataSetList(const TRestParameterMetaData& ARow) {
  return ARow.ValueType == TValueTypes::JSON && SameText(ARow.TypeName, "TDataSetList");
}

// What an argument of this parameter is, for messages.
std::string KindText(const TRestParameterMetaData& ARow) {
  switch (ARow.ValueType) {
    case TValueTypes::WideString:
      return "text";
    case TValueTypes::INT32:
      return "whole number";
    case TValueTypes::BOOL:
      return "true or false";
    case TValueTypes::JSON:
      if (IsDataSetList(ARow)) return "dataset list: FILE or -";
      if (SameText(ARow.TypeName, "TJSONObject")) return "JSON object: FILE or -";
      if (SameText(ARow.TypeName, "TJSONArray")) return "JSON array: FILE or -";
      return "JSON value: FILE or -";
    default:
      return ARow.TypeName;
  }
}

// "2 arguments, AArchivo (text) and ALista (dataset list: FILE or -)".
std::string Signature(const std::vector<TRestParameterMetaData>& AIn) {
  if (AIn.empty()) return "no argument";
  std::string text =
      std::to_string(AIn.size()) + (AIn.size() == 1 ? " argument, " : " arguments, ");
  for (std::size_t i = 0; i < AIn.size(); ++i) {
    if (i > 0) text += i + 1 == AIn.size() ? " and " : ", ";
    text += AIn[i].Name + " (" + KindText(AIn[i]) + ")";
  }
  return text;
}

// The JSON value that the file (or "-") AName holds, of the kind the
// parameter declares. Raises EUsageError naming the file otherwise.
std::unique_ptr<TJSONValue> JSONArgument(TCommandRun& ARun, const TRestParameterMetaData& ARow,
                                         const std::string& AName) {
  const std::string shown = InputName(AName);
  std::unique_ptr<TJSONValue> value = rest::ParseJSON(ReadInput(ARun, AName));
  if (!value) throw EUsageError(shown + " holds no JSON value");
  if (IsDataSetList(ARow)) {
    // Read as the server will read it, so that a file of another kind is
    // refused here; null is the absent list the client sends for none.
    if (value->IsNull()) return value;
    try {
      UnmarshalList(*value);
    } catch (const Exception&) {
      throw EUsageError(shown + " holds no dataset list (--format json prints one)");
    }
    return value;
  }
  if (SameText(ARow.TypeName, "TJSONObject") && value->AsObject() == nullptr) {
    throw EUsageError(shown + " holds no JSON object");
  }
  if (SameText(ARow.TypeName, "TJSONArray") && value->AsArray() == nullptr) {
    throw EUsageError(shown + " holds no JSON array");
  }
  return value;
}

// Puts the text AArgument of the line into the slot of AParameter,
// converted by its type code.
void SetArgument(TCommandRun& ARun, TParameter& AParameter, const TRestParameterMetaData& ARow,
                 const std::string& AArgument) {
  rest::TParameterValue& slot = AParameter.Value();
  switch (ARow.ValueType) {
    case TValueTypes::WideString:
      slot.SetWideString(AArgument);
      return;
    case TValueTypes::INT32: {
      std::int32_t number = 0;
      if (!TryDecimalToInt(AArgument, number)) {
        throw EUsageError(ARow.Name + " must be a whole number, not '" + AArgument + "'");
      }
      slot.SetInt32(number);
      return;
    }
    case TValueTypes::BOOL:
      if (SameText(AArgument, "true")) {
        slot.SetBoolean(true);
      } else if (SameText(AArgument, "false")) {
        slot.SetBoolean(false);
      } else {
        throw EUsageError(ARow.Name + " must be true or false, not '" + AArgument + "'");
      }
      return;
    case TValueTypes::JSON:
      slot.SetJSONValue(JSONArgument(ARun, ARow, AArgument));
      return;
    default:
      throw EUsageError("qvr cannot send " + ARow.Name + ", a parameter of type " +
                        TValueTypes::QualifiedName(ARow.ValueType) + " (" + ARow.TypeName + ")");
  }
}

// Prints one out or return parameter by its type: texts, numbers and
// Booleans as a line, dataset lists as the list commands print them, other
// JSON values as cache get prints them.
void PrintResult(TCommandRun& ARun, TParameter& AParameter, const TRestParameterMetaData& ARow) {
  rest::TParameterValue& slot = AParameter.Value();
  if (slot.Kind() != rest::TParameterValue::TKind::JSON && slot.IsNull()) {
    const rest::TJSONNull null;
    ARun.Out.Value(&null);
    return;
  }
  switch (slot.Kind()) {
    case rest::TParameterValue::TKind::Text:
      ARun.Out.Text(slot.GetWideString());
      return;
    case rest::TParameterValue::TKind::Int32: {
      const rest::TJSONNumber number(slot.GetInt32());
      ARun.Out.Value(&number);
      return;
    }
    case rest::TParameterValue::TKind::Boolean:
      ARun.Out.Boolean(slot.GetBoolean());
      return;
    default:
      break;
  }
  const TJSONValue* value = slot.JSONValue();
  if (value != nullptr && IsDataSetList(ARow) && !value->IsNull()) {
    ARun.Out.DataSetList(UnmarshalList(*value).get());
    return;
  }
  ARun.Out.Value(value);
}

// The class of ACatalogue that holds AMethod.
std::string ClassOf(const TRestProxyMetaData& ACatalogue, const TRestProxyMethod& AMethod) {
  for (const auto& serverClass : ACatalogue.Classes) {
    for (const auto& method : serverClass.Methods) {
      if (&method == &AMethod) return serverClass.Name;
    }
  }
  return {};
}

}  // namespace

void RunMethods(TCommandRun& ARun) {
  rest::TAdminRestClient admin(ARun.Context.dm().rest());
  const TRestProxyMetaData catalogue = admin.GetServerMethodParameters();
  if (ARun.Out.Format() == TFormat::JSON) {
    // The catalogue in the form the server sends it.
    ARun.Out.Value(rest::MethodCatalogueJSON(catalogue).get());
    return;
  }
  ARun.Out.DataSetList(CatalogueTable(catalogue).get());
}

void RunCall(TCommandRun& ARun) {
  const std::string& name = ARun.Operands[0];
  const std::vector<std::string> arguments(ARun.Operands.begin() + 1, ARun.Operands.end());
  auto& connection = ARun.Context.dm().rest();
  rest::TRestCommand command(connection);
  command.SetText(name);
  // The command's own rule for the name, before anything is sent.
  try {
    (void)command.CatalogueMethod({});
  } catch (const rest::TRestException&) {
    throw EUsageError("call takes CLASS.METHOD, such as TQVRServerMethods.EchoString, not '" +
                      name + "'");
  }
  std::size_t fromInput = 0;
  for (const std::string& argument : arguments) fromInput += argument == "-" ? 1 : 0;
  if (fromInput > 1) throw EUsageError("only one argument can be read from standard input");

  rest::TAdminRestClient admin(connection);
  const TRestProxyMetaData catalogue = admin.GetServerMethodParameters();
  const TRestProxyMethod* method = command.CatalogueMethod(catalogue);
  if (method == nullptr) {
    throw EUsageError("the server has no method " + name + " ('qvr methods' lists them)");
  }
  const std::string qualified = ClassOf(catalogue, *method) + "." + method->Name;
  // The table the look-up found (Prepare with the catalogue finds the same).
  // No verb is set: the table chooses it, POST when a parameter travels in
  // the body, GET otherwise.
  command.Prepare(method->Parameters);

  std::vector<TRestParameterMetaData> in;
  bool returnsList = false;
  for (const TRestParameterMetaData& row : method->Parameters) {
    if (TParameterDirections::IsIn(row.Direction)) in.push_back(row);
    if (TParameterDirections::IsOut(row.Direction) && IsDataSetList(row)) returnsList = true;
  }
  if (arguments.size() != in.size()) {
    throw EUsageError(qualified + " takes " + Signature(in) + ", not " +
                      std::to_string(arguments.size()));
  }
  if (ARun.Args.DataSet && !returnsList) {
    throw EUsageError("--dataset picks a dataset of a list, and " + qualified +
                      " returns no dataset list");
  }
  std::size_t next = 0;
  for (std::int32_t i = 0; i < command.Parameters()->Count(); ++i) {
    TParameter& parameter = command.Parameters()->GetParameterByOrdinal(i);
    if (!TParameterDirections::IsIn(parameter.ParameterDirection())) continue;
    const TRestParameterMetaData& row = method->Parameters[static_cast<std::size_t>(i)];
    SetArgument(ARun, parameter, row, arguments[next++]);
  }

  command.Execute(ARun.Args.Filter);
  if (SameText(qualified, rest::remote::ClearSession.QualifiedName())) {
    // The server ended the session and named none in its answer: the
    // session file must not keep the ended id.
    connection.ClearSessionID();
  }
  for (std::int32_t i = 0; i < command.Parameters()->Count(); ++i) {
    TParameter& parameter = command.Parameters()->GetParameterByOrdinal(i);
    if (!TParameterDirections::IsOut(parameter.ParameterDirection())) continue;
    // The answer stored nothing: the parameters hold only their initial
    // values, which are not the server's answer.
    if (!command.ResultStored()) throw EResultError(kNoJSONResult);
    PrintResult(ARun, parameter, method->Parameters[static_cast<std::size_t>(i)]);
  }
}

}  // namespace qvr::cli
