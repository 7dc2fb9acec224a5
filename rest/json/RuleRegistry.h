// Converter and reverter rules: a rule for one field of one class (and its
// subclasses) replaces how the marshaller writes it (TConverterEvent) or the
// unmarshaller reads it (TReverterEvent); TRuleRegistry keeps them by
// "unit.class.field".
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Classes.h"
#include "rest/json/JSONClassRegistry.h"
#include "rest/json/JSONInterceptor.h"

namespace qvr::rest {

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

}  // namespace qvr::rest
