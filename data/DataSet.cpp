// The dataset: its state, cursor, append buffer and the columns it keeps;
// see DataSet.h.
#include "data/DataSet.h"

#include <cstddef>

#include "platform/SysUtils.h"

namespace qvr::data {

namespace {

constexpr const char* kClosedMessage = "Cannot perform this operation on a closed dataset";
constexpr const char* kOpenMessage = "Cannot perform this operation on an open dataset";

}  // namespace

TAdaptedDataSet::TAdaptedDataSet() { FFieldDefs.FOwner = this; }
TAdaptedDataSet::~TAdaptedDataSet() = default;

void TAdaptedDataSet::CheckActive() const {
  if (!Active()) throw EDataSetError(kClosedMessage);
}

void TAdaptedDataSet::CheckInactive() const {
  if (Active()) throw EDataSetError(kOpenMessage);
}

void TAdaptedDataSet::FieldDefsChanging() {
  // The columns are rebuilt from the definitions at the next Open.
  CheckInactive();
  FDefsChanged = true;
}

void TAdaptedDataSet::CreateColumns() {
  FColumnDefs = FFieldDefs.Items();
  FColumnIndex = FFieldDefs.FIndex;
  FColumns.clear();
  FColumns.reserve(FColumnDefs.size());
  for (const auto& def : FColumnDefs) FColumns.emplace_back(def.DataType);
  FRowCount = 0;
  FDefsChanged = false;
}

void TAdaptedDataSet::Open() {
  if (Active()) return;
  if (FBeforeOpen) FBeforeOpen(*this);
  if (FDefsChanged) CreateColumns();
  FState = TDataSetState::dsBrowse;
  First();
  if (FAfterOpen) FAfterOpen(*this);
}

void TAdaptedDataSet::Close() {
  if (!Active()) return;
  if (FState == TDataSetState::dsInsert) Cancel();
  if (FBeforeClose) FBeforeClose(*this);
  FState = TDataSetState::dsInactive;
  if (FAfterClose) FAfterClose(*this);
}

void TAdaptedDataSet::CreateDataSet() {
  Close();
  CreateColumns();
  Open();
}

void TAdaptedDataSet::EmptyDataSet() {
  CheckActive();
  if (FState == TDataSetState::dsInsert) Cancel();
  for (auto& c : FColumns) c.Clear();
  FRowCount = 0;
  First();
}

TField TAdaptedDataSet::Fields(int AIndex) {
  if (AIndex < 0 || AIndex >= FieldCount()) throw EDataSetError("Field index out of range");
  return TField(*this, AIndex);
}

std::optional<TField> TAdaptedDataSet::FindField(std::string_view AName) {
  const int index = FColumnIndex.Find(AName);
  if (index < 0) return std::nullopt;
  return TField(*this, index);
}

TField TAdaptedDataSet::FieldByName(std::string_view AName) {
  if (auto f = FindField(AName)) return *f;
  throw EDataSetError(Format("Field '%s' not found", AName));
}

int TAdaptedDataSet::RecordCount() const {
  CheckActive();
  return static_cast<int>(FRowCount);
}

void TAdaptedDataSet::First() {
  CheckActive();
  FCursor = 0;
  FBof = true;
  FEof = FRowCount == 0;
}

void TAdaptedDataSet::Last() {
  CheckActive();
  FCursor = FRowCount == 0 ? 0 : FRowCount - 1;
  FBof = FRowCount == 0;
  FEof = true;
}

void TAdaptedDataSet::Next() {
  CheckActive();
  if (FState == TDataSetState::dsInsert) Post();
  if (FCursor + 1 < FRowCount) {
    ++FCursor;
    FBof = false;
  } else {
    FEof = true;
  }
}

void TAdaptedDataSet::Prior() {
  CheckActive();
  if (FState == TDataSetState::dsInsert) Post();
  if (FCursor > 0) {
    --FCursor;
    FEof = false;
  } else {
    FBof = true;
  }
}

bool TAdaptedDataSet::Eof() const {
  CheckActive();
  return FEof;
}

bool TAdaptedDataSet::Bof() const {
  CheckActive();
  return FBof;
}

int TAdaptedDataSet::RecNo() const {
  CheckActive();
  return FRowCount == 0 ? 0 : static_cast<int>(FCursor) + 1;
}

void TAdaptedDataSet::SetRecNo(int AValue) {
  CheckActive();
  if (AValue < 1 || static_cast<std::size_t>(AValue) > FRowCount) {
    throw EDataSetError("Record number out of range");
  }
  FCursor = static_cast<std::size_t>(AValue) - 1;
  FBof = false;
  FEof = false;
}

void TAdaptedDataSet::Append() {
  CheckActive();
  if (FState == TDataSetState::dsInsert) Post();
  FBuffer.assign(FColumns.size(), TValue());
  FState = TDataSetState::dsInsert;
}

void TAdaptedDataSet::Post() {
  CheckActive();
  if (FState != TDataSetState::dsInsert) return;
  AppendRecord(FBuffer);
  FBuffer.clear();
  FState = TDataSetState::dsBrowse;
  FCursor = FRowCount - 1;
  FBof = false;
  FEof = false;
}

void TAdaptedDataSet::Cancel() {
  CheckActive();
  FBuffer.clear();
  if (FState == TDataSetState::dsInsert) FState = TDataSetState::dsBrowse;
}

void TAdaptedDataSet::AppendRecord(std::initializer_list<TValue> AValues) {
  AppendRecord(std::vector<TValue>(AValues));
}

void TAdaptedDataSet::AppendRecord(const std::vector<TValue>& AValues) {
  CheckActive();
  if (AValues.size() > FColumns.size()) throw EDataSetError("Too many values for the record");
  for (std::size_t i = 0; i < FColumns.size(); ++i) {
    if (FColumnDefs[i].Required && (i >= AValues.size() || AValues[i].IsNull())) {
      throw EDataSetError(Format("Field '%s' must have a value", FColumnDefs[i].Name));
    }
  }
  std::size_t done = 0;
  try {
    for (; done < FColumns.size(); ++done) {
      if (done < AValues.size()) {
        FColumns[done].Append(AValues[done], FColumnDefs[done].Name);
      } else {
        FColumns[done].AppendNull();
      }
    }
  } catch (...) {
    // Take back the values already appended so that every column keeps the
    // same number of rows.
    for (std::size_t i = 0; i < done; ++i) FColumns[i].PopBack();
    throw;
  }
  ++FRowCount;
  if (FState == TDataSetState::dsBrowse) {
    FCursor = FRowCount - 1;
    FBof = false;
    FEof = false;
  }
}

TValue TAdaptedDataSet::Value(int ARow, int AColumn) const {
  CheckActive();
  if (ARow < 0 || static_cast<std::size_t>(ARow) >= FRowCount) {
    throw EDataSetError("Record number out of range");
  }
  return Column(AColumn).Get(static_cast<std::size_t>(ARow));
}

bool TAdaptedDataSet::IsNull(int ARow, int AColumn) const { return Value(ARow, AColumn).IsNull(); }

const TColumn& TAdaptedDataSet::Column(int AIndex) const {
  if (AIndex < 0 || AIndex >= FieldCount()) throw EDataSetError("Field index out of range");
  return FColumns[static_cast<std::size_t>(AIndex)];
}

TValue TAdaptedDataSet::CurrentValue(int AColumn) const {
  CheckActive();
  const TColumn& c = Column(AColumn);
  if (FState == TDataSetState::dsInsert) return FBuffer[static_cast<std::size_t>(AColumn)];
  if (FRowCount == 0) return TValue();
  return c.Get(FCursor);
}

void TAdaptedDataSet::SetBufferValue(int AColumn, const TValue& AValue) {
  CheckActive();
  Column(AColumn);
  if (FState != TDataSetState::dsInsert) {
    throw EDataSetError("Dataset not in insert mode");
  }
  // Check now that the value fits, so that the error points at the setter.
  TColumn probe(FColumnDefs[static_cast<std::size_t>(AColumn)].DataType);
  probe.Append(AValue, FColumnDefs[static_cast<std::size_t>(AColumn)].Name);
  FBuffer[static_cast<std::size_t>(AColumn)] = probe.Get(0);
}

void TAdaptedDataSet::LoadData(std::vector<TFieldDef> ADefs, std::vector<TColumn> AColumns) {
  CheckInactive();
  if (ADefs.size() != AColumns.size()) throw EDataSetError("Column count mismatch");
  const std::size_t rows = AColumns.empty() ? 0 : AColumns.front().Size();
  TFieldDefs defs;
  for (std::size_t i = 0; i < ADefs.size(); ++i) {
    defs.Add(ADefs[i].Name, ADefs[i].DataType, ADefs[i].Required);
    if (AColumns[i].DataType() != ADefs[i].DataType || AColumns[i].Size() != rows) {
      throw EDataSetError("Column does not match its definition");
    }
  }
  FFieldDefs.FItems = std::move(defs.FItems);
  FColumnIndex = defs.FIndex;
  FFieldDefs.FIndex = std::move(defs.FIndex);
  FColumnDefs = std::move(ADefs);
  FColumns = std::move(AColumns);
  FRowCount = rows;
  FDefsChanged = false;
  Open();
}

}  // namespace qvr::data
