// Type descriptions of the marshalling library: the kinds of field it
// distinguishes (TTypeKind) and, per C++ type, how a value of that type is
// read and written at an address (TTypeInfo, given by TypeInfoOf). The
// traits that give enumerations and records their JSON form are specialised
// beside those types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "platform/Classes.h"

namespace qvr::rest {

// The kinds of field the marshaller distinguishes. Kinds from tkSet on have
// no JSON form: such a field is skipped with a warning when written.
enum class TTypeKind : std::uint8_t {
  tkInteger,      // 8/16/32-bit integers
  tkInt64,        // 64-bit integers
  tkFloat,        // float, double (date-time values travel as these)
  tkEnumeration,  // enumerations by identifier; also Boolean (written true/false)
  tkWChar,        // a single UTF-16 character (char16_t)
  tkUString,      // text (std::string, UTF-8)
  tkClass,        // object reference (std::unique_ptr<C>, C derived from TObject)
  tkArray,        // fixed array (std::array)
  tkDynArray,     // dynamic array (std::vector)
  tkRecord,       // record (a struct with TJSONRecordTraits)
  tkSet,
  tkMethod,
  tkProcedure,
  tkPointer,
  tkClassRef,
  tkInterface,
  tkVariant,
};

// The kind's name as messages and warnings show it ("tkSet", ...).
std::string_view TypeKindName(TTypeKind AKind) noexcept;

class TFieldInfo;

// How the marshaller reads and writes a value of one C++ type found at an
// address. Built once per type by TypeInfoOf; only the operations of the
// type's kind are set.
struct TTypeInfo {
  TTypeKind Kind = TTypeKind::tkVariant;
  std::string Name;  // the declared type name that messages show
  bool IsBoolean = false;

  // tkInteger, tkInt64, tkEnumeration (ordinal), tkWChar (code unit)
  std::int64_t Min = 0;
  std::int64_t Max = 0;
  std::int64_t (*GetInt)(const void*) = nullptr;
  void (*SetInt)(void*, std::int64_t) = nullptr;
  // tkEnumeration: identifiers by ordinal
  std::vector<std::string> EnumNames;
  // tkFloat
  double (*GetFloat)(const void*) = nullptr;
  void (*SetFloat)(void*, double) = nullptr;
  // Boolean
  bool (*GetBool)(const void*) = nullptr;
  void (*SetBool)(void*, bool) = nullptr;
  // tkUString
  const std::string& (*GetStr)(const void*) = nullptr;
  void (*SetStr)(void*, std::string) = nullptr;
  // tkClass: the held object (or null); storing replaces (and releases) the
  // previous one and raises EConversionError when the object is not of the
  // declared class.
  const std::type_info* ClassType = nullptr;
  TObject* (*GetObj)(const void*) = nullptr;
  bool (*AcceptsObj)(const TObject&) = nullptr;
  void (*SetObj)(void*, std::unique_ptr<TObject>) = nullptr;
  // tkArray, tkDynArray
  const TTypeInfo* Element = nullptr;
  std::size_t (*Length)(const void*) = nullptr;
  void (*Resize)(void*, std::size_t) = nullptr;  // null for fixed arrays
  void* (*ElementAt)(void*, std::size_t) = nullptr;
  // tkRecord
  std::vector<TFieldInfo> (*RecordFields)() = nullptr;
  // Every kind with a form: the field's empty value (0, "", false, no object,
  // empty array, default record).
  void (*Clear)(void*) = nullptr;
};

// Enumerations are marshalled by identifier. Specialise with
//   static constexpr const char* Name = "TMyEnum";
//   static std::vector<std::string> Names() { return {"meOne", "meTwo"}; }
// (identifiers in ordinal order, the enumeration's values being 0, 1, ...).
template <class E>
struct TJSONEnumTraits;

// Records travel as arrays of their field values. Specialise with
//   static constexpr const char* Name = "TMyRecord";
//   static std::vector<TFieldInfo> Fields() { return {Field<&TMyRecord::A>("A"), ...}; }
template <class R>
struct TJSONRecordTraits;

template <class T>
const TTypeInfo& TypeInfoOf();

}  // namespace qvr::rest

// The definition of TypeInfoOf and the templates behind it.
#include "rest/json/detail/MakeTypeInfo.h"
