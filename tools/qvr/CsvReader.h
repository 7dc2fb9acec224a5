// Attendance records from a spreadsheet: a CSV text with a header row read
// into one typed in-memory table, for qvr subir-asistencia.
//
// The text: UTF-8 (a byte-order mark is skipped, invalid sequences read as
// U+FFFD), lines ending in LF or CR LF, fields separated by "," (or by ";"
// when the header line holds ";" but no ",", as spreadsheets set to Spanish
// write them). A field in double quotes may hold the separator, line breaks
// and doubled quotes. Empty lines are skipped. The header names the columns;
// every other line is one row with exactly as many fields.
//
// The columns are typed by their values (blanks around an unquoted value
// are ignored for this; an empty field is null):
// - Integer when every value is a decimal integer (optional sign, no
//   leading zero) within 32 bits, Largeint when some only fit 64 bits;
// - DateTime when every value is a date YYYY-MM-DD, optionally followed by
//   a blank or "T" and HH:MM or HH:MM:SS;
// - String otherwise (so badge numbers with leading zeros stay as written).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "data/MemTable.h"
#include "platform/SysUtils.h"

namespace qvr::cli {

// A CSV text that cannot be read as a table; the message names the line
// ("line 7: 3 fields, the header has 4").
class ECsvError : public Exception {
 public:
  using Exception::Exception;
};

// The table ATable holds, open. Raises ECsvError for a text without a header
// line, an empty or repeated column name, a row with another number of
// fields than the header, a quoted field that is not closed or is followed
// by text, and a value that looks like a date but is none (2024-02-30) in a
// column of dates.
std::unique_ptr<data::TMemTable> ReadCsvTable(std::string_view AText);

}  // namespace qvr::cli
