// Columns and fields of a dataset. A TColumn holds the values of one column,
// one entry per row, in the form that suits its type; the storage formats read
// and fill columns directly. A TField is the typed view of one column at the
// dataset's current record, with the conversions between types that the
// getters and setters allow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "data/FieldValues.h"

namespace qvr::data {

// The values of one column, one entry per row, in the vector that suits its
// type; Nulls holds 1 for a null row (a null row still has an entry: 0, 0.0,
// false or empty text). Text and bytes share one buffer per column with the
// end offset of each row, so a column costs no allocation per row and at most
// nine bytes of memory per row beyond its text. The storage formats read and
// fill these directly.
class TColumn {
 public:
  explicit TColumn(TFieldType AType);

  TFieldType DataType() const { return FType; }
  std::size_t Size() const { return FNulls.size(); }
  void Reserve(std::size_t ACount);
  void Clear();
  // Drops the last row (for taking back a partly appended record).
  void PopBack();

  std::vector<std::uint8_t>& Nulls() { return FNulls; }
  const std::vector<std::uint8_t>& Nulls() const { return FNulls; }
  // ftInteger
  std::vector<std::int32_t>& Int32s() { return std::get<std::vector<std::int32_t>>(FValues); }
  const std::vector<std::int32_t>& Int32s() const {
    return std::get<std::vector<std::int32_t>>(FValues);
  }
  // ftLargeint
  std::vector<std::int64_t>& Int64s() { return std::get<std::vector<std::int64_t>>(FValues); }
  const std::vector<std::int64_t>& Int64s() const {
    return std::get<std::vector<std::int64_t>>(FValues);
  }
  // ftFloat and ftDateTime
  std::vector<double>& Doubles() { return std::get<std::vector<double>>(FValues); }
  const std::vector<double>& Doubles() const { return std::get<std::vector<double>>(FValues); }
  // ftBoolean (0 or 1)
  std::vector<std::uint8_t>& Booleans() { return std::get<std::vector<std::uint8_t>>(FValues); }
  const std::vector<std::uint8_t>& Booleans() const {
    return std::get<std::vector<std::uint8_t>>(FValues);
  }
  // ftString (UTF-8) and ftBytes: row ARow's bytes.
  std::string_view Text(std::size_t ARow) const;
  // ftString and ftBytes: appends a non-null row.
  void AppendText(std::string_view AValue);
  // ftString and ftBytes: the buffer of all rows' bytes, and the end offset of
  // each row in it.
  const std::string& TextBuffer() const { return Texts().Buffer; }
  // ftString and ftBytes: replaces every row at once, as a storage format
  // loads a column: ANulls one flag per row (1 null), ABuffer the bytes of
  // all rows and AEnds the end offset of each row's bytes in it (a null row's
  // are empty). Raises EDataSetError when the parts do not fit together; the
  // column is then unchanged.
  void AssignText(std::vector<std::uint8_t> ANulls, std::string ABuffer,
                  std::vector<std::size_t> AEnds);

  // The value of row ARow as a TValue (null, integer, double, Boolean, text or bytes).
  TValue Get(std::size_t ARow) const;
  // Appends AValue converted to the column's type; raises EDataSetError when it
  // does not fit (AFieldName names the column in the message).
  void Append(const TValue& AValue, const std::string& AFieldName);
  // Appends a null row.
  void AppendNull();

 private:
  struct TTextStore {
    std::string Buffer;
    std::vector<std::size_t> Ends;
  };
  TTextStore& Texts() { return std::get<TTextStore>(FValues); }
  const TTextStore& Texts() const { return std::get<TTextStore>(FValues); }

  TFieldType FType;
  std::vector<std::uint8_t> FNulls;
  std::variant<std::vector<std::int32_t>, std::vector<std::int64_t>, std::vector<double>,
               std::vector<std::uint8_t>, TTextStore>
      FValues;
};

class TAdaptedDataSet;

// Typed access to one column at the dataset's current record (the append
// buffer while a record is being appended). Getters of a null value give the
// type's empty value (0, false, empty text); getters convert where a
// conversion is lossless or textual, and raise EDataSetError "Cannot access
// field '%s' as type %s" otherwise. Setters work only while appending.
class TField {
 public:
  TField(TAdaptedDataSet& ADataSet, int AIndex) : FDataSet(&ADataSet), FIndex(AIndex) {}

  const std::string& FieldName() const;
  TFieldType DataType() const;
  int Index() const { return FIndex; }

  bool IsNull() const;
  TValue Value() const;
  std::int32_t AsInteger() const;
  std::int64_t AsLargeInt() const;
  double AsFloat() const;
  bool AsBoolean() const;
  // Integers in decimal, floats in the general format with up to 15
  // significant digits, Booleans "True"/"False", date-times
  // "YYYY-MM-DD HH:MM:SS", bytes as they are.
  std::string AsString() const;
  TDateTime AsDateTime() const;
  TBytes AsBytes() const;

  void SetValue(const TValue& AValue);
  void SetAsInteger(std::int32_t AValue) { SetValue(TValue(std::int64_t{AValue})); }
  void SetAsLargeInt(std::int64_t AValue) { SetValue(TValue(AValue)); }
  void SetAsFloat(double AValue) { SetValue(TValue(AValue)); }
  void SetAsBoolean(bool AValue) { SetValue(TValue(AValue)); }
  void SetAsString(const std::string& AValue) { SetValue(TValue(AValue)); }
  void SetAsDateTime(TDateTime AValue) { SetValue(TValue(AValue)); }
  void SetAsBytes(const TBytes& AValue) { SetValue(TValue(AValue)); }
  void Clear() { SetValue(TValue()); }

 private:
  TAdaptedDataSet* FDataSet;
  int FIndex;
};

}  // namespace qvr::data
