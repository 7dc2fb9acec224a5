// Attendance records from a spreadsheet; see CsvReader.h.
#include "tools/qvr/CsvReader.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Utf.h"

namespace qvr::cli {

using data::TFieldType;
using data::TValue;

namespace {

struct TCell {
  std::string Text;
  bool Quoted = false;
};

struct TRecord {
  std::vector<TCell> Cells;
  int Line = 0;  // where the record starts, from 1
};

[[noreturn]] void Fail(int ALine, const std::string& AWhat) {
  throw ECsvError("line " + std::to_string(ALine) + ": " + AWhat);
}

// Splits the text into records, keeping the line each starts on.
class TRecordReader {
 public:
  TRecordReader(std::string_view AText, char ASeparator) : FText(AText), FSeparator(ASeparator) {}

  // False at the end of the text. Empty lines are skipped.
  bool Next(TRecord& ARecord) {
    while (FPos < FText.size() && LineEndAt(FPos) > 0) {
      FPos += LineEndAt(FPos);
      ++FLine;
    }
    if (FPos >= FText.size()) return false;
    ARecord.Cells.clear();
    ARecord.Line = FLine;
    for (;;) {
      ARecord.Cells.push_back(ReadCell(ARecord.Line));
      if (FPos >= FText.size()) return true;
      if (FText[FPos] == FSeparator) {
        ++FPos;
        continue;
      }
      FPos += LineEndAt(FPos);
      ++FLine;
      return true;
    }
  }

 private:
  // The length of the line break at APos (LF or CR LF), 0 when none is there.
  std::size_t LineEndAt(std::size_t APos) const {
    if (FText[APos] == '\n') return 1;
    if (FText[APos] == '\r' && APos + 1 < FText.size() && FText[APos + 1] == '\n') return 2;
    return 0;
  }

  bool AtFieldEnd() const {
    return FPos >= FText.size() || FText[FPos] == FSeparator || LineEndAt(FPos) > 0;
  }

  TCell ReadCell(int ARecordLine) {
    TCell cell;
    if (FPos < FText.size() && FText[FPos] == '"') {
      cell.Quoted = true;
      ++FPos;
      for (;;) {
        if (FPos >= FText.size()) Fail(ARecordLine, "a quoted field is not closed");
        const char c = FText[FPos++];
        if (c == '"') {
          if (FPos < FText.size() && FText[FPos] == '"') {
            cell.Text += '"';
            ++FPos;
            continue;
          }
          break;
        }
        if (c == '\n') ++FLine;
        cell.Text += c;
      }
      if (!AtFieldEnd()) Fail(FLine, "text after the closing quote of a field");
      return cell;
    }
    while (!AtFieldEnd()) cell.Text += FText[FPos++];
    return cell;
  }

  std::string_view FText;
  char FSeparator;
  std::size_t FPos = 0;
  int FLine = 1;
};

// "," unless the header line holds ";" and no "," (outside quotes).
char DetectSeparator(std::string_view AText) {
  bool quoted = false;
  bool comma = false;
  bool semicolon = false;
  for (const char c : AText) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\n') break;
    comma = comma || c == ',';
    semicolon = semicolon || c == ';';
  }
  return !comma && semicolon ? ';' : ',';
}

std::string_view TrimBlanks(std::string_view AText) {
  while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t')) AText.remove_prefix(1);
  while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t')) AText.remove_suffix(1);
  return AText;
}

// The text the type of a value is judged by.
std::string_view Judged(const TCell& ACell) {
  return ACell.Quoted ? std::string_view(ACell.Text) : TrimBlanks(ACell.Text);
}

bool IsDigit(char AChar) { return AChar >= '0' && AChar <= '9'; }

// A decimal integer without a leading zero: its value when it fits 64 bits.
// AShaped tells whether the text has the form at all.
std::optional<std::int64_t> IntegerValue(std::string_view AText, bool& AShaped) {
  std::string_view digits = AText;
  const bool negative = !digits.empty() && digits.front() == '-';
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
  AShaped = !digits.empty() && (digits.size() == 1 || digits.front() != '0');
  for (const char c : digits) AShaped = AShaped && IsDigit(c);
  if (!AShaped) return std::nullopt;
  // Read with its sign so that the lowest value fits.
  std::string text(negative ? "-" : "");
  text.append(digits);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Whether AText has the form of a date (and time): YYYY-MM-DD, optionally
// followed by " " or "T" and HH:MM or HH:MM:SS. AParts gets the numbers.
bool DateShaped(std::string_view AText, int (&AParts)[6]) {
  static constexpr std::string_view kForm = "dddd-dd-dd?dd:dd:dd";
  if (AText.size() != 10 && AText.size() != 16 && AText.size() != 19) return false;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char f = kForm[i];
    const char c = AText[i];
    if (f == 'd' ? !IsDigit(c) : f == '?' ? c != ' ' && c != 'T' : c != f) return false;
  }
  const auto number = [&](std::size_t APos, std::size_t ALength) {
    int value = 0;
    for (std::size_t i = APos; i < APos + ALength && i < AText.size(); ++i) {
      value = value * 10 + (AText[i] - '0');
    }
    return value;
  };
  AParts[0] = number(0, 4);
  AParts[1] = number(5, 2);
  AParts[2] = number(8, 2);
  AParts[3] = AText.size() > 10 ? number(11, 2) : 0;
  AParts[4] = AText.size() > 10 ? number(14, 2) : 0;
  AParts[5] = AText.size() > 16 ? number(17, 2) : 0;
  return true;
}

// Days from 1899-12-30 to the date (proleptic Gregorian calendar).
std::int64_t DaysSince1899(int AYear, int AMonth, int ADay) {
  const std::int64_t y = AYear - (AMonth <= 2 ? 1 : 0);
  const std::int64_t era = y / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (AMonth + (AMonth > 2 ? -3 : 9)) + 2) / 5 + ADay - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  // 693899: days from 0000-03-01 to 1899-12-30 in this count.
  return era * 146097 + doe - 693899;
}

// The date-time of a date-shaped text, or none when a part is out of range.
std::optional<data::TDateTime> DateTimeValue(const int (&AParts)[6]) {
  const int year = AParts[0];
  const int month = AParts[1];
  const int day = AParts[2];
  if (year < 1 || month < 1 || month > 12 || day < 1) return std::nullopt;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
  if (AParts[3] > 23 || AParts[4] > 59 || AParts[5] > 59) return std::nullopt;
  const double seconds = AParts[3] * 3600.0 + AParts[4] * 60.0 + AParts[5];
  return static_cast<double>(DaysSince1899(year, month, day)) + seconds / 86400.0;
}

// What the values of one column allow.
struct TColumnShape {
  bool Any = false;
  bool Integers = true;
  bool Int32s = true;
  bool Int64s = true;
  bool Dates = true;
  // The first date-shaped value that is no date, and its line.
  std::optional<std::pair<int, std::string>> BadDate;

  void See(std::string_view AText, int ALine) {
    Any = true;
    if (Integers) {
      bool shaped = false;
      const auto value = IntegerValue(AText, shaped);
      Integers = shaped;
      Int64s = Int64s && value.has_value();
      Int32s = Int32s && value && *value >= INT32_MIN && *value <= INT32_MAX;
    }
    if (Dates) {
      int parts[6];
      Dates = DateShaped(AText, parts);
      if (Dates && !BadDate && !DateTimeValue(parts)) BadDate.emplace(ALine, std::string(AText));
    }
  }

  TFieldType Type() const {
    if (!Any) return TFieldType::ftString;
    if (Integers && Int32s) return TFieldType::ftInteger;
    if (Integers && Int64s) return TFieldType::ftLargeint;
    if (Dates) return TFieldType::ftDateTime;
    return TFieldType::ftString;
  }
};

TValue CellValue(const TCell& ACell, TFieldType AType) {
  const std::string_view judged = Judged(ACell);
  if (judged.empty()) return TValue();
  switch (AType) {
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint: {
      bool shaped = false;
      return TValue(*IntegerValue(judged, shaped));
    }
    case TFieldType::ftDateTime: {
      int parts[6];
      DateShaped(judged, parts);
      return TValue(*DateTimeValue(parts));
    }
    default:
      return TValue(ACell.Text);
  }
}

}  // namespace

std::unique_ptr<data::TMemTable> ReadCsvTable(std::string_view AText) {
  const std::string text =
      SanitizeUtf8(AText.starts_with("\xEF\xBB\xBF") ? AText.substr(3) : AText);
  TRecordReader reader(text, DetectSeparator(text));

  TRecord header;
  if (!reader.Next(header)) throw ECsvError("the file has no header line");
  std::vector<std::string> names;
  for (std::size_t i = 0; i < header.Cells.size(); ++i) {
    const std::string name(TrimBlanks(header.Cells[i].Text));
    if (name.empty()) Fail(header.Line, "column " + std::to_string(i + 1) + " has no name");
    for (const auto& earlier : names) {
      if (SameText(earlier, name))
        Fail(header.Line, "the column name '" + name + "' appears twice");
    }
    names.push_back(name);
  }

  std::vector<TRecord> rows;
  std::vector<TColumnShape> shapes(names.size());
  for (TRecord record; reader.Next(record);) {
    if (record.Cells.size() != names.size()) {
      const std::size_t count = record.Cells.size();
      Fail(record.Line, std::to_string(count) + (count == 1 ? " field" : " fields") +
                            ", the header has " + std::to_string(names.size()));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string_view judged = Judged(record.Cells[i]);
      if (!judged.empty()) shapes[i].See(judged, record.Line);
    }
    rows.push_back(std::move(record));
  }

  auto table = std::make_unique<data::TMemTable>();
  std::vector<TFieldType> types;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const TColumnShape& shape = shapes[i];
    if (shape.Type() == TFieldType::ftDateTime && shape.BadDate) {
      Fail(shape.BadDate->first, names[i] + " '" + shape.BadDate->second + "' is not a valid date");
    }
    types.push_back(shape.Type());
    table->FieldDefs().Add(names[i], types.back());
  }
  table->CreateDataSet();
  std::vector<TValue> values(names.size());
  for (const TRecord& row : rows) {
    for (std::size_t i = 0; i < names.size(); ++i) values[i] = CellValue(row.Cells[i], types[i]);
    table->AppendRecord(values);
  }
  table->First();
  return table;
}

}  // namespace qvr::cli
