// Field types and values: the type codes and names that the storage formats
// write, and the integers a value takes.
#include "data/FieldValues.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace qvr::data {
namespace {

// The codes are those of the binary storage format and the names those of the
// JSON storage format, both from the tables of docs/dataset-format.md.
TEST(FieldValues, TypeCodesAndNamesAreThoseOfTheStorageFormats) {
  struct TRow {
    TFieldType Type;
    std::uint8_t Code;
    const char* Name;
  };
  const TRow rows[] = {
      {TFieldType::ftInteger, 1, "Integer"}, {TFieldType::ftLargeint, 2, "Largeint"},
      {TFieldType::ftFloat, 3, "Float"},     {TFieldType::ftBoolean, 4, "Boolean"},
      {TFieldType::ftString, 5, "String"},   {TFieldType::ftDateTime, 6, "DateTime"},
      {TFieldType::ftBytes, 7, "Bytes"},
  };
  for (const TRow& r : rows) {
    EXPECT_EQ(r.Code, static_cast<std::uint8_t>(r.Type)) << r.Name;
    EXPECT_EQ(r.Name, FieldTypeName(r.Type));
  }
  // Every other code is refused, and has no name of a type.
  for (int code = 0; code <= 255; ++code) {
    const auto byte = static_cast<std::uint8_t>(code);
    const bool known = code >= 1 && code <= 7;
    EXPECT_EQ(known, IsValidFieldType(byte)) << code;
    EXPECT_EQ(known, FieldTypeName(static_cast<TFieldType>(byte)) != "Unknown") << code;
  }
}

TEST(FieldValues, IntegerValuesOfEveryWidth) {
  EXPECT_EQ(TValue(std::int64_t{7}), TValue(static_cast<unsigned char>(7)));
  EXPECT_EQ(TValue(std::int64_t{-7}), TValue(-7LL));
  EXPECT_EQ(TValue(std::int64_t{INT64_MAX}), TValue(static_cast<std::uint64_t>(INT64_MAX)));
  EXPECT_THROW(TValue(static_cast<std::uint64_t>(INT64_MAX) + 1), EDataSetError);
}

}  // namespace
}  // namespace qvr::data
