// The dataset of the small dataset library: named, typed, nullable columns and
// rows, kept column by column in memory, with an open/closed state, a cursor,
// an append buffer and typed field accessors. TAdaptedDataSet is the class the
// rest of the core passes around (dataset lists hold it); TMemTable
// (data/MemTable.h) adds the storage formats. Its parts have units of their
// own: field types and values (FieldValues.h), column definitions
// (FieldDefs.h), columns and fields (Fields.h) and storage options
// (ResourceOptions.h); this header includes them all, so that a user of
// datasets needs only this one.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/DataSetExceptions.h"
#include "data/FieldDefs.h"
#include "data/FieldValues.h"
#include "data/Fields.h"
#include "data/ResourceOptions.h"
#include "data/detail/NameIndex.h"
#include "platform/Classes.h"

namespace qvr::data {

enum class TDataSetState { dsInactive, dsBrowse, dsInsert };

class TAdaptedDataSet;
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
