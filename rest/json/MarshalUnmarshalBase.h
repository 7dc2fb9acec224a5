// What the marshaller and the unmarshaller have in common: the warnings of
// their last call, one per field that was not written or read
// (TTransientField).
#pragma once

#include <string>
#include <vector>

#include "platform/Classes.h"

namespace qvr::rest {

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

}  // namespace qvr::rest
