// Tables for a terminal; see TextTable.h.
#include "tools/qvr/TextTable.h"

#include <algorithm>
#include <cstdio>

namespace qvr::cli {

using data::TFieldType;

namespace {

std::size_t Width(const std::string& AText) {
  std::size_t width = 0;
  for (const char c : AText) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  }
  return width;
}

std::string Shown(std::string AText) {
  for (char& c : AText) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return AText;
}

bool RightAligned(TFieldType AType) {
  return AType == TFieldType::ftInteger || AType == TFieldType::ftLargeint ||
         AType == TFieldType::ftFloat;
}

void Pad(std::string& ALine, std::size_t ACount) { ALine.append(ACount, ' '); }

// One line of cells; the last column is not padded, so no line ends in blanks.
void WriteLine(std::ostream& AOut, const std::vector<std::string>& ACells,
               const std::vector<std::size_t>& AWidths, const std::vector<bool>& ARight) {
  std::string line;
  for (std::size_t i = 0; i < ACells.size(); ++i) {
    if (i > 0) line += "  ";
    const std::size_t gap = AWidths[i] - Width(ACells[i]);
    const bool last = i + 1 == ACells.size();
    if (ARight[i]) Pad(line, gap);
    line += ACells[i];
    if (!ARight[i] && !last) Pad(line, gap);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  AOut << line << '\n';
}

std::vector<std::string> RowCells(data::TAdaptedDataSet& ADataSet) {
  std::vector<std::string> cells;
  cells.reserve(static_cast<std::size_t>(ADataSet.FieldCount()));
  for (int i = 0; i < ADataSet.FieldCount(); ++i)
    cells.push_back(Shown(FieldText(ADataSet.Fields(i))));
  return cells;
}

}  // namespace

std::string FieldText(const data::TField& AField) {
  if (AField.IsNull()) return {};
  if (AField.DataType() != TFieldType::ftBytes) return AField.AsString();
  std::string hex;
  for (const std::uint8_t b : AField.AsBytes()) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", b);
    hex += digits;
  }
  return hex;
}

void WriteTable(std::ostream& AOut, const std::string& AName, data::TAdaptedDataSet& ADataSet) {
  const int rows = ADataSet.RecordCount();
  AOut << Shown(AName) << ": " << rows << (rows == 1 ? " row" : " rows") << '\n';
  const auto count = static_cast<std::size_t>(ADataSet.FieldCount());
  if (count == 0) return;
  std::vector<std::string> header;
  std::vector<std::size_t> widths;
  std::vector<bool> right;
  for (int i = 0; i < ADataSet.FieldCount(); ++i) {
    const data::TFieldDef& def = ADataSet.ColumnDefs()[static_cast<std::size_t>(i)];
    header.push_back(Shown(def.Name));
    widths.push_back(Width(header.back()));
    right.push_back(RightAligned(def.DataType));
  }
  // Two passes over the rows, so that a list of any length is laid out
  // without holding its text.
  for (ADataSet.First(); !ADataSet.Eof(); ADataSet.Next()) {
    const auto cells = RowCells(ADataSet);
    for (std::size_t i = 0; i < count; ++i) widths[i] = std::max(widths[i], Width(cells[i]));
  }
  WriteLine(AOut, header, widths, right);
  std::vector<std::string> rule;
  for (const std::size_t width : widths) rule.emplace_back(width, '-');
  WriteLine(AOut, rule, widths, std::vector<bool>(count, false));
  for (ADataSet.First(); !ADataSet.Eof(); ADataSet.Next()) {
    WriteLine(AOut, RowCells(ADataSet), widths, right);
  }
}

void WriteNameValues(std::ostream& AOut,
                     const std::vector<std::pair<std::string, std::string>>& APairs) {
  std::size_t width = 0;
  for (const auto& [name, value] : APairs) width = std::max(width, Width(Shown(name)));
  for (const auto& [name, value] : APairs) {
    std::string line = Shown(name);
    Pad(line, width - Width(line) + 2);
    line += Shown(value);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    AOut << line << '\n';
  }
}

}  // namespace qvr::cli
