// The kinds of column a dataset has (TFieldType, whose numbers are the type
// codes of the binary storage format) and the value that goes in and out of a
// column (TValue): null, an integer, a floating-point number, a Boolean, text
// or bytes. The column decides how a value is stored (data/Fields.h).
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "data/DataSetExceptions.h"

namespace qvr::data {

// The column types. The numbers are the type codes of the binary storage
// format (docs/dataset-format.md): never renumber them.
enum class TFieldType : std::uint8_t {
  ftInteger = 1,   // 32-bit signed integer
  ftLargeint = 2,  // 64-bit signed integer
  ftFloat = 3,     // IEEE-754 double
  ftBoolean = 4,
  ftString = 5,    // Unicode text, held as UTF-8
  ftDateTime = 6,  // TDateTime
  ftBytes = 7,     // arbitrary bytes
};

// Text name of a field type ("Integer", "Largeint", ...), for messages.
std::string FieldTypeName(TFieldType AType);
// True when AValue is the code of a TFieldType.
bool IsValidFieldType(std::uint8_t AValue) noexcept;

// A date and time as days since 30 December 1899 00:00 with the time of day as
// the fraction (the OLE automation date). Date-time values travel as such.
using TDateTime = double;
using TBytes = std::vector<std::uint8_t>;

// One value handed to or read from a dataset: null, an integer, a floating-point
// number (also date-time), a Boolean, text (UTF-8) or bytes. The column decides
// how the value is stored; a value that does not fit raises EDataSetError.
class TValue {
 public:
  TValue() = default;
  TValue(std::nullptr_t) {}
  // Any integer type; an unsigned value above the 64-bit signed range raises
  // EDataSetError rather than turn negative.
  template <std::integral I>
  requires(!std::is_same_v<I, bool>) TValue(I AValue) : FData(CheckedInt64(AValue)) {}
  TValue(double AValue) : FData(AValue) {}
  TValue(float AValue) : FData(double{AValue}) {}
  TValue(bool AValue) : FData(AValue) {}
  TValue(const char* AValue) : FData(std::string(AValue)) {}
  TValue(std::string AValue) : FData(std::move(AValue)) {}
  TValue(std::string_view AValue) : FData(std::string(AValue)) {}
  TValue(TBytes AValue) : FData(std::move(AValue)) {}

  bool IsNull() const { return std::holds_alternative<std::monostate>(FData); }
  const auto& Data() const { return FData; }
  bool operator==(const TValue&) const = default;

 private:
  template <std::integral I>
  static std::int64_t CheckedInt64(I AValue) {
    if constexpr (std::is_unsigned_v<I> && sizeof(I) >= sizeof(std::int64_t)) {
      if (AValue > static_cast<std::uint64_t>(INT64_MAX)) {
        throw EDataSetError("Integer value out of the 64-bit range");
      }
    }
    return static_cast<std::int64_t>(AValue);
  }

  std::variant<std::monostate, std::int64_t, double, bool, std::string, TBytes> FData;
};

}  // namespace qvr::data
