// The column definitions; see FieldDefs.h.
#include "data/FieldDefs.h"

#include "data/DataSet.h"
#include "platform/SysUtils.h"

namespace qvr::data {

const TFieldDef& TFieldDefs::Add(const std::string& AName, TFieldType ADataType, bool ARequired) {
  if (FOwner != nullptr) FOwner->FieldDefsChanging();
  if (AName.empty()) throw EDataSetError("Field name is empty");
  if (!IsValidFieldType(static_cast<std::uint8_t>(ADataType))) {
    throw EDataSetError(Format("Field '%s' has an unknown type", AName));
  }
  if (!FIndex.Insert(AName, Count())) {
    throw EDataSetError(Format("Duplicate field name '%s'", AName));
  }
  FItems.push_back(TFieldDef{AName, ADataType, ARequired});
  return FItems.back();
}

TFieldDefs& TFieldDefs::operator=(const TFieldDefs& AOther) {
  if (this == &AOther) return *this;
  if (FOwner != nullptr) FOwner->FieldDefsChanging();
  FItems = AOther.FItems;
  FIndex = AOther.FIndex;
  return *this;
}

void TFieldDefs::Clear() {
  if (FOwner != nullptr) FOwner->FieldDefsChanging();
  FItems.clear();
  FIndex.Clear();
}

}  // namespace qvr::data
