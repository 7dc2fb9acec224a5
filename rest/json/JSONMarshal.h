// The marshaller (TJSONMarshal): writes an object of a registered class as a
// JSON document that names its class ("type"), numbers itself ("id") and lists
// its fields ("fields"); a rule or an interceptor of a field decides how that
// field is written.
#pragma once

#include <memory>
#include <string>

#include "rest/json/JSONValues.h"
#include "rest/json/MarshalUnmarshalBase.h"
#include "rest/json/RuleRegistry.h"

namespace qvr::rest {

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

}  // namespace qvr::rest
