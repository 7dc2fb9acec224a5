// How TypeInfoOf describes each supported C++ type: the traits that tell the
// kinds apart and the one template that fills a TTypeInfo for a type. Reached
// through rest/json/TypeInfo.h; nothing outside the JSON library uses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/Classes.h"
#include "rest/json/JSONExceptions.h"
#include "rest/json/TypeInfo.h"

namespace qvr::rest {

namespace detail {
template <class T>
struct TIsUniquePtr : std::false_type {};
template <class C>
struct TIsUniquePtr<std::unique_ptr<C>> : std::true_type {
  using Class = C;
};
template <class T>
struct TIsVector : std::false_type {};
template <class E>
struct TIsVector<std::vector<E>> : std::true_type {
  using Element = E;
};
template <class T>
struct TIsStdArray : std::false_type {};
template <class E, std::size_t N>
struct TIsStdArray<std::array<E, N>> : std::true_type {
  using Element = E;
  static constexpr std::size_t Size = N;
};
template <class T, class = void>
struct THasRecordTraits : std::false_type {};
template <class T>
struct THasRecordTraits<T, std::void_t<decltype(TJSONRecordTraits<T>::Name)>> : std::true_type {};
template <class T, class = void>
struct THasEnumTraits : std::false_type {};
template <class T>
struct THasEnumTraits<T, std::void_t<decltype(TJSONEnumTraits<T>::Name)>> : std::true_type {};

template <class T>
TTypeInfo MakeTypeInfo() {
  TTypeInfo t;
  if constexpr (std::is_same_v<T, bool>) {
    t.Kind = TTypeKind::tkEnumeration;
    t.Name = "Boolean";
    t.IsBoolean = true;
    t.EnumNames = {"False", "True"};
    t.GetBool = [](const void* p) { return *static_cast<const bool*>(p); };
    t.SetBool = [](void* p, bool v) { *static_cast<bool*>(p) = v; };
    t.Clear = [](void* p) { *static_cast<bool*>(p) = false; };
  } else if constexpr (std::is_same_v<T, char16_t>) {
    t.Kind = TTypeKind::tkWChar;
    t.Name = "Char";
    t.Min = 0;
    t.Max = 0xFFFF;
    t.GetInt = [](const void* p) { return static_cast<std::int64_t>(*static_cast<const T*>(p)); };
    t.SetInt = [](void* p, std::int64_t v) { *static_cast<T*>(p) = static_cast<T>(v); };
    t.Clear = [](void* p) { *static_cast<T*>(p) = 0; };
  } else if constexpr (std::is_integral_v<T>) {
    static_assert(sizeof(T) < 8 || std::is_signed_v<T>, "unsigned 64-bit fields are not supported");
    t.Kind = sizeof(T) == 8 ? TTypeKind::tkInt64 : TTypeKind::tkInteger;
    t.Name = sizeof(T) == 8 ? "Int64" : (std::is_signed_v<T> ? "Integer" : "Cardinal");
    t.Min = static_cast<std::int64_t>(std::numeric_limits<T>::min());
    t.Max = static_cast<std::int64_t>(std::numeric_limits<T>::max());
    t.GetInt = [](const void* p) { return static_cast<std::int64_t>(*static_cast<const T*>(p)); };
    t.SetInt = [](void* p, std::int64_t v) { *static_cast<T*>(p) = static_cast<T>(v); };
    t.Clear = [](void* p) { *static_cast<T*>(p) = 0; };
  } else if constexpr (std::is_floating_point_v<T>) {
    t.Kind = TTypeKind::tkFloat;
    t.Name = std::is_same_v<T, float> ? "Single" : "Double";
    t.GetFloat = [](const void* p) { return static_cast<double>(*static_cast<const T*>(p)); };
    t.SetFloat = [](void* p, double v) { *static_cast<T*>(p) = static_cast<T>(v); };
    t.Clear = [](void* p) { *static_cast<T*>(p) = 0; };
  } else if constexpr (std::is_same_v<T, std::string>) {
    t.Kind = TTypeKind::tkUString;
    t.Name = "string";
    t.GetStr = [](const void* p) -> const std::string& { return *static_cast<const T*>(p); };
    t.SetStr = [](void* p, std::string v) { *static_cast<T*>(p) = std::move(v); };
    t.Clear = [](void* p) { static_cast<T*>(p)->clear(); };
  } else if constexpr (std::is_enum_v<T>) {
    static_assert(THasEnumTraits<T>::value, "specialise TJSONEnumTraits for this enumeration");
    t.Kind = TTypeKind::tkEnumeration;
    t.Name = TJSONEnumTraits<T>::Name;
    t.EnumNames = TJSONEnumTraits<T>::Names();
    t.Min = 0;
    t.Max = static_cast<std::int64_t>(t.EnumNames.size()) - 1;
    t.GetInt = [](const void* p) { return static_cast<std::int64_t>(*static_cast<const T*>(p)); };
    t.SetInt = [](void* p, std::int64_t v) { *static_cast<T*>(p) = static_cast<T>(v); };
    t.Clear = [](void* p) { *static_cast<T*>(p) = static_cast<T>(0); };
  } else if constexpr (TIsUniquePtr<T>::value) {
    using C = typename TIsUniquePtr<T>::Class;
    static_assert(std::is_base_of_v<TObject, C>, "object fields hold TObject descendants");
    t.Kind = TTypeKind::tkClass;
    t.ClassType = &typeid(C);
    t.GetObj = [](const void* p) -> TObject* { return static_cast<const T*>(p)->get(); };
    t.AcceptsObj = [](const TObject& o) { return dynamic_cast<const C*>(&o) != nullptr; };
    t.SetObj = [](void* p, std::unique_ptr<TObject> v) {
      if (v != nullptr && dynamic_cast<C*>(v.get()) == nullptr) {
        throw EConversionError("Internal: object of another class for an object field");
      }
      static_cast<T*>(p)->reset(static_cast<C*>(v.release()));
    };
    t.Clear = [](void* p) { static_cast<T*>(p)->reset(); };
  } else if constexpr (TIsVector<T>::value) {
    using E = typename TIsVector<T>::Element;
    static_assert(!std::is_same_v<E, bool>, "use std::vector<std::uint8_t> or std::array<bool, N>");
    t.Kind = TTypeKind::tkDynArray;
    t.Element = &TypeInfoOf<E>();
    t.Name = "TArray<" + t.Element->Name + ">";
    t.Length = [](const void* p) { return static_cast<const T*>(p)->size(); };
    t.Resize = [](void* p, std::size_t n) {
      static_cast<T*>(p)->clear();
      static_cast<T*>(p)->resize(n);
    };
    t.ElementAt = [](void* p, std::size_t i) -> void* { return &(*static_cast<T*>(p))[i]; };
    t.Clear = [](void* p) { static_cast<T*>(p)->clear(); };
  } else if constexpr (TIsStdArray<T>::value) {
    using E = typename TIsStdArray<T>::Element;
    t.Kind = TTypeKind::tkArray;
    t.Element = &TypeInfoOf<E>();
    t.Name = "array[0.." + std::to_string(TIsStdArray<T>::Size - 1) + "] of " + t.Element->Name;
    t.Length = [](const void*) { return TIsStdArray<T>::Size; };
    t.ElementAt = [](void* p, std::size_t i) -> void* { return &(*static_cast<T*>(p))[i]; };
    t.Clear = [](void* p) { *static_cast<T*>(p) = T{}; };
  } else if constexpr (THasRecordTraits<T>::value) {
    t.Kind = TTypeKind::tkRecord;
    t.Name = TJSONRecordTraits<T>::Name;
    t.RecordFields = [] { return TJSONRecordTraits<T>::Fields(); };
    t.Clear = [](void* p) { *static_cast<T*>(p) = T{}; };
  } else if constexpr (std::is_pointer_v<T>) {
    t.Kind = TTypeKind::tkPointer;
    t.Name = "Pointer";
  } else {
    static_assert(sizeof(T) == 0,
                  "no JSON form known for this member type: use NoFormField or add traits");
  }
  return t;
}

// A type description for a member whose kind has no JSON form.
const TTypeInfo& NoFormTypeInfo(TTypeKind AKind, const std::string& AName);
}  // namespace detail

template <class T>
const TTypeInfo& TypeInfoOf() {
  static const TTypeInfo info = detail::MakeTypeInfo<T>();
  return info;
}

}  // namespace qvr::rest
