// The unmarshaller (TJSONUnMarshal): reads a JSON document that a marshaller
// wrote back into a new object of the class it names, through the fields'
// rules and interceptors where they have them.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "rest/json/JSONInterceptor.h"
#include "rest/json/JSONValues.h"
#include "rest/json/MarshalUnmarshalBase.h"
#include "rest/json/RuleRegistry.h"

namespace qvr::rest {

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
  // The same for a document the call may take apart: texts of 4 KiB and more
  // move out of AData into the object read instead of being copied (a dataset
  // blob is megabytes), unless the document holds a reference form ("ref"),
  // whose object is read again from a form that must stay whole. AData is
  // released before the call returns; failures as above, and a failure's
  // message may show a text already taken as empty.
  std::unique_ptr<TObject> UnmarshalTaking(std::unique_ptr<TJSONValue> AData);

  // What the objects read in one call may inflate to, in bytes, all their
  // fields together; every call from then on starts from nothing spent. Only
  // interceptors that inflate what they read (through their
  // TUnmarshalContext) spend it, and they raise their own failure beyond it.
  // Unset (the default): each interceptor applies its own default bound.
  std::optional<std::size_t> MaxInflatedBytes() const noexcept { return FMaxInflatedBytes; }
  void SetMaxInflatedBytes(std::optional<std::size_t> AValue) noexcept {
    FMaxInflatedBytes = AValue;
  }

  void RegisterReverter(const std::string& AQualifiedClass, const std::string& AField,
                        TReverterEvent AEvent);
  const std::shared_ptr<TReverterRegistry>& Registry() const noexcept { return FRegistry; }

 private:
  class TReader;
  // Both Unmarshal forms; ATakeTexts lets the reader move long strings out
  // of the document.
  std::unique_ptr<TObject> Read(const TJSONValue* AData, bool ATakeTexts);

  std::shared_ptr<TReverterRegistry> FRegistry;
  std::optional<std::size_t> FMaxInflatedBytes;
};

}  // namespace qvr::rest
