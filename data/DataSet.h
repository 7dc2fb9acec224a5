// The dataset of the small dataset library: named, typed, nullable columns and
// rows, kept column by column in memory, with an open/closed state, a cursor,
// an append buffer and typed field accessors. TAdaptedDataSet is the class the
// rest of the core passes around (dataset lists hold it); TMemTable
// (data/MemTable.h) adds the storage formats.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "data/DataSetExceptions.h"
#include "data/detail/NameIndex.h"
#include "platform/Classes.h"
#include "platform/SysUtils.h"

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

// A column definition: name (unique within the dataset, compared without
// regard to ASCII case), type and whether nulls are refused on Post.
struct TFieldDef {
  std::string Name;
  TFieldType DataType = TFieldType::ftString;
  bool Required = false;
  bool operator==(const TFieldDef&) const = default;
};

class TAdaptedDataSet;

// The column definitions of a dataset; changed only while it is closed.
class TFieldDefs {
 public:
  TFieldDefs() = default;
  // Copies are free-standing definitions: only the items are copied.
  TFieldDefs(const TFieldDefs& AOther) : FItems(AOther.FItems), FIndex(AOther.FIndex) {}
  // Replaces the items (refused while the owning dataset is open).
  TFieldDefs& operator=(const TFieldDefs& AOther);

  // Adds a column. Raises EDataSetError "Duplicate field name '%s'" for a name
  // already defined, "Field name is empty" for an empty one, and "Cannot
  // perform this operation on an open dataset" when its dataset is open.
  const TFieldDef& Add(const std::string& AName, TFieldType ADataType, bool ARequired = false);
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  const TFieldDef& operator[](int AIndex) const {
    return FItems.at(static_cast<std::size_t>(AIndex));
  }
  // Index of the column named AName (ASCII case ignored), or -1. Constant
  // time: names are hashed.
  int IndexOf(std::string_view AName) const { return FIndex.Find(AName); }
  const std::vector<TFieldDef>& Items() const { return FItems; }

 private:
  friend class TAdaptedDataSet;
  std::vector<TFieldDef> FItems;
  detail::TNameIndex FIndex;  // the names of FItems
  // The dataset these belong to (null for free-standing definitions): it
  // refuses changes while open and rebuilds its columns after one.
  TAdaptedDataSet* FOwner = nullptr;
};

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

enum class TDataSetState { dsInactive, dsBrowse, dsInsert };

// Options that decide how a dataset is stored.
class TResourceOptions {
 public:
  // The format version the binary storage writes into its header; -1 (the
  // default) writes the library's own version, 16. Raises
  // EArgumentOutOfRangeException for a value outside -1..65535.
  int StoreVersion() const { return FStoreVersion; }
  void SetStoreVersion(int AValue);

 private:
  int FStoreVersion = -1;
};

using TDataSetNotifyEvent = std::function<void(TAdaptedDataSet& DataSet)>;

// A dataset: column definitions, rows kept in memory, open or closed.
//
// Define the columns with FieldDefs() while closed, Open() (which creates the
// columns on first opening), then append rows with AppendRecord({...}) or with
// Append(), FieldByName(...).SetAs...(), Post(). Read with First()/Next()/Eof()
// and the field getters, or directly with Value(row, column). Close() keeps the
// columns and rows: opening again shows them as they were (EmptyDataSet()
// drops the rows). Every operation that needs an open dataset raises
// EDataSetError "Cannot perform this operation on a closed dataset" otherwise.
class TAdaptedDataSet : public TObject {
 public:
  TAdaptedDataSet();
  ~TAdaptedDataSet() override;
  TAdaptedDataSet(const TAdaptedDataSet&) = delete;
  TAdaptedDataSet& operator=(const TAdaptedDataSet&) = delete;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& AValue) { FName = AValue; }

  // Column definitions. Changing them while open raises EDataSetError
  // "Cannot perform this operation on an open dataset"; changing them drops
  // the rows at the next Open.
  TFieldDefs& FieldDefs() { return FFieldDefs; }
  const TFieldDefs& FieldDefs() const { return FFieldDefs; }
  TResourceOptions& ResourceOptions() { return FResourceOptions; }
  const TResourceOptions& ResourceOptions() const { return FResourceOptions; }

  // Runs BeforeOpen, makes the rows reachable (creating empty columns from
  // FieldDefs when the definitions changed since they were created), moves to
  // the first row and runs AfterOpen. Opening an open dataset does nothing. A
  // failing BeforeOpen leaves the dataset closed.
  void Open();
  // Cancels a pending append, runs BeforeClose, closes, runs AfterClose.
  void Close();
  bool Active() const { return FState != TDataSetState::dsInactive; }
  void SetActive(bool AValue) { AValue ? Open() : Close(); }
  TDataSetState State() const { return FState; }

  // Opens an empty dataset with the current FieldDefs, dropping any rows.
  void CreateDataSet();
  // Drops every row; the dataset stays open.
  void EmptyDataSet();

  int FieldCount() const { return static_cast<int>(FColumnDefs.size()); }
  // The field at AIndex; raises EDataSetError "Field index out of range".
  TField Fields(int AIndex);
  // The field named AName (ASCII case ignored); raises EDataSetError
  // "Field '%s' not found".
  TField FieldByName(std::string_view AName);
  std::optional<TField> FindField(std::string_view AName);

  // Rows (committed ones; a pending append is not counted).
  int RecordCount() const;
  bool IsEmpty() const { return RecordCount() == 0; }

  // Cursor. RecNo is 1-based; 0 on an empty dataset.
  void First();
  void Next();
  void Prior();
  void Last();
  bool Eof() const;
  bool Bof() const;
  int RecNo() const;
  void SetRecNo(int AValue);

  // Appending: Append() starts a new record (all null), field setters fill
  // it, Post() adds it as the last row and moves there (raises EDataSetError
  // "Field '%s' must have a value" for a null required field, leaving the
  // record pending), Cancel() drops it.
  void Append();
  void Post();
  void Cancel();
  // Appends one row: values in column order, missing trailing values null.
  // Raises EDataSetError for too many values or a value that does not fit; the
  // dataset is then unchanged.
  void AppendRecord(std::initializer_list<TValue> AValues);
  void AppendRecord(const std::vector<TValue>& AValues);

  // Direct read access by row (0-based) and column.
  TValue Value(int ARow, int AColumn) const;
  bool IsNull(int ARow, int AColumn) const;

  // The columns as stored; for the storage formats.
  const std::vector<TFieldDef>& ColumnDefs() const { return FColumnDefs; }
  const TColumn& Column(int AIndex) const;
  // Installs loaded columns: the dataset must be closed; it then holds
  // exactly these definitions and rows (FieldDefs becomes ADefs) and is open.
  // Every column must hold ARowCount rows and match its definition's type.
  void LoadData(std::vector<TFieldDef> ADefs, std::vector<TColumn> AColumns);

  void SetBeforeOpen(TDataSetNotifyEvent AEvent) { FBeforeOpen = std::move(AEvent); }
  void SetAfterOpen(TDataSetNotifyEvent AEvent) { FAfterOpen = std::move(AEvent); }
  void SetBeforeClose(TDataSetNotifyEvent AEvent) { FBeforeClose = std::move(AEvent); }
  void SetAfterClose(TDataSetNotifyEvent AEvent) { FAfterClose = std::move(AEvent); }

 protected:
  void CheckActive() const;
  void CheckInactive() const;

 private:
  friend class TField;
  friend class TFieldDefs;
  // Called by FFieldDefs before a change.
  void FieldDefsChanging();
  // The value of column AColumn at the current record, or the append buffer.
  TValue CurrentValue(int AColumn) const;
  void SetBufferValue(int AColumn, const TValue& AValue);
  void CreateColumns();

  std::string FName;
  TFieldDefs FFieldDefs;
  bool FDefsChanged = true;
  TResourceOptions FResourceOptions;
  TDataSetState FState = TDataSetState::dsInactive;
  std::vector<TFieldDef> FColumnDefs;
  detail::TNameIndex FColumnIndex;  // the names of FColumnDefs
  std::vector<TColumn> FColumns;
  std::size_t FRowCount = 0;
  // Cursor: index of the current row; FRowCount when past the end.
  std::size_t FCursor = 0;
  bool FBof = true;
  bool FEof = true;
  std::vector<TValue> FBuffer;
  TDataSetNotifyEvent FBeforeOpen, FAfterOpen, FBeforeClose, FAfterClose;
};

}  // namespace qvr::data
