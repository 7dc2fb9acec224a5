// What qvr prints in each format: aligned tables for a terminal, CSV for
// scripts, indented JSON as the server sent it, name/value lines for
// objects, and the selection of one dataset of a list.
#include "tools/qvr/Output.h"

#include <gtest/gtest.h>

#include <sstream>

#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"
#include "tools/qvr/PrettyJSON.h"

namespace qvr::cli {
namespace {

using data::TFieldType;
using rest::TDataSetList;

// Personal (two rows of four typed columns, a non-ASCII name, a control
// character and a null) and Status (one row).
std::unique_ptr<TDataSetList> SampleList() {
  auto personal = std::make_unique<data::TMemTable>();
  personal->FieldDefs().Add("Codigo", TFieldType::ftInteger);
  personal->FieldDefs().Add("Nombre", TFieldType::ftString);
  personal->FieldDefs().Add("Alta", TFieldType::ftDateTime);
  personal->FieldDefs().Add("Activo", TFieldType::ftBoolean);
  personal->CreateDataSet();
  personal->AppendRecord({7, "\xC3\x81ngela", 45352.25, true});
  personal->AppendRecord({1001, "a\tb, \"c\"", nullptr, false});
  auto status = std::make_unique<data::TMemTable>();
  status->FieldDefs().Add("IDStatus", TFieldType::ftInteger);
  status->FieldDefs().Add("Descripcion", TFieldType::ftString);
  status->CreateDataSet();
  status->AppendRecord({1, "Activo"});
  auto list = std::make_unique<TDataSetList>();
  list->AddDataSet("Personal", std::move(personal));
  list->AddDataSet("Status", std::move(status));
  return list;
}

std::string Printed(TFormat AFormat, const std::function<void(TOutput&)>& APrint,
                    std::optional<std::string> ADataSet = {}) {
  std::ostringstream out;
  TOutput output(out, AFormat, std::move(ADataSet));
  APrint(output);
  return out.str();
}

TEST(OutputTest, ADatasetListAsAlignedTables) {
  const auto list = SampleList();
  // Widths count characters, numbers stand right, the tab shows as a blank,
  // and no line ends in blanks.
  EXPECT_EQ(Printed(TFormat::Table, [&](TOutput& AOut) { AOut.DataSetList(list.get()); }),
            "Personal: 2 rows\n"
            "Codigo  Nombre    Alta                 Activo\n"
            "------  --------  -------------------  ------\n"
            "     7  \xC3\x81ngela    2024-03-01 06:00:00  True\n"
            "  1001  a b, \"c\"                       False\n"
            "\n"
            "Status: 1 row\n"
            "IDStatus  Descripcion\n"
            "--------  -----------\n"
            "       1  Activo\n");
}

TEST(OutputTest, ADatasetListAsCsv) {
  const auto list = SampleList();
  EXPECT_EQ(Printed(TFormat::CSV, [&](TOutput& AOut) { AOut.DataSetList(list.get()); }),
            "Codigo,Nombre,Alta,Activo\n"
            "7,\xC3\x81ngela,2024-03-01 06:00:00,True\n"
            "1001,\"a\tb, \"\"c\"\"\",,False\n"
            "\n"
            "IDStatus,Descripcion\n"
            "1,Activo\n");
}

TEST(OutputTest, ADatasetListAsJsonIsItsMarshalledForm) {
  const auto list = SampleList();
  const std::string printed =
      Printed(TFormat::JSON, [&](TOutput& AOut) { AOut.DataSetList(list.get()); });
  const auto parsed = rest::ParseJSON(printed);
  ASSERT_NE(parsed, nullptr) << printed;
  EXPECT_EQ(rest::WriteJSON(*parsed),
            rest::WriteJSON(*rest::TJSONConverters::GetJSONMarshaler()->Marshal(list.get())));
  EXPECT_TRUE(printed.starts_with("{\n  \"type\": \"Data.DataSetJSONReflect.TDataSetList\",\n"))
      << printed.substr(0, 60);
}

TEST(OutputTest, DatasetPicksOneDatasetOfTheList) {
  const auto list = SampleList();
  EXPECT_EQ(Printed(
                TFormat::CSV, [&](TOutput& AOut) { AOut.DataSetList(list.get()); }, "Status"),
            "IDStatus,Descripcion\n1,Activo\n");
  const std::string json = Printed(
      TFormat::JSON, [&](TOutput& AOut) { AOut.DataSetList(list.get()); }, "Status");
  const auto back = rest::TJSONConverters::GetJSONUnMarshaler()->Unmarshal(*rest::ParseJSON(json));
  const auto* part = dynamic_cast<const TDataSetList*>(back.get());
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->Names(), std::vector<std::string>{"Status"});
  // Known only once the answer is there, after the call: a failed call
  // (exit status 1), never the usage error that says nothing was sent.
  try {
    Printed(
        TFormat::Table, [&](TOutput& AOut) { AOut.DataSetList(list.get()); }, "Nada");
    ADD_FAILURE() << "a dataset the list does not hold";
  } catch (const EUsageError&) {
    ADD_FAILURE() << "reported as a usage error";
  } catch (const EResultError& AError) {
    EXPECT_EQ(AError.Message(), "the list holds no dataset named 'Nada'");
  }
}

TEST(OutputTest, AnAbsentListPrintsNothingButJsonNull) {
  EXPECT_EQ(Printed(TFormat::Table, [](TOutput& AOut) { AOut.DataSetList(nullptr); }), "");
  EXPECT_EQ(Printed(TFormat::CSV, [](TOutput& AOut) { AOut.DataSetList(nullptr); }), "");
  EXPECT_EQ(Printed(TFormat::JSON, [](TOutput& AOut) { AOut.DataSetList(nullptr); }), "null\n");
}

const char* const kEmployee =
    R"({"Codigo":1001,"Nombre":"Beatriz","Nota":null,"Etiquetas":["a/b",2],"Otro":{"x":true}})";

TEST(OutputTest, AnObjectInEachFormat) {
  const auto employee = rest::ParseJSON(kEmployee);
  const auto print = [&](TOutput& AOut) { AOut.Object(*employee->AsObject()); };
  EXPECT_EQ(Printed(TFormat::Table, print),
            "Codigo     1001\n"
            "Nombre     Beatriz\n"
            "Nota\n"
            "Etiquetas  [\"a/b\",2]\n"
            "Otro       {\"x\":true}\n");
  EXPECT_EQ(Printed(TFormat::CSV, print),
            "Codigo,Nombre,Nota,Etiquetas,Otro\n"
            "1001,Beatriz,,\"[\"\"a/b\"\",2]\",\"{\"\"x\"\":true}\"\n");
  EXPECT_EQ(Printed(TFormat::JSON, print),
            "{\n"
            "  \"Codigo\": 1001,\n"
            "  \"Nombre\": \"Beatriz\",\n"
            "  \"Nota\": null,\n"
            "  \"Etiquetas\": [\n"
            "    \"a/b\",\n"
            "    2\n"
            "  ],\n"
            "  \"Otro\": {\n"
            "    \"x\": true\n"
            "  }\n"
            "}\n");
}

TEST(OutputTest, TextsAndBooleansArePlainLines) {
  EXPECT_EQ(Printed(TFormat::Table, [](TOutput& AOut) { AOut.Text("hola mundo"); }),
            "hola mundo\n");
  EXPECT_EQ(Printed(TFormat::CSV, [](TOutput& AOut) { AOut.Text("a,b"); }), "a,b\n");
  EXPECT_EQ(Printed(TFormat::JSON, [](TOutput& AOut) { AOut.Text("di \"hola\""); }),
            "\"di \\\"hola\\\"\"\n");
  for (const TFormat format : {TFormat::Table, TFormat::CSV, TFormat::JSON}) {
    EXPECT_EQ(Printed(format, [](TOutput& AOut) { AOut.Boolean(true); }), "true\n");
    EXPECT_EQ(Printed(format, [](TOutput& AOut) { AOut.Boolean(false); }), "false\n");
  }
}

TEST(OutputTest, AnyValueLeftInTheCache) {
  const auto list = SampleList();
  const auto marshalled = rest::TJSONConverters::GetJSONMarshaler()->Marshal(list.get());
  const auto value = [](const rest::TJSONValue* AValue) {
    return [AValue](TOutput& AOut) { AOut.Value(AValue); };
  };
  // A marshalled list shows as the list, in tables and CSV.
  EXPECT_EQ(Printed(TFormat::CSV, value(marshalled.get())),
            Printed(TFormat::CSV, [&](TOutput& AOut) { AOut.DataSetList(list.get()); }));
  const auto array = rest::ParseJSON(R"(["a",1,{"b":null}])");
  EXPECT_EQ(Printed(TFormat::Table, value(array.get())), "a\n1\n{\"b\":null}\n");
  const auto text = rest::ParseJSON(R"("\u00e9")");
  EXPECT_EQ(Printed(TFormat::Table, value(text.get())), "\xC3\xA9\n");
  const auto null = rest::ParseJSON("null");
  EXPECT_EQ(Printed(TFormat::Table, value(null.get())), "null\n");
  EXPECT_EQ(Printed(TFormat::Table, value(nullptr)), "");
  EXPECT_EQ(Printed(TFormat::JSON, value(text.get())), "\"\xC3\xA9\"\n");
}

TEST(PrettyJSONTest, EscapesOnlyWhatJsonNeeds) {
  const auto value = rest::ParseJSON(R"({"a\"b":["x\\y\/z\u0001\n\u00f1",-1.50e3],"e":{},"f":[]})");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(PrettyJSON(*value),
            "{\n"
            "  \"a\\\"b\": [\n"
            "    \"x\\\\y/z\\u0001\\n\xC3\xB1\",\n"
            "    -1.50e3\n"
            "  ],\n"
            "  \"e\": {},\n"
            "  \"f\": []\n"
            "}");
  EXPECT_EQ(CompactJSON(*value),
            "{\"a\\\"b\":[\"x\\\\y/z\\u0001\\n\xC3\xB1\",-1.50e3],\"e\":{},\"f\":[]}");
  // What it writes is JSON that reads back as the same value.
  EXPECT_EQ(rest::WriteJSON(*rest::ParseJSON(PrettyJSON(*value))), rest::WriteJSON(*value));
}

}  // namespace
}  // namespace qvr::cli
