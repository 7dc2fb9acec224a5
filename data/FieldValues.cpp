// The names and codes of the field types; see FieldValues.h.
#include "data/FieldValues.h"

namespace qvr::data {

std::string FieldTypeName(TFieldType AType) {
  switch (AType) {
    case TFieldType::ftInteger:
      return "Integer";
    case TFieldType::ftLargeint:
      return "Largeint";
    case TFieldType::ftFloat:
      return "Float";
    case TFieldType::ftBoolean:
      return "Boolean";
    case TFieldType::ftString:
      return "String";
    case TFieldType::ftDateTime:
      return "DateTime";
    case TFieldType::ftBytes:
      return "Bytes";
  }
  return "Unknown";
}

bool IsValidFieldType(std::uint8_t AValue) noexcept { return AValue >= 1 && AValue <= 7; }

}  // namespace qvr::data
