// Class registry, interceptor defaults, rule registries, marshaller and
// unmarshaller; see JSONReflect.h.
#include "rest/json/JSONReflect.h"

#include <cxxabi.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <shared_mutex>
#include <unordered_map>

#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/json/JSONText.h"

namespace qvr::rest {

std::string_view TypeKindName(TTypeKind AKind) noexcept {
  switch (AKind) {
    case TTypeKind::tkInteger:
      return "tkInteger";
    case TTypeKind::tkInt64:
      return "tkInt64";
    case TTypeKind::tkFloat:
      return "tkFloat";
    case TTypeKind::tkEnumeration:
      return "tkEnumeration";
    case TTypeKind::tkWChar:
      return "tkWChar";
    case TTypeKind::tkUString:
      return "tkUString";
    case TTypeKind::tkClass:
      return "tkClass";
    case TTypeKind::tkArray:
      return "tkArray";
    case TTypeKind::tkDynArray:
      return "tkDynArray";
    case TTypeKind::tkRecord:
      return "tkRecord";
    case TTypeKind::tkSet:
      return "tkSet";
    case TTypeKind::tkMethod:
      return "tkMethod";
    case TTypeKind::tkProcedure:
      return "tkProcedure";
    case TTypeKind::tkPointer:
      return "tkPointer";
    case TTypeKind::tkClassRef:
      return "tkClassRef";
    case TTypeKind::tkInterface:
      return "tkInterface";
    case TTypeKind::tkVariant:
      return "tkVariant";
  }
  return "tkUnknown";
}

namespace detail {
const TTypeInfo& NoFormTypeInfo(TTypeKind AKind, const std::string& AName) {
  // One description per (kind, name), kept for the life of the process.
  static std::mutex lock;
  static std::map<std::pair<TTypeKind, std::string>, std::unique_ptr<TTypeInfo>> infos;
  std::scoped_lock guard(lock);
  auto& slot = infos[{AKind, AName}];
  if (slot == nullptr) {
    slot = std::make_unique<TTypeInfo>();
    slot->Kind = AKind;
    slot->Name = AName;
  }
  return *slot;
}
}  // namespace detail

// ---------------------------------------------------------------------------
// Fields and classes

std::string TFieldInfo::TypeName() const {
  if (!FDeclaredType.empty()) return FDeclaredType;
  if (FType->Kind == TTypeKind::tkClass && FType->ClassType != nullptr) {
    if (const TClassInfo* c = TJSONClassRegistry::FindByType(*FType->ClassType)) {
      return c->ClassName();
    }
    return "TObject";
  }
  return FType->Name;
}

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

// ---------------------------------------------------------------------------
// Interceptor defaults

namespace {
[[noreturn]] void Unsupported(std::string_view AWhat) {
  throw EConversionError(Format("Internal: Type %s is not currently supported", AWhat));
}
}  // namespace

std::vector<const TObject*> TJSONInterceptor::ObjectsConverter(const TObject&, const std::string&) {
  Unsupported("ctObjects");
}
std::vector<std::string> TJSONInterceptor::StringsConverter(const TObject&, const std::string&) {
  Unsupported("ctStrings");
}
std::vector<const TObject*> TJSONInterceptor::TypeObjectsConverter(const TObject&) {
  Unsupported("ctTypeObjects");
}
std::vector<std::string> TJSONInterceptor::TypeStringsConverter(const TObject&) {
  Unsupported("ctTypeStrings");
}
const TObject* TJSONInterceptor::ObjectConverter(const TObject&, const std::string&) {
  Unsupported("ctObject");
}
std::string TJSONInterceptor::StringConverter(const TObject&, const std::string&) {
  Unsupported("ctString");
}
const TObject* TJSONInterceptor::TypeObjectConverter(const TObject&) {
  Unsupported("ctTypeObject");
}
std::string TJSONInterceptor::TypeStringConverter(const TObject&) { Unsupported("ctTypeString"); }
void TJSONInterceptor::ObjectsReverter(TObject&, const std::string&,
                                       std::vector<std::unique_ptr<TObject>>) {
  Unsupported("rtObjects");
}
void TJSONInterceptor::StringsReverter(TObject&, const std::string&, std::vector<std::string>) {
  Unsupported("rtStrings");
}
std::unique_ptr<TObject> TJSONInterceptor::TypeObjectsReverter(
    std::vector<std::unique_ptr<TObject>>) {
  Unsupported("rtTypeObjects");
}
std::unique_ptr<TObject> TJSONInterceptor::TypeStringsReverter(std::vector<std::string>) {
  Unsupported("rtTypeStrings");
}
void TJSONInterceptor::ObjectReverter(TObject&, const std::string&, std::unique_ptr<TObject>) {
  Unsupported("rtObject");
}
void TJSONInterceptor::StringReverter(TObject&, const std::string&, const std::string&) {
  Unsupported("rtString");
}
std::unique_ptr<TObject> TJSONInterceptor::TypeObjectReverter(std::unique_ptr<TObject>) {
  Unsupported("rtTypeObject");
}
std::unique_ptr<TObject> TJSONInterceptor::TypeStringReverter(const std::string&) {
  Unsupported("rtTypeString");
}

// ---------------------------------------------------------------------------
// TStringBuilder

TStringBuilder::TStringBuilder(std::string AText) { SetText(std::move(AText)); }

void TStringBuilder::SetText(std::string AText) {
  FData = std::move(AText);
  FLength = static_cast<std::int32_t>(Utf16Length(FData));
}

TStringBuilder& TStringBuilder::Append(std::string_view AText) {
  FData.append(AText);
  FLength = static_cast<std::int32_t>(Utf16Length(FData));
  return *this;
}

// ---------------------------------------------------------------------------
// Field tables of the JSON library's own classes

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

// ---------------------------------------------------------------------------
// Default rules

void TJSONConverters::AddDefaultConverters(TConverterRegistry& ARegistry) {
  std::scoped_lock lock(ARegistry.Lock());
  TConverterEvent members;
  members.ConverterType = TConverterType::ctObjects;
  members.ObjectsConverter = [](const TObject& AData, const std::string&) {
    std::vector<const TObject*> out;
    for (const TJSONPair& p : dynamic_cast<const TJSONObject&>(AData).Members()) out.push_back(&p);
    return out;
  };
  ARegistry.Register("System.JSON.TJSONObject", "FMembers", std::move(members));

  TConverterEvent elements;
  elements.ConverterType = TConverterType::ctObjects;
  elements.ObjectsConverter = [](const TObject& AData, const std::string&) {
    std::vector<const TObject*> out;
    for (const TJSONValueRef& e : dynamic_cast<const TJSONArray&>(AData).Elements()) {
      out.push_back(e.Get());
    }
    return out;
  };
  ARegistry.Register("System.JSON.TJSONArray", "FElements", std::move(elements));

  TConverterEvent strBuffer;  // no function: the buffer is not written
  strBuffer.ConverterType = TConverterType::ctString;
  ARegistry.Register("System.JSON.TJSONString", "FStrBuffer", std::move(strBuffer));

  TConverterEvent data;
  data.ConverterType = TConverterType::ctString;
  data.StringConverter = [](const TObject& AData, const std::string&) {
    return dynamic_cast<const TStringBuilder&>(AData).ToString();
  };
  ARegistry.Register("System.SysUtils.TStringBuilder", "FData", std::move(data));
}

void TJSONConverters::AddDefaultReverters(TReverterRegistry& ARegistry) {
  std::scoped_lock lock(ARegistry.Lock());
  TReverterEvent members;
  members.ReverterType = TReverterType::rtObjects;
  members.ObjectsReverter = [](TObject& AData, const std::string&,
                               std::vector<std::unique_ptr<TObject>> AArgs) {
    std::vector<TJSONPair> list;
    list.reserve(AArgs.size());
    for (auto& arg : AArgs) {
      auto* pair = dynamic_cast<TJSONPair*>(arg.get());
      if (pair == nullptr) {
        throw EConversionError("Internal: a member of a TJSONObject must be a TJSONPair");
      }
      list.push_back(std::move(*pair));
    }
    dynamic_cast<TJSONObject&>(AData).SetMembers(std::move(list));
  };
  ARegistry.Register("System.JSON.TJSONObject", "FMembers", std::move(members));

  TReverterEvent elements;
  elements.ReverterType = TReverterType::rtObjects;
  elements.ObjectsReverter = [](TObject& AData, const std::string&,
                                std::vector<std::unique_ptr<TObject>> AArgs) {
    std::vector<TJSONValueRef> list;
    list.reserve(AArgs.size());
    for (auto& arg : AArgs) {
      if (arg != nullptr && dynamic_cast<TJSONValue*>(arg.get()) == nullptr) {
        throw EConversionError("Internal: an element of a TJSONArray must be a TJSONValue");
      }
      std::unique_ptr<TJSONValue> v(static_cast<TJSONValue*>(arg.release()));
      if (v == nullptr) v = std::make_unique<TJSONNull>();
      list.emplace_back(std::move(v));
    }
    dynamic_cast<TJSONArray&>(AData).SetElements(std::move(list));
  };
  ARegistry.Register("System.JSON.TJSONArray", "FElements", std::move(elements));

  TReverterEvent strBuffer;
  strBuffer.ReverterType = TReverterType::rtObject;
  strBuffer.ObjectReverter = [](TObject& AData, const std::string&, std::unique_ptr<TObject> AArg) {
    auto* builder = dynamic_cast<TStringBuilder*>(AArg.get());
    if (builder == nullptr) {
      throw EConversionError("Internal: FStrBuffer must hold a System.SysUtils.TStringBuilder");
    }
    dynamic_cast<TJSONString&>(AData).SetValue(std::move(builder->FData));
  };  // the builder is released here
  ARegistry.Register("System.JSON.TJSONString", "FStrBuffer", std::move(strBuffer));

  TReverterEvent data;
  data.ReverterType = TReverterType::rtString;
  data.StringReverter = [](TObject& AData, const std::string&, const std::string& AArg) {
    dynamic_cast<TStringBuilder&>(AData).SetText(AArg);
  };
  ARegistry.Register("System.SysUtils.TStringBuilder", "FData", std::move(data));
}

namespace {
std::shared_ptr<TConverterRegistry> ProcessConverters() {
  static const auto registry = std::make_shared<TConverterRegistry>();
  return registry;
}
std::shared_ptr<TReverterRegistry> ProcessReverters() {
  static const auto registry = std::make_shared<TReverterRegistry>();
  return registry;
}
}  // namespace

std::unique_ptr<TJSONMarshal> TJSONConverters::GetJSONMarshaler() {
  auto registry = ProcessConverters();
  std::scoped_lock lock(registry->Lock());
  if (!registry->FDefaultsRegistered) {
    AddDefaultConverters(*registry);
    registry->FDefaultsRegistered = true;
  }
  return std::make_unique<TJSONMarshal>(std::move(registry));
}

std::unique_ptr<TJSONUnMarshal> TJSONConverters::GetJSONUnMarshaler() {
  auto registry = ProcessReverters();
  std::scoped_lock lock(registry->Lock());
  if (!registry->FDefaultsRegistered) {
    AddDefaultReverters(*registry);
    registry->FDefaultsRegistered = true;
  }
  return std::make_unique<TJSONUnMarshal>(std::move(registry));
}

// ---------------------------------------------------------------------------
// Marshalling

namespace {

std::string DemangledName(const std::type_info& AType) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(AType.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name != nullptr ? std::string(name.get()) : std::string(AType.name());
}

[[noreturn]] void NotSupported(std::string_view AWhat) {
  throw EConversionError(Format("Internal: Type %s is not currently supported", AWhat));
}

bool HasForm(TTypeKind AKind) noexcept { return AKind < TTypeKind::tkSet; }

std::unique_ptr<TJSONValue> CharString(std::int64_t AUnit) {
  std::string text;
  if (AUnit != 0) AppendUtf8(text, static_cast<char32_t>(AUnit));  // a lone surrogate gives U+FFFD
  return std::make_unique<TJSONString>(std::move(text));
}

}  // namespace

class TJSONMarshal::TWriter {
 public:
  TWriter(TJSONMarshal& AOwner) : FOwner(AOwner) {}

  std::unique_ptr<TJSONValue> WriteObject(const TObject* AObject) {
    if (AObject == nullptr) return std::make_unique<TJSONNull>();
    const TClassInfo* cls = TJSONClassRegistry::ClassOf(*AObject);
    if (cls == nullptr) NotSupported(DemangledName(typeid(*AObject)));
    if (auto it = FWritten.find(AObject); it != FWritten.end()) {
      auto ref = std::make_unique<TJSONObject>();
      ref->AddPair("type", cls->QualifiedName());
      ref->AddPair("ref", std::make_unique<TJSONNumber>(std::int64_t{it->second}));
      return ref;
    }
    const int id = FNextId++;
    FWritten.emplace(AObject, id);
    FOrder.push_back(AObject);

    auto fields = std::make_unique<TJSONObject>();
    for (const TClassInfo* c = cls; c != nullptr; c = c->Parent()) {
      for (const TFieldInfo& f : c->Fields()) {
        if (!f.Marshalled()) continue;
        WriteField(*AObject, *cls, f, *fields);
      }
    }
    auto form = std::make_unique<TJSONObject>();
    form->Reserve(3);
    form->AddPair("type", cls->QualifiedName());
    form->AddPair("id", std::make_unique<TJSONNumber>(std::int64_t{id}));
    form->AddPair("fields", std::move(fields));
    return form;
  }

 private:
  void WriteField(const TObject& AObject, const TClassInfo& AClass, const TFieldInfo& AField,
                  TJSONObject& AFields) {
    if (auto rule = FOwner.FRegistry->Find(AClass, AField.Name())) {
      if (auto v = WriteRule(*rule, AObject, AField.Name())) {
        AFields.AddPair(AField.Name(), std::move(v));
      }
      return;
    }
    void* address = AField.Locate(const_cast<TObject*>(&AObject));
    if (const auto& reflect = AField.Reflect()) {
      AFields.AddPair(AField.Name(), WriteIntercepted(*reflect, AObject, AField, address));
      return;
    }
    const TTypeInfo& type = AField.Type();
    if (!HasForm(type.Kind)) {
      FOwner.FWarnings.push_back({AClass.ClassName(), AField.Name(), AField.TypeName()});
      return;
    }
    AFields.AddPair(AField.Name(), WriteValue(type, address));
  }

  std::unique_ptr<TJSONValue> WriteRule(const TConverterEvent& ARule, const TObject& AObject,
                                        const std::string& AField) {
    switch (ARule.ConverterType) {
      case TConverterType::ctObjects:
      case TConverterType::ctTypeObjects:
        if (!ARule.ObjectsConverter) return nullptr;
        return WriteObjects(ARule.ObjectsConverter(AObject, AField));
      case TConverterType::ctStrings:
      case TConverterType::ctTypeStrings:
        if (!ARule.StringsConverter) return nullptr;
        return WriteStrings(ARule.StringsConverter(AObject, AField));
      case TConverterType::ctObject:
      case TConverterType::ctTypeObject:
        if (!ARule.ObjectConverter) return nullptr;
        return WriteObject(ARule.ObjectConverter(AObject, AField));
      case TConverterType::ctString:
      case TConverterType::ctTypeString:
        if (!ARule.StringConverter) return nullptr;
        return std::make_unique<TJSONString>(ARule.StringConverter(AObject, AField));
    }
    return nullptr;
  }

  std::unique_ptr<TJSONValue> WriteIntercepted(const TJSONReflectAttribute& AReflect,
                                               const TObject& AObject, const TFieldInfo& AField,
                                               void* AAddress) {
    std::unique_ptr<TJSONInterceptor> interceptor =
        AReflect.Interceptor ? AReflect.Interceptor() : nullptr;
    if (interceptor == nullptr) NotSupported("TJSONInterceptor");
    interceptor->SetConverterType(AReflect.ConverterType);
    interceptor->SetReverterType(AReflect.ReverterType);
    // Objects the interceptor returns die with it: forget them afterwards so
    // that a later object at the same address is not taken for one of them.
    const std::size_t mark = FOrder.size();
    std::unique_ptr<TJSONValue> out;
    const TConverterType kind = AReflect.ConverterType;
    if (kind == TConverterType::ctTypeObject || kind == TConverterType::ctTypeObjects ||
        kind == TConverterType::ctTypeString || kind == TConverterType::ctTypeStrings) {
      const TTypeInfo& type = AField.Type();
      const TObject* held = type.Kind == TTypeKind::tkClass ? type.GetObj(AAddress) : nullptr;
      if (held == nullptr) {
        throw EConversionError(
            Format("Field attribute should provide a field interceptor instead of a type one on "
                   "field %s",
                   AField.TypeName()));
      }
      switch (kind) {
        case TConverterType::ctTypeObject:
          out = WriteObject(interceptor->TypeObjectConverter(*held));
          break;
        case TConverterType::ctTypeObjects:
          out = WriteObjects(interceptor->TypeObjectsConverter(*held));
          break;
        case TConverterType::ctTypeString:
          out = std::make_unique<TJSONString>(interceptor->TypeStringConverter(*held));
          break;
        default:
          out = WriteStrings(interceptor->TypeStringsConverter(*held));
          break;
      }
    } else {
      switch (kind) {
        case TConverterType::ctObject:
          out = WriteObject(interceptor->ObjectConverter(AObject, AField.Name()));
          break;
        case TConverterType::ctObjects:
          out = WriteObjects(interceptor->ObjectsConverter(AObject, AField.Name()));
          break;
        case TConverterType::ctString:
          out = std::make_unique<TJSONString>(interceptor->StringConverter(AObject, AField.Name()));
          break;
        default:
          out = WriteStrings(interceptor->StringsConverter(AObject, AField.Name()));
          break;
      }
    }
    interceptor.reset();
    Forget(mark);
    return out;
  }

  void Forget(std::size_t AMark) {
    while (FOrder.size() > AMark) {
      FWritten.erase(FOrder.back());
      FOrder.pop_back();
    }
  }

  std::unique_ptr<TJSONValue> WriteObjects(const std::vector<const TObject*>& AObjects) {
    auto array = std::make_unique<TJSONArray>();
    array->Reserve(AObjects.size());
    for (const TObject* o : AObjects) array->Add(WriteObject(o));
    return array;
  }

  static std::unique_ptr<TJSONValue> WriteStrings(const std::vector<std::string>& AStrings) {
    auto array = std::make_unique<TJSONArray>();
    array->Reserve(AStrings.size());
    for (const std::string& s : AStrings) array->Add(std::make_unique<TJSONString>(s));
    return array;
  }

  // A value of a kind with a form, by its kind.
  std::unique_ptr<TJSONValue> WriteValue(const TTypeInfo& AType, void* AAddress) {
    switch (AType.Kind) {
      case TTypeKind::tkInteger:
      case TTypeKind::tkInt64:
        return std::make_unique<TJSONNumber>(AType.GetInt(AAddress));
      case TTypeKind::tkFloat:
        return std::make_unique<TJSONNumber>(AType.GetFloat(AAddress));
      case TTypeKind::tkEnumeration: {
        if (AType.IsBoolean) {
          if (AType.GetBool(AAddress)) return std::make_unique<TJSONTrue>();
          return std::make_unique<TJSONFalse>();
        }
        const std::int64_t ordinal = AType.GetInt(AAddress);
        if (ordinal < 0 || ordinal >= static_cast<std::int64_t>(AType.EnumNames.size())) {
          throw EConversionError(Format("Internal: Value %s is no identifier of type %s",
                                        std::to_string(ordinal), AType.Name));
        }
        return std::make_unique<TJSONString>(AType.EnumNames[static_cast<std::size_t>(ordinal)]);
      }
      case TTypeKind::tkWChar:
        return CharString(AType.GetInt(AAddress));
      case TTypeKind::tkUString:
        return std::make_unique<TJSONString>(AType.GetStr(AAddress));
      case TTypeKind::tkClass:
        return WriteObject(AType.GetObj(AAddress));
      case TTypeKind::tkArray:
      case TTypeKind::tkDynArray: {
        auto array = std::make_unique<TJSONArray>();
        const std::size_t n = AType.Length(AAddress);
        array->Reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
          if (!HasForm(AType.Element->Kind)) NotSupported(TypeKindName(AType.Element->Kind));
          array->Add(WriteValue(*AType.Element, AType.ElementAt(AAddress, i)));
        }
        return array;
      }
      case TTypeKind::tkRecord: {
        auto array = std::make_unique<TJSONArray>();
        for (const TFieldInfo& f : AType.RecordFields()) {
          if (!HasForm(f.Type().Kind)) NotSupported(TypeKindName(f.Type().Kind));
          array->Add(WriteValue(f.Type(), f.Locate(AAddress)));
        }
        return array;
      }
      default:
        NotSupported(TypeKindName(AType.Kind));
    }
  }

  TJSONMarshal& FOwner;
  int FNextId = 1;
  std::unordered_map<const TObject*, int> FWritten;
  std::vector<const TObject*> FOrder;
};

TJSONMarshal::TJSONMarshal() : FRegistry(std::make_shared<TConverterRegistry>()) {
  TJSONConverters::AddDefaultConverters(*FRegistry);
  FRegistry->FDefaultsRegistered = true;
}

TJSONMarshal::TJSONMarshal(std::shared_ptr<TConverterRegistry> ARegistry)
    : FRegistry(std::move(ARegistry)) {}

std::unique_ptr<TJSONValue> TJSONMarshal::Marshal(const TObject* AData) {
  FWarnings.clear();
  // The writer's id counter and table live for this call only.
  TWriter writer(*this);
  std::unique_ptr<TJSONValue> document = writer.WriteObject(AData);
  if (document == nullptr) {
    throw EConversionError(
        "Internal: Conversion failed, converted object is most likely incomplete");
  }
  return document;
}

void TJSONMarshal::RegisterConverter(const std::string& AQualifiedClass, const std::string& AField,
                                     TConverterEvent AEvent) {
  FRegistry->Register(AQualifiedClass, AField, std::move(AEvent));
}

// ---------------------------------------------------------------------------
// Unmarshalling

namespace {

[[noreturn]] void InvalidForm(const TJSONObject& AForm, std::string_view AMember) {
  throw EConversionError(
      Format("Internal: Invalid object form %s: member %s missing or of the wrong type",
             WriteJSON(AForm), AMember));
}

[[noreturn]] void ObjectExpected(const std::string& AField, const TJSONValue& AValue) {
  throw EConversionError(
      Format("JSON object expected for field %s in JSON %s", AField, WriteJSON(AValue)));
}

[[noreturn]] void ArrayExpected(const std::string& AField, const TJSONValue& AValue) {
  throw EConversionError(
      Format("JSON array expected for field %s in JSON %s", AField, WriteJSON(AValue)));
}

[[noreturn]] void CannotAssign(std::string_view AValue, const std::string& AField,
                               const TClassInfo& AClass) {
  throw EConversionError(
      Format("Internal: Value %s cannot be converted to be assigned to field %s in type %s", AValue,
             AField, AClass.ClassName()));
}

// The text of a scalar used as an id or a number or string field value.
std::optional<std::string> ScalarText(const TJSONValue* AValue) {
  if (AValue == nullptr) return std::nullopt;
  const TJSONString* s = AValue->AsString();
  if (s == nullptr || s->IsNullString()) return std::nullopt;
  return s->Value();
}

// A decimal integer: optional sign and digits only.
std::optional<std::int64_t> ReadInteger(std::string_view AText, std::int64_t AMin,
                                        std::int64_t AMax) {
  std::size_t i = 0;
  bool negative = false;
  if (i < AText.size() && (AText[i] == '-' || AText[i] == '+')) negative = AText[i++] == '-';
  if (i >= AText.size()) return std::nullopt;
  // Accumulated as a negative number so that the minimum of 64 bits fits.
  std::int64_t value = 0;
  for (; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
    value = -value;
  }
  if (value < AMin || value > AMax) return std::nullopt;
  return value;
}

// A decimal number with "." as separator and an optional exponent.
std::optional<double> ReadFloat(std::string_view AText) {
  std::size_t i = 0;
  if (i < AText.size() && (AText[i] == '-' || AText[i] == '+')) ++i;
  std::size_t digits = 0;
  while (i < AText.size() && AText[i] >= '0' && AText[i] <= '9') ++i, ++digits;
  if (i < AText.size() && AText[i] == '.') {
    ++i;
    while (i < AText.size() && AText[i] >= '0' && AText[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  bool negativeExponent = false;
  if (i < AText.size() && (AText[i] == 'e' || AText[i] == 'E')) {
    ++i;
    if (i < AText.size() && (AText[i] == '-' || AText[i] == '+'))
      negativeExponent = AText[i++] == '-';
    std::size_t expDigits = 0;
    while (i < AText.size() && AText[i] >= '0' && AText[i] <= '9') ++i, ++expDigits;
    if (expDigits == 0) return std::nullopt;
  }
  if (i != AText.size()) return std::nullopt;
  // from_chars reads "." as the separator whatever the process's locale
  // (the windowing toolkit sets the user's one, where it may be ",").
  const std::string_view number = AText[0] == '+' ? AText.substr(1) : AText;
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range && negativeExponent) {
    return number[0] == '-' ? -0.0 : 0.0;  // too small for a double: zero
  }
  if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// What reading a document may build beyond the document itself: each value
// counts one and each string its bytes.
std::size_t Cost(const TJSONValue& AValue) {
  switch (AValue.Kind()) {
    case TJSONValue::TKind::Object: {
      std::size_t c = 1;
      for (const TJSONPair& p : static_cast<const TJSONObject&>(AValue).Members()) {
        c += 1 + p.Name().size() + (p.JsonValue() != nullptr ? Cost(*p.JsonValue()) : 0);
      }
      return c;
    }
    case TJSONValue::TKind::Array: {
      std::size_t c = 1;
      for (const TJSONValueRef& e : static_cast<const TJSONArray&>(AValue).Elements()) {
        c += Cost(*e.Get());
      }
      return c;
    }
    case TJSONValue::TKind::String:
    case TJSONValue::TKind::Number:
      return 1 + static_cast<const TJSONString&>(AValue).Value().size();
    default:
      return 1;
  }
}

}  // namespace

class TJSONUnMarshal::TReader {
 public:
  TReader(TJSONUnMarshal& AOwner, const TJSONValue& ADocument)
      : FOwner(AOwner), FDocument(ADocument) {}

  // The object an object form or reference form stands for. With
  // ANestedField a type that cannot be instantiated gives nothing and
  // AInstantiated false, so that the caller can keep the field as it is.
  std::unique_ptr<TObject> ReadObject(const TJSONObject& AForm, bool ANestedField = false,
                                      bool* AInstantiated = nullptr) {
    if (AInstantiated != nullptr) *AInstantiated = true;
    if (AForm.Get("id") != nullptr) {
      const std::optional<std::string> id = ScalarText(AForm.GetValue("id"));
      if (!id) InvalidForm(AForm, "id");
      const TJSONValue* typeValue = AForm.GetValue("type");
      if (typeValue == nullptr || typeValue->Kind() != TJSONValue::TKind::String) {
        InvalidForm(AForm, "type");
      }
      const std::string& typeName = typeValue->AsString()->Value();
      const TJSONValue* fieldsValue = AForm.GetValue("fields");
      if (fieldsValue == nullptr || fieldsValue->AsObject() == nullptr) {
        InvalidForm(AForm, "fields");
      }
      const TClassInfo* cls = TJSONClassRegistry::FindByName(typeName);
      if (cls == nullptr || !cls->CanCreate()) {
        if (ANestedField) {
          if (AInstantiated != nullptr) *AInstantiated = false;
          FOwner.FWarnings.push_back({typeName, "", typeName});
          return nullptr;
        }
        throw EConversionError(Format("Internal: Cannot instantiate type %s", typeName));
      }
      std::unique_ptr<TObject> object = cls->Create();
      FIds[*id] = &AForm;
      FBusy.push_back(*id);
      try {
        Fill(*object, *cls, *fieldsValue->AsObject());
      } catch (...) {
        FIds.erase(*id);
        FBusy.pop_back();
        throw;  // the object is released with its unique_ptr
      }
      FBusy.pop_back();
      return object;
    }
    if (AForm.Get("ref") != nullptr) {
      const std::string typeName = ScalarText(AForm.GetValue("type")).value_or("");
      const std::string ref =
          ScalarText(AForm.GetValue("ref")).value_or(WriteJSON(*AForm.GetValue("ref")));
      auto it = FIds.find(ref);
      // An object still being read cannot stand inside itself: its fields own
      // their objects, so a cycle has no form here.
      const bool busy = std::find(FBusy.begin(), FBusy.end(), ref) != FBusy.end();
      if (it == FIds.end() || busy) {
        throw EConversionError(
            Format("Internal: Object type %s not found for id: %s", typeName, ref));
      }
      // Every field owns its object, so a reference gives a copy of the
      // object it names, read again from its form; what copies may add is
      // bounded by the size of the document.
      if (FBudget == 0) FBudget = Cost(FDocument);
      const std::size_t cost = Cost(*it->second);
      if (cost > FBudget - std::min(FBudget, FSpent)) {
        throw EConversionError(
            Format("Internal: References to id %s copy more than the document holds", ref));
      }
      FSpent += cost;
      return ReadObject(*it->second, ANestedField, AInstantiated);
    }
    throw EConversionError(Format("Internal: Invalid pair name %s: expected %s or %s",
                                  WriteJSON(AForm), "type", "ref"));
  }

 private:
  void Fill(TObject& AObject, const TClassInfo& AClass, const TJSONObject& AFields) {
    for (const TJSONPair& member : AFields.Members()) {
      const std::string& name = member.Name();
      const TJSONValue& value = *member.JsonValue();
      if (auto rule = FOwner.FRegistry->Find(AClass, name)) {
        ApplyRule(*rule, AObject, name, value);
        continue;
      }
      const TFieldInfo* field = AClass.FindField(name);
      // A field kept out of the object form is not read either: its value is
      // the object's own business (such as who owns its datasets).
      if (field == nullptr || !field->Marshalled()) {
        throw EConversionError(
            Format("Internal: Field %s cannot be found in type %s", name, AClass.ClassName()));
      }
      void* address = field->Locate(&AObject);
      if (const auto& reflect = field->Reflect()) {
        ApplyInterceptor(*reflect, AObject, AClass, *field, address, value);
        continue;
      }
      ReadInto(field->Type(), field->TypeName(), address, value, name, AClass);
    }
  }

  std::vector<std::unique_ptr<TObject>> ReadObjects(const std::string& AField,
                                                    const TJSONValue& AValue) {
    std::vector<std::unique_ptr<TObject>> out;
    if (AValue.IsNull()) return out;
    const TJSONArray* array = AValue.AsArray();
    if (array == nullptr) ArrayExpected(AField, AValue);
    out.reserve(array->Count());
    for (const TJSONValueRef& e : array->Elements()) {
      if (e.Get()->IsNull()) {
        out.push_back(nullptr);
      } else if (const TJSONObject* form = e.Get()->AsObject()) {
        out.push_back(ReadObject(*form));
      } else {
        ObjectExpected(AField, *e.Get());
      }
    }
    return out;
  }

  static std::vector<std::string> ReadStrings(const std::string& AField, const TJSONValue& AValue) {
    std::vector<std::string> out;
    if (AValue.IsNull()) return out;
    const TJSONArray* array = AValue.AsArray();
    if (array == nullptr) ArrayExpected(AField, AValue);
    for (const TJSONValueRef& e : array->Elements()) {
      const TJSONString* s = e.Get()->AsString();
      if (s == nullptr && !e.Get()->IsNull()) ArrayExpected(AField, AValue);
      out.push_back(s != nullptr ? s->Value() : std::string());
    }
    return out;
  }

  std::unique_ptr<TObject> ReadRequiredObject(const std::string& AField, const TJSONValue& AValue) {
    const TJSONObject* form = AValue.AsObject();
    if (form == nullptr) ObjectExpected(AField, AValue);
    return ReadObject(*form);
  }

  static std::string ReadRequiredString(const std::string& AField, const TJSONValue& AValue) {
    if (AValue.IsNull()) return std::string();
    const TJSONString* s = AValue.AsString();
    if (s == nullptr) ObjectExpected(AField, AValue);
    return s->IsNullString() ? std::string() : s->Value();
  }

  void ApplyRule(const TReverterEvent& ARule, TObject& AObject, const std::string& AField,
                 const TJSONValue& AValue) {
    switch (ARule.ReverterType) {
      case TReverterType::rtObjects:
      case TReverterType::rtTypeObjects: {
        auto objects = ReadObjects(AField, AValue);
        if (ARule.ObjectsReverter) ARule.ObjectsReverter(AObject, AField, std::move(objects));
        break;
      }
      case TReverterType::rtStrings:
      case TReverterType::rtTypeStrings: {
        auto strings = ReadStrings(AField, AValue);
        if (ARule.StringsReverter) ARule.StringsReverter(AObject, AField, std::move(strings));
        break;
      }
      case TReverterType::rtObject:
      case TReverterType::rtTypeObject: {
        auto object = ReadRequiredObject(AField, AValue);
        if (ARule.ObjectReverter) ARule.ObjectReverter(AObject, AField, std::move(object));
        break;
      }
      case TReverterType::rtString:
      case TReverterType::rtTypeString: {
        const std::string text = ReadRequiredString(AField, AValue);
        if (ARule.StringReverter) ARule.StringReverter(AObject, AField, text);
        break;
      }
    }
  }

  void ApplyInterceptor(const TJSONReflectAttribute& AReflect, TObject& AObject,
                        const TClassInfo& AClass, const TFieldInfo& AField, void* AAddress,
                        const TJSONValue& AValue) {
    std::unique_ptr<TJSONInterceptor> interceptor =
        AReflect.Interceptor ? AReflect.Interceptor() : nullptr;
    if (interceptor == nullptr) NotSupported("TJSONInterceptor");
    interceptor->SetConverterType(AReflect.ConverterType);
    interceptor->SetReverterType(AReflect.ReverterType);
    const std::string& name = AField.Name();
    const TTypeInfo& type = AField.Type();
    auto store = [&](std::unique_ptr<TObject> AResult) {
      if (type.Kind != TTypeKind::tkClass) CannotAssign(WriteJSON(AValue), name, AClass);
      if (AResult != nullptr && !type.AcceptsObj(*AResult)) {
        CannotAssign(WriteJSON(AValue), name, AClass);
      }
      type.SetObj(AAddress, std::move(AResult));
    };
    const TReverterType kind = AReflect.ReverterType;
    const bool typeKind =
        kind == TReverterType::rtTypeObject || kind == TReverterType::rtTypeObjects ||
        kind == TReverterType::rtTypeString || kind == TReverterType::rtTypeStrings;
    if (typeKind && AValue.IsNull()) {
      store(nullptr);  // the field gets no object
      return;
    }
    switch (kind) {
      case TReverterType::rtTypeObject:
        store(interceptor->TypeObjectReverter(ReadRequiredObject(name, AValue)));
        break;
      case TReverterType::rtTypeObjects:
        store(interceptor->TypeObjectsReverter(ReadObjects(name, AValue)));
        break;
      case TReverterType::rtTypeString:
        store(interceptor->TypeStringReverter(ReadRequiredString(name, AValue)));
        break;
      case TReverterType::rtTypeStrings:
        store(interceptor->TypeStringsReverter(ReadStrings(name, AValue)));
        break;
      case TReverterType::rtObject:
        interceptor->ObjectReverter(AObject, name,
                                    AValue.IsNull() ? nullptr : ReadRequiredObject(name, AValue));
        break;
      case TReverterType::rtObjects:
        interceptor->ObjectsReverter(AObject, name, ReadObjects(name, AValue));
        break;
      case TReverterType::rtString:
        interceptor->StringReverter(AObject, name, ReadRequiredString(name, AValue));
        break;
      case TReverterType::rtStrings:
        interceptor->StringsReverter(AObject, name, ReadStrings(name, AValue));
        break;
    }
  }

  // Reads AValue into the value of type AType at AAddress (a field, an array
  // element or a record field); AField and AClass name the field in errors.
  void ReadInto(const TTypeInfo& AType, const std::string& ATypeName, void* AAddress,
                const TJSONValue& AValue, const std::string& AField, const TClassInfo& AClass) {
    switch (AValue.Kind()) {
      case TJSONValue::TKind::String:
      case TJSONValue::TKind::Number: {
        const TJSONString& s = static_cast<const TJSONString&>(AValue);
        if (s.IsNullString()) {
          if (AType.Clear != nullptr) AType.Clear(AAddress);
          return;
        }
        ReadText(AType, AAddress, s.Value(), AField, AClass);
        return;
      }
      case TJSONValue::TKind::True:
      case TJSONValue::TKind::False:
        if (!AType.IsBoolean) CannotAssign(WriteJSON(AValue), AField, AClass);
        AType.SetBool(AAddress, AValue.Kind() == TJSONValue::TKind::True);
        return;
      case TJSONValue::TKind::Null:
        if (AType.Clear != nullptr) AType.Clear(AAddress);
        return;
      case TJSONValue::TKind::Object: {
        if (AType.Kind != TTypeKind::tkClass) CannotAssign(WriteJSON(AValue), AField, AClass);
        bool instantiated = true;
        std::unique_ptr<TObject> object =
            ReadObject(static_cast<const TJSONObject&>(AValue), true, &instantiated);
        if (!instantiated) {
          FOwner.FWarnings.back().ClassName = AClass.ClassName();
          FOwner.FWarnings.back().FieldName = AField;
          return;  // the field keeps what it had
        }
        if (object != nullptr && !AType.AcceptsObj(*object)) {
          CannotAssign(WriteJSON(AValue), AField, AClass);
        }
        AType.SetObj(AAddress, std::move(object));
        return;
      }
      case TJSONValue::TKind::Array:
        ReadArray(AType, ATypeName, AAddress, static_cast<const TJSONArray&>(AValue), AField,
                  AClass);
        return;
    }
  }

  void ReadArray(const TTypeInfo& AType, const std::string& ATypeName, void* AAddress,
                 const TJSONArray& AArray, const std::string& AField, const TClassInfo& AClass) {
    const std::size_t n = AArray.Count();
    if (AType.Kind == TTypeKind::tkArray || AType.Kind == TTypeKind::tkDynArray) {
      if (AType.Resize != nullptr) {
        AType.Resize(AAddress, n);
      } else {
        AType.Clear(AAddress);
        if (n > AType.Length(AAddress)) {
          throw EConversionError(Format("Internal: Array %s does not fit field %s of type %s",
                                        WriteJSON(AArray), AField, ATypeName));
        }
      }
      for (std::size_t i = 0; i < n; ++i) {
        ReadInto(*AType.Element, AType.Element->Name, AType.ElementAt(AAddress, i),
                 *AArray.Items(i), AField, AClass);
      }
      return;
    }
    if (AType.Kind == TTypeKind::tkRecord) {
      const std::vector<TFieldInfo> fields = AType.RecordFields();
      AType.Clear(AAddress);
      if (n > fields.size()) {
        throw EConversionError(Format("Internal: Array %s does not fit field %s of type %s",
                                      WriteJSON(AArray), AField, ATypeName));
      }
      for (std::size_t i = 0; i < n; ++i) {
        ReadInto(fields[i].Type(), fields[i].TypeName(), fields[i].Locate(AAddress),
                 *AArray.Items(i), AField, AClass);
      }
      return;
    }
    throw EConversionError(
        Format("Cannot set value for field %s as it is expected to be an array instead of %s",
               AField, ATypeName));
  }

  static void ReadText(const TTypeInfo& AType, void* AAddress, const std::string& AText,
                       const std::string& AField, const TClassInfo& AClass) {
    switch (AType.Kind) {
      case TTypeKind::tkInteger:
      case TTypeKind::tkInt64: {
        const auto v = ReadInteger(AText, AType.Min, AType.Max);
        if (!v) throw EConvertError(Format("'%s' is not a valid integer value", AText));
        AType.SetInt(AAddress, *v);
        return;
      }
      case TTypeKind::tkFloat: {
        const auto v = ReadFloat(AText);
        if (!v) throw EConvertError(Format("'%s' is not a valid floating point value", AText));
        AType.SetFloat(AAddress, *v);
        return;
      }
      case TTypeKind::tkUString:
        AType.SetStr(AAddress, AText);
        return;
      case TTypeKind::tkWChar: {
        std::size_t pos = 0;
        std::int64_t unit = 0;
        if (!AText.empty()) {
          const char32_t cp = DecodeUtf8(AText, pos);
          unit = cp >= 0x10000 ? 0xD800 + ((cp - 0x10000) >> 10) : cp;  // the first code unit
        }
        AType.SetInt(AAddress, unit);
        return;
      }
      case TTypeKind::tkEnumeration:
        for (std::size_t i = 0; i < AType.EnumNames.size(); ++i) {
          if (SameText(AType.EnumNames[i], AText)) {
            if (AType.IsBoolean) {
              AType.SetBool(AAddress, i == 1);
            } else {
              AType.SetInt(AAddress, static_cast<std::int64_t>(i));
            }
            return;
          }
        }
        CannotAssign(AText, AField, AClass);
      default:
        CannotAssign(AText, AField, AClass);
    }
  }

  TJSONUnMarshal& FOwner;
  const TJSONValue& FDocument;
  // Ids read in this call, with the form each stands for (forms live in the
  // document, which outlives the call).
  std::unordered_map<std::string, const TJSONObject*> FIds;
  std::vector<std::string> FBusy;  // ids whose objects are being filled
  std::size_t FBudget = 0;
  std::size_t FSpent = 0;
};

TJSONUnMarshal::TJSONUnMarshal() : FRegistry(std::make_shared<TReverterRegistry>()) {
  TJSONConverters::AddDefaultReverters(*FRegistry);
  FRegistry->FDefaultsRegistered = true;
}

TJSONUnMarshal::TJSONUnMarshal(std::shared_ptr<TReverterRegistry> ARegistry)
    : FRegistry(std::move(ARegistry)) {}

std::unique_ptr<TObject> TJSONUnMarshal::Unmarshal(const TJSONValue* AData) {
  if (AData == nullptr || AData->AsObject() == nullptr) {
    throw EConversionError("The input value is not a valid Object");
  }
  FWarnings.clear();
  TReader reader(*this, *AData);  // the table of ids lives for this call only
  return reader.ReadObject(*AData->AsObject());
}

void TJSONUnMarshal::RegisterReverter(const std::string& AQualifiedClass, const std::string& AField,
                                      TReverterEvent AEvent) {
  FRegistry->Register(AQualifiedClass, AField, std::move(AEvent));
}

}  // namespace qvr::rest
