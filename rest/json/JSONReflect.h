// Marshalled objects: an object of a registered class written as JSON that
// names its class ("type"), numbers itself ("id") and lists its fields
// ("fields"), and read back into a new object of that class.
//
// C++ has no reflection, so every marshalled class registers, beside its
// declaration, its qualified type name, its base class and an explicit field
// table with literal wire names (renaming a C++ member never changes the JSON).
// Field kinds come from the member's C++ type (see TypeInfoOf). Creating an
// object from a "type" only ever instantiates registered classes.
//
// Registration example (in the class's .cpp, at namespace scope):
//
//   // class TItemList : public TObject { ... };      // the list, a TObject
//   // class TDataSetListBase : public TObject {
//   //  public:
//   //   std::unique_ptr<TItemList> FDataSets;        // absent after construction
//   //   bool FOwnsDataSets = true;
//   // };
//   // class TDataSetList : public TDataSetListBase {};
//   const qvr::rest::TJSONClass<TDataSetListBase> RegBase{
//       "Data.DataSetJSONReflect.TDataSetListBase",
//       {qvr::rest::Field<&TDataSetListBase::FDataSets>("FDataSets")
//            .DeclaredType("TDataSetListBase.TItemList")
//            .JSONReflect(qvr::rest::TConverterType::ctTypeObject,
//                         qvr::rest::TReverterType::rtTypeObject,
//                         [] { return std::make_unique<TDataSetListInterceptor>(); })
//            .JSONOwned(false),
//        qvr::rest::Field<&TDataSetListBase::FOwnsDataSets>("FOwnsDataSets")
//            .JSONMarshalled(false)}};
//   const qvr::rest::TJSONClass<TDataSetList, TDataSetListBase> RegList{
//       "Data.DataSetJSONReflect.TDataSetList", {}};
//
// where TDataSetListInterceptor derives from TJSONInterceptor and overrides
// TypeObjectConverter (list -> new TJSONObject it keeps alive) and
// TypeObjectReverter (TJSONObject it takes -> new list).
//
// The core is a static library: put the registration in the .cpp that also
// defines the class's first out-of-line virtual function (its destructor, for
// example), so that every program that creates the class links it too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/Classes.h"
#include "platform/SysUtils.h"
#include "rest/json/JSONValues.h"

namespace qvr::rest {

// Raised for every marshalling and unmarshalling failure except unreadable
// numbers (EConvertError).
class EConversionError : public Exception {
 public:
  using Exception::Exception;
};

// ---------------------------------------------------------------------------
// Type descriptions
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// Interceptors and converter/reverter kinds
// ---------------------------------------------------------------------------

enum class TConverterType : std::uint8_t {
  ctObjects,
  ctStrings,
  ctTypeObjects,
  ctTypeStrings,
  ctObject,
  ctString,
  ctTypeObject,
  ctTypeString
};
enum class TReverterType : std::uint8_t {
  rtObjects,
  rtStrings,
  rtTypeObjects,
  rtTypeStrings,
  rtObject,
  rtString,
  rtTypeObject,
  rtTypeString
};

// Stands in for one field in both directions. The marshaller creates one per
// field and call (through the field's JSONReflect factory), sets its kinds,
// and releases it once the field is written or read; whatever the interceptor
// keeps (objects it built for writing, objects it was handed) lives exactly as
// long. The defaults raise EConversionError ("Internal: Type %s is not
// currently supported"); an interceptor overrides the operations it serves.
class TJSONInterceptor : public TObject {
 public:
  TJSONInterceptor() = default;
  TJSONInterceptor(const TJSONInterceptor&) = delete;
  TJSONInterceptor& operator=(const TJSONInterceptor&) = delete;
  ~TJSONInterceptor() override = default;

  TConverterType ConverterType() const noexcept { return FConverterType; }
  void SetConverterType(TConverterType AValue) noexcept { FConverterType = AValue; }
  TReverterType ReverterType() const noexcept { return FReverterType; }
  void SetReverterType(TReverterType AValue) noexcept { FReverterType = AValue; }
  bool ObjectType() const noexcept { return FObjectType; }

  // Field converters get the object and the field's name; the type
  // converters get the object the field holds. Returned objects stay with
  // the interceptor (or with AData) until the interceptor is released.
  virtual std::vector<const TObject*> ObjectsConverter(const TObject& AData,
                                                       const std::string& AField);
  virtual std::vector<std::string> StringsConverter(const TObject& AData,
                                                    const std::string& AField);
  virtual std::vector<const TObject*> TypeObjectsConverter(const TObject& AData);
  virtual std::vector<std::string> TypeStringsConverter(const TObject& AData);
  virtual const TObject* ObjectConverter(const TObject& AData, const std::string& AField);
  virtual std::string StringConverter(const TObject& AData, const std::string& AField);
  virtual const TObject* TypeObjectConverter(const TObject& AData);
  virtual std::string TypeStringConverter(const TObject& AData);

  // Field reverters store into AData's field themselves; type reverters
  // return the new value of the field. Objects handed in belong to the
  // interceptor from then on.
  virtual void ObjectsReverter(TObject& AData, const std::string& AField,
                               std::vector<std::unique_ptr<TObject>> AArgs);
  virtual void StringsReverter(TObject& AData, const std::string& AField,
                               std::vector<std::string> AArgs);
  virtual std::unique_ptr<TObject> TypeObjectsReverter(std::vector<std::unique_ptr<TObject>> AData);
  virtual std::unique_ptr<TObject> TypeStringsReverter(std::vector<std::string> AData);
  virtual void ObjectReverter(TObject& AData, const std::string& AField,
                              std::unique_ptr<TObject> AArg);
  virtual void StringReverter(TObject& AData, const std::string& AField, const std::string& AArg);
  virtual std::unique_ptr<TObject> TypeObjectReverter(std::unique_ptr<TObject> AData);
  virtual std::unique_ptr<TObject> TypeStringReverter(const std::string& AData);

 protected:
  TConverterType FConverterType = TConverterType::ctString;
  TReverterType FReverterType = TReverterType::rtString;
  bool FObjectType = false;
};

using TInterceptorFactory = std::function<std::unique_ptr<TJSONInterceptor>()>;

// The JSONReflect attribute of a field.
struct TJSONReflectAttribute {
  TConverterType ConverterType = TConverterType::ctTypeObject;
  TReverterType ReverterType = TReverterType::rtTypeObject;
  TInterceptorFactory Interceptor;
  bool IsMarshalOwned = true;
};

// ---------------------------------------------------------------------------
// Fields and classes
// ---------------------------------------------------------------------------

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

namespace detail {
template <class M>
struct TMemberPointer;
template <class C, class T>
struct TMemberPointer<T C::*> {
  using Class = C;
  using Type = T;
};
template <auto AMember>
void* LocateMember(void* AOwner) {
  using C = typename TMemberPointer<decltype(AMember)>::Class;
  if constexpr (std::is_base_of_v<TObject, C>) {
    return &(static_cast<C*>(static_cast<TObject*>(AOwner))->*AMember);
  } else {
    return &(static_cast<C*>(AOwner)->*AMember);
  }
}
// A type description for a member whose kind has no JSON form.
const TTypeInfo& NoFormTypeInfo(TTypeKind AKind, const std::string& AName);
}  // namespace detail

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
// AQualifiedName with its own fields. Declare one at namespace scope beside
// the class's definition. C's parameterless constructor is used when it has
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

// ---------------------------------------------------------------------------
// Converter and reverter rules
// ---------------------------------------------------------------------------

// A converter rule for one field of one class (and its subclasses). Exactly
// the function of ConverterType is called; a rule whose function is empty
// writes nothing for the field. Objects returned stay with AData.
struct TConverterEvent {
  TConverterType ConverterType = TConverterType::ctObjects;
  std::function<std::vector<const TObject*>(const TObject& AData, const std::string& AField)>
      ObjectsConverter;
  std::function<std::vector<std::string>(const TObject& AData, const std::string& AField)>
      StringsConverter;
  std::function<const TObject*(const TObject& AData, const std::string& AField)> ObjectConverter;
  std::function<std::string(const TObject& AData, const std::string& AField)> StringConverter;
};

// A reverter rule: the function of ReverterType stores the value read. For
// rtObjects the value must be an array (or null, given as no objects), for
// rtObject an object form, for rtString a string (or null, given as "").
struct TReverterEvent {
  TReverterType ReverterType = TReverterType::rtObjects;
  std::function<void(TObject& AData, const std::string& AField,
                     std::vector<std::unique_ptr<TObject>> AArgs)>
      ObjectsReverter;
  std::function<void(TObject& AData, const std::string& AField, std::vector<std::string> AArgs)>
      StringsReverter;
  std::function<void(TObject& AData, const std::string& AField, std::unique_ptr<TObject> AArg)>
      ObjectReverter;
  std::function<void(TObject& AData, const std::string& AField, const std::string& AArg)>
      StringReverter;
};

// Rules keyed by "unit.class.field". Each registry has its own lock; a
// look-up holds it for the look-up only.
template <class TEvent>
class TRuleRegistry {
 public:
  void Register(const std::string& AQualifiedClass, const std::string& AField, TEvent AEvent) {
    std::scoped_lock lock(FLock);
    FRules[AQualifiedClass + "." + AField] = std::make_shared<const TEvent>(std::move(AEvent));
  }
  // The rule for AField of AClass or its nearest base that has one.
  std::shared_ptr<const TEvent> Find(const TClassInfo& AClass, std::string_view AField) const {
    std::scoped_lock lock(FLock);
    if (FRules.empty()) return nullptr;
    std::string key;
    for (const TClassInfo* c = &AClass; c != nullptr; c = c->Parent()) {
      key.assign(c->QualifiedName()).append(".").append(AField);
      auto it = FRules.find(key);
      if (it != FRules.end()) return it->second;
    }
    return nullptr;
  }
  bool Empty() const {
    std::scoped_lock lock(FLock);
    return FRules.empty();
  }
  // Held while a marshaller or unmarshaller is created on this registry
  // (recursive, so that the default rules can be registered under it).
  std::recursive_mutex& Lock() const noexcept { return FLock; }
  bool FDefaultsRegistered = false;  // guarded by Lock()

 private:
  mutable std::recursive_mutex FLock;
  std::map<std::string, std::shared_ptr<const TEvent>, std::less<>> FRules;
};

using TConverterRegistry = TRuleRegistry<TConverterEvent>;
using TReverterRegistry = TRuleRegistry<TReverterEvent>;

// ---------------------------------------------------------------------------
// Marshaller and unmarshaller
// ---------------------------------------------------------------------------

// A field that was not written: its class, its name and its type.
struct TTransientField {
  std::string ClassName;
  std::string FieldName;
  std::string TypeName;
};

class TMarshalUnmarshalBase : public TObject {
 public:
  TMarshalUnmarshalBase() = default;
  TMarshalUnmarshalBase(const TMarshalUnmarshalBase&) = delete;
  TMarshalUnmarshalBase& operator=(const TMarshalUnmarshalBase&) = delete;
  // The warnings of the last call.
  const std::vector<TTransientField>& Warnings() const noexcept { return FWarnings; }

 protected:
  std::vector<TTransientField> FWarnings;
};

template <class T>
class TTypeMarshaller : public TMarshalUnmarshalBase {};

// Writes objects as JSON documents. Serves one thread at a time.
class TJSONMarshal : public TTypeMarshaller<TJSONValue> {
 public:
  // A marshaller with a registry of its own that holds the default rules.
  TJSONMarshal();
  // A marshaller on ARegistry (whose default rules the caller registered).
  explicit TJSONMarshal(std::shared_ptr<TConverterRegistry> ARegistry);

  // The document of AData: its object form, or JSON null when AData is null.
  // The document is new and belongs to the caller; AData is not changed.
  // Raises EConversionError (the messages of the marshalling failures) and
  // then returns nothing; the id counter and the table of objects written
  // are reset in every case.
  std::unique_ptr<TJSONValue> Marshal(const TObject* AData);

  void RegisterConverter(const std::string& AQualifiedClass, const std::string& AField,
                         TConverterEvent AEvent);
  const std::shared_ptr<TConverterRegistry>& Registry() const noexcept { return FRegistry; }

 private:
  class TWriter;
  std::shared_ptr<TConverterRegistry> FRegistry;
};

// Reads JSON documents back into new objects. Serves one thread at a time.
class TJSONUnMarshal : public TMarshalUnmarshalBase {
 public:
  // An unmarshaller with a reverter registry of its own holding the default
  // rules.
  TJSONUnMarshal();
  explicit TJSONUnMarshal(std::shared_ptr<TReverterRegistry> ARegistry);

  // A new object of the class the document names; the caller owns it. AData
  // is not changed. Raises EConversionError or EConvertError (the messages
  // of the unmarshalling failures); after a failure no object of the call
  // is left alive.
  std::unique_ptr<TObject> Unmarshal(const TJSONValue* AData);
  std::unique_ptr<TObject> Unmarshal(const TJSONValue& AData) { return Unmarshal(&AData); }

  void RegisterReverter(const std::string& AQualifiedClass, const std::string& AField,
                        TReverterEvent AEvent);
  const std::shared_ptr<TReverterRegistry>& Registry() const noexcept { return FRegistry; }

 private:
  class TReader;
  std::shared_ptr<TReverterRegistry> FRegistry;
};

// Ready marshallers and unmarshallers on the process-wide registries, which
// receive the default rules on first use (under their lock).
class TJSONConverters {
 public:
  static std::unique_ptr<TJSONMarshal> GetJSONMarshaler();
  static std::unique_ptr<TJSONUnMarshal> GetJSONUnMarshaler();
  // The default rules: TJSONObject.FMembers, TJSONArray.FElements,
  // TJSONString.FStrBuffer and TStringBuilder.FData.
  static void AddDefaultConverters(TConverterRegistry& ARegistry);
  static void AddDefaultReverters(TReverterRegistry& ARegistry);
};

// A text builder ("System.SysUtils.TStringBuilder"), the form in which a
// string's text may arrive ("FStrBuffer").
class TStringBuilder : public TObject {
 public:
  TStringBuilder() = default;
  explicit TStringBuilder(std::string AText);
  const std::string& ToString() const noexcept { return FData; }
  void SetText(std::string AText);
  TStringBuilder& Append(std::string_view AText);
  std::int32_t Length() const noexcept { return FLength; }

  std::string FData;
  std::int32_t FLength = 0;  // UTF-16 code units of FData
  std::int32_t FMaxCapacity = 0x7FFFFFFF;
};

// ---------------------------------------------------------------------------
// TypeInfoOf: the type descriptions of the supported C++ types
// ---------------------------------------------------------------------------

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
}  // namespace detail

template <class T>
const TTypeInfo& TypeInfoOf() {
  static const TTypeInfo info = detail::MakeTypeInfo<T>();
  return info;
}

}  // namespace qvr::rest
