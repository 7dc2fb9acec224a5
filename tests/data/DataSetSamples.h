// Tables shared by the dataset tests and benchmarks: one with every column
// type, nulls, empty and non-ASCII text, and a generator of large mixed tables
// whose storage resembles what a server sends (staff and clock lists).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "data/MemTable.h"
#include "support/XorShift.h"

namespace qvr::test {

// Columns: ID Integer (required), Code Largeint, Name String, Salary Float,
// Active Boolean, Born DateTime, Photo Bytes. Rows: a full row, a row of
// nulls, a row of extremes with empty text and bytes, and a row of non-ASCII
// text (accents, CJK, an emoji outside the basic plane).
inline std::unique_ptr<data::TMemTable> MakeEveryTypeTable() {
  using data::TFieldType;
  auto t = std::make_unique<data::TMemTable>();
  t->SetName("Personal");
  t->FieldDefs().Add("ID", TFieldType::ftInteger, true);
  t->FieldDefs().Add("Code", TFieldType::ftLargeint);
  t->FieldDefs().Add("Name", TFieldType::ftString);
  t->FieldDefs().Add("Salary", TFieldType::ftFloat);
  t->FieldDefs().Add("Active", TFieldType::ftBoolean);
  t->FieldDefs().Add("Born", TFieldType::ftDateTime);
  t->FieldDefs().Add("Photo", TFieldType::ftBytes);
  t->CreateDataSet();
  t->AppendRecord(
      {1, std::int64_t{9000000000}, "Ana", 1234.5, true, 36526.75, data::TBytes{0, 1, 2, 255}});
  t->AppendRecord({2, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
  t->AppendRecord(
      {-2147483647 - 1, std::int64_t{INT64_MIN}, "", -0.0, false, -1.5, data::TBytes{}});
  t->AppendRecord({2147483647, std::int64_t{INT64_MAX},
                   "Jos\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80", 1e-300, true,
                   2958465.99998843, data::TBytes(300, 0x5A)});
  return t;
}

// ARows rows of mixed columns (ID, Empresa, Nombre, Tarjeta, Alta, Activo,
// Saldo, Foto, Notas), about 100 bytes of binary storage per row; Notas is
// null in one row of four.
inline std::unique_ptr<data::TMemTable> MakeMixedTable(int ARows) {
  using data::TFieldType;
  static const char* const kNames[] = {"Ana",
                                       "Luis",
                                       "Marta",
                                       "Jos\xC3\xA9",
                                       "Carmen",
                                       "Pedro",
                                       "Luc\xC3\xAD"
                                       "a",
                                       "Javier",
                                       "Elena",
                                       "Miguel"};
  static const char* const kSurnames[] = {
      "Garc\xC3\xAD"
      "a",
      "L\xC3\xB3pez",
      "Mart\xC3\xADnez",
      "S\xC3\xA1nchez",
      "P\xC3\xA9rez",
      "G\xC3\xB3mez",
      "Ruiz",
      "D\xC3\xAD"
      "az",
      "Moreno",
      "Mu\xC3\xB1oz"};
  auto t = std::make_unique<data::TMemTable>();
  t->SetName("Personal");
  t->FieldDefs().Add("ID", TFieldType::ftInteger, true);
  t->FieldDefs().Add("Empresa", TFieldType::ftInteger);
  t->FieldDefs().Add("Nombre", TFieldType::ftString);
  t->FieldDefs().Add("Tarjeta", TFieldType::ftLargeint);
  t->FieldDefs().Add("Alta", TFieldType::ftDateTime);
  t->FieldDefs().Add("Activo", TFieldType::ftBoolean);
  t->FieldDefs().Add("Saldo", TFieldType::ftFloat);
  t->FieldDefs().Add("Foto", TFieldType::ftBytes);
  t->FieldDefs().Add("Notas", TFieldType::ftString);
  t->CreateDataSet();
  test::TXorShift next(88172645463325252ull);
  std::vector<data::TValue> row(9);
  for (int i = 0; i < ARows; ++i) {
    const std::uint64_t r = next();
    std::string name = std::string(kNames[r % 10]) + " " + kSurnames[(r >> 8) % 10] + " " +
                       kSurnames[(r >> 16) % 10];
    data::TBytes photo(16);
    for (auto& b : photo) b = static_cast<std::uint8_t>(next());
    row[0] = i + 1;
    row[1] = static_cast<int>(r % 7 + 1);
    row[2] = std::move(name);
    row[3] = static_cast<std::int64_t>(1000000000 + (r >> 20) % 9000000000ull);
    row[4] = 40000.0 + static_cast<double>((r >> 12) % 10000) + 0.25;
    row[5] = (r & 1) != 0;
    row[6] = static_cast<double>(static_cast<std::int64_t>((r >> 24) % 1000000)) / 100.0;
    row[7] = std::move(photo);
    if (i % 4 == 3) {
      row[8] = nullptr;
    } else {
      row[8] = "Turno " + std::to_string(r % 3 + 1) + ", reloj " + std::to_string((r >> 4) % 40) +
               ", centro de trabajo " + std::to_string((r >> 32) % 12);
    }
    t->AppendRecord(row);
  }
  t->First();
  return t;
}

}  // namespace qvr::test
