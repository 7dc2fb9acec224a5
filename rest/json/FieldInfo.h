// Field tables: one row (TFieldInfo) per marshalled field of a class or
// record, with its literal wire name, its type description, where its value
// lives, and its attributes; Field and NoFormField make the rows.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "rest/json/JSONInterceptor.h"
#include "rest/json/TypeInfo.h"
#include "rest/json/detail/MemberAccess.h"

namespace qvr::rest {

// One row of a field table: the literal wire name, the type, where the value
// lives in its owner, and the attributes.
class TFieldInfo {
 public:
  TFieldInfo(std::string AName, const TTypeInfo& AType, void* (*ALocate)(void*))
      : FName(std::move(AName)), FType(&AType), FLocate(ALocate) {}

  // Attributes, chainable on a temporary: Field<...>("X").JSONOwned(false).
  TFieldInfo&& JSONMarshalled(bool AValue) && {
    FMarshalled = AValue;
    return std::move(*this);
  }
  TFieldInfo&& JSONOwned(bool AValue) && {
    FOwned = AValue;
    return std::move(*this);
  }
  TFieldInfo&& JSONReflect(TConverterType AConverter, TReverterType AReverter,
                           TInterceptorFactory AInterceptor, bool AIsMarshalOwned = true) && {
    FReflect =
        TJSONReflectAttribute{AConverter, AReverter, std::move(AInterceptor), AIsMarshalOwned};
    return std::move(*this);
  }
  // The declared type name that messages show, where the C++ type's own
  // name is not the one to show (e.g. "TDataSetListBase.TItemList").
  TFieldInfo&& DeclaredType(std::string AName) && {
    FDeclaredType = std::move(AName);
    return std::move(*this);
  }

  const std::string& Name() const noexcept { return FName; }
  const TTypeInfo& Type() const noexcept { return *FType; }
  std::string TypeName() const;
  bool Marshalled() const noexcept { return FMarshalled; }
  bool Owned() const noexcept { return FOwned; }
  const std::optional<TJSONReflectAttribute>& Reflect() const noexcept { return FReflect; }
  // Address of the value inside AOwner (the TObject* of the instance for a
  // class field, the record's address for a record field).
  void* Locate(void* AOwner) const { return FLocate(AOwner); }

 private:
  std::string FName;
  const TTypeInfo* FType;
  void* (*FLocate)(void*);
  bool FMarshalled = true;
  bool FOwned = true;
  std::optional<TJSONReflectAttribute> FReflect;
  std::string FDeclaredType;
};

// A field-table row for the data member AMember (of a class or a record)
// under the wire name AName; its kind follows from the member's C++ type.
template <auto AMember>
TFieldInfo Field(std::string AName) {
  using T = typename detail::TMemberPointer<decltype(AMember)>::Type;
  return TFieldInfo(std::move(AName), TypeInfoOf<T>(), &detail::LocateMember<AMember>);
}

// A field-table row for a member of a kind without a JSON form (set, method,
// procedure, pointer, class reference, interface, variant): it is skipped
// with a warning when written and fails when a value is read into it.
template <auto AMember>
TFieldInfo NoFormField(std::string AName, TTypeKind AKind, std::string ATypeName) {
  return TFieldInfo(std::move(AName), detail::NoFormTypeInfo(AKind, ATypeName),
                    &detail::LocateMember<AMember>);
}

}  // namespace qvr::rest
