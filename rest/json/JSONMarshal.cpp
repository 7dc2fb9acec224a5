// The marshaller; see JSONMarshal.h.
#include "rest/json/JSONMarshal.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/json/JSONClassRegistry.h"
#include "rest/json/JSONConverters.h"
#include "rest/json/JSONExceptions.h"
#include "rest/json/detail/NotSupported.h"

namespace qvr::rest {

using detail::NotSupported;

namespace {

std::string DemangledName(const std::type_info& AType) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(
      abi::__cxa_demangle(AType.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name != nullptr ? std::string(name.get()) : std::string(AType.name());
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

}  // namespace qvr::rest
