// What a command prints; see Output.h.
#include "tools/qvr/Output.h"

#include <utility>

#include "rest/json/JSONReflect.h"
#include "tools/qvr/PrettyJSON.h"
#include "tools/qvr/TextTable.h"

namespace qvr::cli {

using rest::TDataSetList;
using rest::TJSONObject;
using rest::TJSONValue;
using TKind = TJSONValue::TKind;

namespace {

// The class name a marshalled dataset list carries in its "type" member.
constexpr const char* kDataSetListType = "Data.DataSetJSONReflect.TDataSetList";

// A value's text in a table cell or a CSV field: strings as their text,
// null as nothing, objects and arrays as compact JSON.
std::string CellText(const TJSONValue* AValue) {
  if (AValue == nullptr || AValue->IsNull()) return {};
  if (const auto* text = AValue->AsString()) return text->IsNullString() ? "" : text->Value();
  return CompactJSON(*AValue);
}

bool IsMarshalledList(const TJSONValue& AValue) {
  const TJSONObject* object = AValue.AsObject();
  if (object == nullptr) return false;
  const TJSONValue* type = object->GetValue("type");
  return type != nullptr && type->Kind() == TKind::String &&
         type->AsString()->Value() == kDataSetListType;
}

}  // namespace

std::unique_ptr<TDataSetList> UnmarshalList(const TJSONValue& AValue) {
  std::unique_ptr<TObject> object = rest::TJSONConverters::GetJSONUnMarshaler()->Unmarshal(AValue);
  if (dynamic_cast<TDataSetList*>(object.get()) == nullptr) throw EInvalidCast();
  return std::unique_ptr<TDataSetList>(static_cast<TDataSetList*>(object.release()));
}

TOutput::TOutput(std::ostream& AOut, TFormat AFormat, std::optional<std::string> ADataSet)
    : FOut(AOut), FFormat(AFormat), FDataSet(std::move(ADataSet)) {}

void TOutput::Text(const std::string& AText) {
  if (FFormat == TFormat::JSON) {
    FOut << PrettyJSON(rest::TJSONString(AText)) << '\n';
  } else {
    FOut << AText << '\n';
  }
}

void TOutput::Boolean(bool AValue) { FOut << (AValue ? "true" : "false") << '\n'; }

void TOutput::DataSetList(const TDataSetList* AList) {
  if (AList == nullptr) {
    if (FFormat == TFormat::JSON) FOut << "null\n";
    return;
  }
  const std::vector<std::string> names = AList->Names();
  std::vector<int> chosen;
  for (int i = 0; i < AList->Count(); ++i) {
    if (!FDataSet || names[static_cast<std::size_t>(i)] == *FDataSet) chosen.push_back(i);
  }
  if (FDataSet && chosen.empty()) {
    throw EResultError("the list holds no dataset named '" + *FDataSet + "'");
  }
  if (FFormat == TFormat::JSON) {
    const auto marshal = rest::TJSONConverters::GetJSONMarshaler();
    if (!FDataSet) {
      FOut << PrettyJSON(*marshal->Marshal(AList)) << '\n';
      return;
    }
    // The chosen datasets in a list of their own that borrows them.
    TDataSetList part;
    part.SetOwnsDataSets(false);
    for (const int i : chosen) part.AddDataSet(*FDataSet, AList->DataSet(i));
    FOut << PrettyJSON(*marshal->Marshal(&part)) << '\n';
    return;
  }
  bool first = true;
  for (const int i : chosen) {
    if (!first) FOut << '\n';
    first = false;
    data::TAdaptedDataSet& dataset = AList->DataSet(i);
    if (FFormat == TFormat::Table) {
      WriteTable(FOut, names[static_cast<std::size_t>(i)], dataset);
      continue;
    }
    std::vector<std::string> cells;
    for (const auto& def : dataset.ColumnDefs()) cells.push_back(def.Name);
    WriteCsvRow(cells);
    for (dataset.First(); !dataset.Eof(); dataset.Next()) {
      cells.clear();
      for (int c = 0; c < dataset.FieldCount(); ++c) cells.push_back(FieldText(dataset.Fields(c)));
      WriteCsvRow(cells);
    }
  }
}

void TOutput::Object(const TJSONObject& AObject) {
  if (FFormat == TFormat::JSON) {
    FOut << PrettyJSON(AObject) << '\n';
    return;
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& member : AObject.Members()) {
    pairs.emplace_back(member.Name(), CellText(member.JsonValue()));
  }
  if (FFormat == TFormat::Table) {
    WriteNameValues(FOut, pairs);
    return;
  }
  std::vector<std::string> names;
  std::vector<std::string> values;
  for (auto& [name, value] : pairs) {
    names.push_back(std::move(name));
    values.push_back(std::move(value));
  }
  WriteCsvRow(names);
  WriteCsvRow(values);
}

void TOutput::Value(const TJSONValue* AValue) {
  if (AValue == nullptr) return;
  if (FFormat == TFormat::JSON) {
    FOut << PrettyJSON(*AValue) << '\n';
    return;
  }
  if (IsMarshalledList(*AValue)) {
    DataSetList(UnmarshalList(*AValue).get());
    return;
  }
  if (const TJSONObject* object = AValue->AsObject()) {
    Object(*object);
    return;
  }
  if (const auto* array = AValue->AsArray()) {
    for (const auto& element : array->Elements()) FOut << CellText(element.Get()) << '\n';
    return;
  }
  FOut << (AValue->IsNull() ? "null" : CellText(AValue)) << '\n';
}

void TOutput::WriteCsvRow(const std::vector<std::string>& ACells) {
  std::string line;
  for (std::size_t i = 0; i < ACells.size(); ++i) {
    if (i > 0) line += ',';
    const std::string& cell = ACells[i];
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
      line += cell;
      continue;
    }
    line += '"';
    for (const char c : cell) {
      if (c == '"') line += '"';
      line += c;
    }
    line += '"';
  }
  FOut << line << '\n';
}

}  // namespace qvr::cli
