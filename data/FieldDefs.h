// The column definitions of a dataset: a name (unique within the dataset,
// compared without regard to ASCII case), a type and whether nulls are
// refused. A dataset's definitions refuse changes while it is open; a copy is
// free-standing and may change at any time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "data/FieldValues.h"
#include "data/detail/NameIndex.h"

namespace qvr::data {

// A column definition: name, type and whether nulls are refused on Post.
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
  // already defined, "Field name is empty" for an empty one, "Field '%s' has
  // an unknown type" for a type code outside TFieldType, and "Cannot perform
  // this operation on an open dataset" when its dataset is open; nothing is
  // added then.
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

}  // namespace qvr::data
