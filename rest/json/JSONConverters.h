// Ready marshallers and unmarshallers (TJSONConverters) on the process-wide
// rule registries, and the default rules that every registry receives: how
// the JSON library's own list and text fields travel.
#pragma once

#include <memory>

#include "rest/json/JSONMarshal.h"
#include "rest/json/JSONUnMarshal.h"
#include "rest/json/RuleRegistry.h"

namespace qvr::rest {

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

}  // namespace qvr::rest
