// The class registry, and the registrations of the JSON library's own classes
// (the value classes and TStringBuilder); see JSONClassRegistry.h. The
// registrations stay in this unit because every program that marshals or
// unmarshals looks classes up here, so the linker always takes them in with
// the registry.
#include "rest/json/JSONClassRegistry.h"

#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <typeindex>
#include <unordered_map>

#include "rest/json/JSONExceptions.h"
#include "rest/json/JSONValues.h"
#include "rest/json/StringBuilder.h"

namespace qvr::rest {

TClassInfo::TClassInfo(std::string AQualifiedName, const std::type_info& AType,
                       const std::type_info* AParentType,
                       std::function<std::unique_ptr<TObject>()> ACreate,
                       std::vector<TFieldInfo> AFields)
    : FQualifiedName(std::move(AQualifiedName)),
      FType(&AType),
      FParentType(AParentType),
      FCreate(std::move(ACreate)),
      FFields(std::move(AFields)) {
  const std::size_t dot = FQualifiedName.rfind('.');
  FClassName = dot == std::string::npos ? FQualifiedName : FQualifiedName.substr(dot + 1);
}

const TClassInfo* TClassInfo::Parent() const {
  // Resolved at use: the base may register in another translation unit,
  // whose static initialisation can come later.
  return FParentType != nullptr ? TJSONClassRegistry::FindByType(*FParentType) : nullptr;
}

const TFieldInfo* TClassInfo::FindField(std::string_view AName) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->Parent()) {
    for (const TFieldInfo& f : c->FFields) {
      if (f.Name() == AName) return &f;
    }
  }
  return nullptr;
}

namespace {
struct TClassTables {
  std::shared_mutex Lock;
  std::map<std::string, std::shared_ptr<const TClassInfo>, std::less<>> ByName;
  std::unordered_map<std::type_index, std::shared_ptr<const TClassInfo>> ByType;
};

TClassTables& ClassTables() {
  static TClassTables tables;
  return tables;
}
}  // namespace

void TJSONClassRegistry::Register(std::shared_ptr<const TClassInfo> AInfo) {
  TClassTables& t = ClassTables();
  std::unique_lock guard(t.Lock);
  t.ByName[AInfo->QualifiedName()] = AInfo;
  t.ByType[std::type_index(AInfo->Type())] = AInfo;
}

const TClassInfo* TJSONClassRegistry::FindByName(std::string_view AQualifiedName) {
  TClassTables& t = ClassTables();
  std::shared_lock guard(t.Lock);
  auto it = t.ByName.find(AQualifiedName);
  return it != t.ByName.end() ? it->second.get() : nullptr;
}

const TClassInfo* TJSONClassRegistry::FindByType(const std::type_info& AType) {
  TClassTables& t = ClassTables();
  std::shared_lock guard(t.Lock);
  auto it = t.ByType.find(std::type_index(AType));
  return it != t.ByType.end() ? it->second.get() : nullptr;
}

// The field tables and registrations of the JSON library's own classes.

// Friend of the value classes: the member pointers and hand-written accessors
// that their field tables need.
struct TJSONFieldAccess {
  static constexpr bool TJSONAncestor::*Owned = &TJSONAncestor::FOwned;

  // "FValue" of a string: giving the text also leaves the null state, so
  // that a form that omits "FIsNull" still reads as a string.
  static const TTypeInfo& StringValueType() {
    static const TTypeInfo info = [] {
      TTypeInfo t;
      t.Kind = TTypeKind::tkUString;
      t.Name = "string";
      t.GetStr = [](const void* p) -> const std::string& {
        return static_cast<const TJSONString*>(p)->FValue;
      };
      t.SetStr = [](void* p, std::string v) {
        static_cast<TJSONString*>(p)->SetValue(std::move(v));
      };
      t.Clear = [](void* p) { static_cast<TJSONString*>(p)->SetValue(std::string()); };
      return t;
    }();
    return info;
  }
  static const TTypeInfo& StringIsNullType() {
    static const TTypeInfo info = [] {
      TTypeInfo t = TypeInfoOf<bool>();
      t.GetBool = [](const void* p) { return static_cast<const TJSONString*>(p)->FIsNull; };
      t.SetBool = [](void* p, bool v) { static_cast<TJSONString*>(p)->FIsNull = v; };
      t.Clear = [](void* p) { static_cast<TJSONString*>(p)->FIsNull = false; };
      return t;
    }();
    return info;
  }
  static void* Self(void* AOwner) {
    return static_cast<TJSONString*>(static_cast<TObject*>(AOwner));
  }
};

namespace {

void* PairSelf(void* AOwner) { return static_cast<TJSONPair*>(static_cast<TObject*>(AOwner)); }

// "FJsonString" of a pair: the name lives inside the pair, so storing copies
// the string read into it.
const TTypeInfo& PairNameType() {
  static const TTypeInfo info = [] {
    TTypeInfo t;
    t.Kind = TTypeKind::tkClass;
    t.Name = "TJSONString";
    t.ClassType = &typeid(TJSONString);
    t.GetObj = [](const void* p) -> TObject* {
      return &const_cast<TJSONPair*>(static_cast<const TJSONPair*>(p))->JsonString();
    };
    t.AcceptsObj = [](const TObject& o) { return dynamic_cast<const TJSONString*>(&o) != nullptr; };
    t.SetObj = [](void* p, std::unique_ptr<TObject> v) {
      TJSONString& name = static_cast<TJSONPair*>(p)->JsonString();
      if (v == nullptr) {
        name = TJSONString();
        return;
      }
      const auto* s = dynamic_cast<const TJSONString*>(v.get());
      if (s == nullptr)
        throw EConversionError("Internal: the name of a pair must be a TJSONString");
      name = TJSONString(*s);
      name.SetOwned(s->Owned());
    };
    t.Clear = [](void* p) { static_cast<TJSONPair*>(p)->JsonString() = TJSONString(); };
    return t;
  }();
  return info;
}

const TTypeInfo& PairValueType() {
  static const TTypeInfo info = [] {
    TTypeInfo t;
    t.Kind = TTypeKind::tkClass;
    t.Name = "TJSONValue";
    t.ClassType = &typeid(TJSONValue);
    t.GetObj = [](const void* p) -> TObject* {
      return static_cast<const TJSONPair*>(p)->JsonValue();
    };
    t.AcceptsObj = [](const TObject& o) { return dynamic_cast<const TJSONValue*>(&o) != nullptr; };
    t.SetObj = [](void* p, std::unique_ptr<TObject> v) {
      if (v != nullptr && dynamic_cast<TJSONValue*>(v.get()) == nullptr) {
        throw EConversionError("Internal: the value of a pair must be a TJSONValue");
      }
      static_cast<TJSONPair*>(p)->SetJsonValue(
          std::unique_ptr<TJSONValue>(static_cast<TJSONValue*>(v.release())));
    };
    t.Clear = [](void* p) { static_cast<TJSONPair*>(p)->SetJsonValue(nullptr); };
    return t;
  }();
  return info;
}

void* NoStorage(void* AOwner) { return AOwner; }

// The list fields are written and read only through their rules; without
// one they are skipped with a warning like any field without a JSON form.
TFieldInfo ListField(const char* AName, const char* ATypeName) {
  return TFieldInfo(AName, detail::NoFormTypeInfo(TTypeKind::tkClassRef, ATypeName), &NoStorage);
}

const TJSONClass<TJSONAncestor> RegAncestor{"System.JSON.TJSONAncestor",
                                            {Field<TJSONFieldAccess::Owned>("FOwned")}};
const TJSONClass<TJSONValue, TJSONAncestor> RegValue{"System.JSON.TJSONValue", {}};
const TJSONClass<TJSONString, TJSONValue> RegString{
    "System.JSON.TJSONString",
    {TFieldInfo("FValue", TJSONFieldAccess::StringValueType(), &TJSONFieldAccess::Self),
     TFieldInfo("FIsNull", TJSONFieldAccess::StringIsNullType(), &TJSONFieldAccess::Self)}};
const TJSONClass<TJSONNumber, TJSONString> RegNumber{"System.JSON.TJSONNumber", {}};
const TJSONClass<TJSONTrue, TJSONValue> RegTrue{"System.JSON.TJSONTrue", {}};
const TJSONClass<TJSONFalse, TJSONValue> RegFalse{"System.JSON.TJSONFalse", {}};
const TJSONClass<TJSONNull, TJSONValue> RegNull{"System.JSON.TJSONNull", {}};
const TJSONClass<TJSONPair, TJSONAncestor> RegPair{
    "System.JSON.TJSONPair",
    {TFieldInfo("FJsonString", PairNameType(), &PairSelf),
     TFieldInfo("FJsonValue", PairValueType(), &PairSelf)}};
const TJSONClass<TJSONObject, TJSONValue> RegObject{
    "System.JSON.TJSONObject", {ListField("FMembers", "TList<System.JSON.TJSONPair>")}};
const TJSONClass<TJSONArray, TJSONValue> RegArray{
    "System.JSON.TJSONArray", {ListField("FElements", "TList<System.JSON.TJSONValue>")}};
const TJSONClass<TStringBuilder> RegStringBuilder{
    "System.SysUtils.TStringBuilder",
    {Field<&TStringBuilder::FData>("FData"), Field<&TStringBuilder::FLength>("FLength"),
     Field<&TStringBuilder::FMaxCapacity>("FMaxCapacity")}};

}  // namespace

}  // namespace qvr::rest
