// Reading attendance CSV files into a typed table: the column types the
// values decide, the text forms spreadsheets write (separator, quotes, line
// breaks, byte-order mark), and the lines that cannot be read, named by
// their line number.
#include "tools/qvr/CsvReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvr::cli {
namespace {

using data::TFieldType;

// "Name:Type" for each column.
std::string Columns(const data::TAdaptedDataSet& ATable) {
  std::string text;
  for (const auto& def : ATable.ColumnDefs()) {
    if (!text.empty()) text += ",";
    text += def.Name + ":" + data::FieldTypeName(def.DataType);
  }
  return text;
}

// Each row as its fields' texts joined by "|", null as "~".
std::vector<std::string> Rows(data::TAdaptedDataSet& ATable) {
  std::vector<std::string> rows;
  for (ATable.First(); !ATable.Eof(); ATable.Next()) {
    std::string row;
    for (int i = 0; i < ATable.FieldCount(); ++i) {
      if (i > 0) row += "|";
      row += ATable.Fields(i).IsNull() ? "~" : ATable.Fields(i).AsString();
    }
    rows.push_back(row);
  }
  return rows;
}

struct TReadCase {
  const char* Note;
  const char* Text;
  const char* Columns;
  std::vector<std::string> Rows;
};

const TReadCase kReadCases[] = {
    {"the attendance columns",
     "Codigo,FechaHora,IDReloj,Tipo\n1001,2024-03-01 08:00:00,1,0\n1002,2024-03-01T08:05,,1\n",
     "Codigo:Integer,FechaHora:DateTime,IDReloj:Integer,Tipo:Integer",
     {"1001|2024-03-01 08:00:00|1|0", "1002|2024-03-01 08:05:00|~|1"}},
    {"a date alone is midnight; 29 February of a leap year",
     "Dia\n2024-02-29\n2000-02-29\n",
     "Dia:DateTime",
     {"2024-02-29 00:00:00", "2000-02-29 00:00:00"}},
    {"leading zeros keep a column as text",
     "Tarjeta,N\n0012345678,0\n0034,7\n",
     "Tarjeta:String,N:Integer",
     {"0012345678|0", "0034|7"}},
    {"the 32-bit bounds, then 64 bits",
     "A,B\n2147483647,2147483648\n-2147483648,-9\n+5,1\n",
     "A:Integer,B:Largeint",
     {"2147483647|2147483648", "-2147483648|-9", "5|1"}},
    {"beyond 64 bits is text", "A\n99999999999999999999\n", "A:String", {"99999999999999999999"}},
    {"one value that is no number makes text", "A\n1\nx\n", "A:String", {"1", "x"}},
    {"blanks around a number are ignored; a text keeps them",
     "N,T\n 1001 , Ana \n",
     "N:Integer,T:String",
     {"1001| Ana "}},
    {"an empty column is text, all null",
     "A,B\n1,\n2,\"\"\n",
     "A:Integer,B:String",
     {"1|~", "2|~"}},
    {"semicolons when the header has no comma",
     "Codigo;Nota\n1;uno, dos\n",
     "Codigo:Integer,Nota:String",
     {"1|uno, dos"}},
    {"a byte-order mark, CR LF and empty lines",
     "\xEF\xBB\xBF"
     "Codigo,Nombre\r\n1,Ana\r\n\r\n2,Luis\r\n",
     "Codigo:Integer,Nombre:String",
     {"1|Ana", "2|Luis"}},
    {"quotes around separators, line breaks and doubled quotes",
     "a,b\n1,\"dos\nl\xC3\xADneas \"\"x\"\"\"\n2,\"c,d\"\n",
     "a:Integer,b:String",
     {"1|dos\nl\xC3\xADneas \"x\"", "2|c,d"}},
    {"quoted numbers are numbers", "a\n\"12\"\n", "a:Integer", {"12"}},
    {"invalid UTF-8 reads as U+FFFD", "a\n\xFF\n", "a:String", {"\xEF\xBF\xBD"}},
    {"no final line break", "a,b\n1,2", "a:Integer,b:Integer", {"1|2"}},
    {"a header alone", "Codigo,FechaHora\n", "Codigo:String,FechaHora:String", {}},
};

TEST(ReadCsvTableTest, ColumnsAreTypedByTheirValues) {
  for (const auto& c : kReadCases) {
    const auto table = ReadCsvTable(c.Text);
    ASSERT_TRUE(table->Active()) << c.Note;
    EXPECT_EQ(Columns(*table), c.Columns) << c.Note;
    EXPECT_EQ(Rows(*table), c.Rows) << c.Note;
  }
}

TEST(ReadCsvTableTest, DateTimesAreDaysSince1899) {
  // Values the date-time library itself agrees with: day 0 is 1899-12-30.
  const auto table = ReadCsvTable("F\n1899-12-30\n1900-03-01 12:00\n2024-03-01 06:00:00\n");
  table->First();
  EXPECT_DOUBLE_EQ(table->Fields(0).AsDateTime(), 0.0);
  table->Next();
  EXPECT_DOUBLE_EQ(table->Fields(0).AsDateTime(), 61.5);
  table->Next();
  EXPECT_DOUBLE_EQ(table->Fields(0).AsDateTime(), 45352.25);
}

struct TErrorCase {
  const char* Text;
  const char* Message;
};

const TErrorCase kErrorCases[] = {
    {"", "the file has no header line"},
    {"\n\r\n", "the file has no header line"},
    {"a,,c\n", "line 1: column 2 has no name"},
    {"\n a ,A\n", "line 2: the column name 'A' appears twice"},
    {"a,b\n1\n", "line 2: 1 field, the header has 2"},
    {"a,b\n1,2\n\n3,4,5\n", "line 4: 3 fields, the header has 2"},
    {"a,b\n1,\"abc\n2,3\n", "line 2: a quoted field is not closed"},
    {"a,b\n1,\"x\"y\n", "line 2: text after the closing quote of a field"},
    // Lines are counted inside quoted fields too.
    {"a,b\n\"x\ny\",1\n2,3,4\n", "line 4: 3 fields, the header has 2"},
    {"Codigo,FechaHora\n1,2024-03-01\n2,2024-02-30 08:00:00\n",
     "line 3: FechaHora '2024-02-30 08:00:00' is not a valid date"},
    {"F\n2023-02-29\n", "line 2: F '2023-02-29' is not a valid date"},
    {"F\n2024-01-01 24:00\n", "line 2: F '2024-01-01 24:00' is not a valid date"},
    {"F\n2024-13-01\n", "line 2: F '2024-13-01' is not a valid date"},
};

TEST(ReadCsvTableTest, ABadLineIsNamed) {
  for (const auto& c : kErrorCases) {
    try {
      ReadCsvTable(c.Text);
      ADD_FAILURE() << "no error for: " << c.Text;
    } catch (const ECsvError& AError) {
      EXPECT_EQ(AError.Message(), c.Message) << c.Text;
    }
  }
}

}  // namespace
}  // namespace qvr::cli
