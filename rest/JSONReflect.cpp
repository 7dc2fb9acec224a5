// Class registry, interceptor defaults, rule registries, marshaller and
// unmarshaller; see JSONReflect.h.
#include "rest/JSONReflect.h"

#include <shared_mutex>
#include <unordered_map>

#include "platform/Utf.h"

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
// Marshaller and unmarshaller (to be completed)

TJSONMarshal::TJSONMarshal() : FRegistry(std::make_shared<TConverterRegistry>()) {
  TJSONConverters::AddDefaultConverters(*FRegistry);
}
TJSONMarshal::TJSONMarshal(std::shared_ptr<TConverterRegistry> ARegistry)
    : FRegistry(std::move(ARegistry)) {}

std::unique_ptr<TJSONValue> TJSONMarshal::Marshal(const TObject*) { return nullptr; }

void TJSONMarshal::RegisterConverter(const std::string& AQualifiedClass, const std::string& AField,
                                     TConverterEvent AEvent) {
  FRegistry->Register(AQualifiedClass, AField, std::move(AEvent));
}

TJSONUnMarshal::TJSONUnMarshal() : FRegistry(std::make_shared<TReverterRegistry>()) {
  TJSONConverters::AddDefaultReverters(*FRegistry);
}
TJSONUnMarshal::TJSONUnMarshal(std::shared_ptr<TReverterRegistry> ARegistry)
    : FRegistry(std::move(ARegistry)) {}

std::unique_ptr<TObject> TJSONUnMarshal::Unmarshal(const TJSONValue*) { return nullptr; }

void TJSONUnMarshal::RegisterReverter(const std::string& AQualifiedClass, const std::string& AField,
                                      TReverterEvent AEvent) {
  FRegistry->Register(AQualifiedClass, AField, std::move(AEvent));
}

void TJSONConverters::AddDefaultConverters(TConverterRegistry&) {}
void TJSONConverters::AddDefaultReverters(TReverterRegistry&) {}

std::unique_ptr<TJSONMarshal> TJSONConverters::GetJSONMarshaler() {
  return std::make_unique<TJSONMarshal>();
}
std::unique_ptr<TJSONUnMarshal> TJSONConverters::GetJSONUnMarshaler() {
  return std::make_unique<TJSONUnMarshal>();
}

}  // namespace qvr::rest
