// The class registry: every marshalled class registered (TJSONClass) under its
// qualified type name, with its base class, its field table and how to create
// it (TClassInfo), looked up by name or by C++ type (TJSONClassRegistry).
// Creating an object from a "type" only ever instantiates registered classes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/Classes.h"
#include "rest/json/FieldInfo.h"

namespace qvr::rest {

// A registered class.
class TClassInfo {
 public:
  TClassInfo(std::string AQualifiedName, const std::type_info& AType,
             const std::type_info* AParentType, std::function<std::unique_ptr<TObject>()> ACreate,
             std::vector<TFieldInfo> AFields);

  // Unit name, ".", class name: "uGral.TOpciones".
  const std::string& QualifiedName() const noexcept { return FQualifiedName; }
  // The class name without the unit: "TOpciones".
  const std::string& ClassName() const noexcept { return FClassName; }
  const std::type_info& Type() const noexcept { return *FType; }
  // The registered base class, or null at the root.
  const TClassInfo* Parent() const;
  bool CanCreate() const noexcept { return static_cast<bool>(FCreate); }
  // A new instance made by the parameterless constructor (null if none).
  std::unique_ptr<TObject> Create() const { return FCreate ? FCreate() : nullptr; }
  // The class's own fields in declaration order.
  const std::vector<TFieldInfo>& Fields() const noexcept { return FFields; }
  // The field named exactly AName, declared by this class or the nearest
  // base that declares one; null if none.
  const TFieldInfo* FindField(std::string_view AName) const;

 private:
  std::string FQualifiedName;
  std::string FClassName;
  const std::type_info* FType;
  const std::type_info* FParentType;
  std::function<std::unique_ptr<TObject>()> FCreate;
  std::vector<TFieldInfo> FFields;
};

// The process-wide class registry. Registration normally happens during
// static initialisation (TJSONClass); look-ups are safe from any thread.
class TJSONClassRegistry {
 public:
  // Adds AInfo; a second registration of the same name or type replaces
  // the first.
  static void Register(std::shared_ptr<const TClassInfo> AInfo);
  static const TClassInfo* FindByName(std::string_view AQualifiedName);
  static const TClassInfo* FindByType(const std::type_info& AType);
  // The registration of AObject's dynamic class (null if not registered).
  static const TClassInfo* ClassOf(const TObject& AObject) { return FindByType(typeid(AObject)); }
};

// Registers class C (base TBase, which is TObject for a plain object) under
// AQualifiedName with its own fields. Declare one as a function-local static
// in the registration function that the unit's header calls from its hook
// (see JSONReflect.h), so that registering does not depend on what the
// linker keeps. C's parameterless constructor is used when it has
// one and is not abstract.
template <class C, class TBase = TObject>
class TJSONClass {
  static_assert(std::is_base_of_v<TObject, C>, "marshalled classes derive from qvr::TObject");
  static_assert(std::is_base_of_v<TBase, C>, "TBase must be a base of C");

 public:
  TJSONClass(std::string AQualifiedName, std::vector<TFieldInfo> AFields) {
    std::function<std::unique_ptr<TObject>()> create;
    if constexpr (std::is_default_constructible_v<C> && !std::is_abstract_v<C>) {
      create = [] { return std::unique_ptr<TObject>(std::make_unique<C>()); };
    }
    const std::type_info* parent = nullptr;
    if constexpr (!std::is_same_v<TBase, TObject>) parent = &typeid(TBase);
    TJSONClassRegistry::Register(std::make_shared<TClassInfo>(
        std::move(AQualifiedName), typeid(C), parent, std::move(create), std::move(AFields)));
  }
};

}  // namespace qvr::rest
