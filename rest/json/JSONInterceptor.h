// Interceptors: objects that stand in for one field when it is written and
// read (TJSONInterceptor), the converter and reverter kinds that say which of
// their operations runs, the JSONReflect attribute that attaches an
// interceptor to a field, and what one unmarshalling call shares with the
// interceptors it runs (TUnmarshalContext).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Classes.h"

namespace qvr::rest {

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

// What one unmarshalling call shares with every interceptor it runs: how many
// bytes the objects read in the call may inflate to in all, and how many they
// have inflated to so far. A field may hold compressed data whose text is
// small and whose content is not, so the bound belongs to the call (the
// caller knows what memory it can give) and not to the process or to one
// field. The call owns its context and lends it to each interceptor while
// that interceptor reads.
class TUnmarshalContext {
 public:
  // No AMaxInflatedBytes: the caller sets no bound, and each interceptor
  // applies its own default.
  explicit TUnmarshalContext(std::optional<std::size_t> AMaxInflatedBytes = std::nullopt) noexcept
      : FMaxInflatedBytes(AMaxInflatedBytes) {}

  std::optional<std::size_t> MaxInflatedBytes() const noexcept { return FMaxInflatedBytes; }
  std::size_t InflatedBytes() const noexcept { return FInflatedBytes; }
  // An interceptor records here what its field inflated to, so that the
  // fields read after it have only the rest.
  void SetInflatedBytes(std::size_t AValue) noexcept { FInflatedBytes = AValue; }

 private:
  std::optional<std::size_t> FMaxInflatedBytes;
  std::size_t FInflatedBytes = 0;
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
  // The context of the unmarshalling call that runs the interceptor, set by
  // the call before a reverter runs; null outside such a call (an
  // interceptor used on its own).
  TUnmarshalContext* UnmarshalContext() const noexcept { return FUnmarshalContext; }
  void SetUnmarshalContext(TUnmarshalContext* AValue) noexcept { FUnmarshalContext = AValue; }

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
  // Borrowed from the call, which outlives the interceptor.
  TUnmarshalContext* FUnmarshalContext = nullptr;
};

using TInterceptorFactory = std::function<std::unique_ptr<TJSONInterceptor>()>;

// The JSONReflect attribute of a field.
struct TJSONReflectAttribute {
  TConverterType ConverterType = TConverterType::ctTypeObject;
  TReverterType ReverterType = TReverterType::rtTypeObject;
  TInterceptorFactory Interceptor;
  bool IsMarshalOwned = true;
};

}  // namespace qvr::rest
