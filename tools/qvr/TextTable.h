// Tables for a terminal: a dataset as aligned columns under its name, and
// name/value lines with the values in one column. Widths count characters
// (UTF-8 code points), numbers stand to the right of their column, and
// control characters inside a value show as blanks so that a value can never
// break the layout.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "data/DataSet.h"

namespace qvr::cli {

// The text of a field's current value: empty for null, the field's own text
// (integers in decimal, date-times "YYYY-MM-DD HH:MM:SS", Booleans
// "True"/"False") and bytes in hexadecimal.
std::string FieldText(const data::TField& AField);

// ADataSet (open) under the line "<AName>: <n> rows", one header line with
// the column names, one line of dashes and one line per row. Moves the
// dataset's cursor.
void WriteTable(std::ostream& AOut, const std::string& AName, data::TAdaptedDataSet& ADataSet);

// One line per pair: the name, padded to the longest name, two blanks, the
// value.
void WriteNameValues(std::ostream& AOut,
                     const std::vector<std::pair<std::string, std::string>>& APairs);

}  // namespace qvr::cli
