// The blob texts of a marshalled dataset-list document, in list order, found
// by the document's fixed shape (docs/dataset-format.md, section 5). For
// tests and benchmarks that look at the blobs themselves.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rest/json/JSONText.h"

namespace qvr::test {

inline std::vector<std::string> DocumentBlobs(std::string_view ADocument) {
  using rest::TJSONValue;
  const auto fields = [](const TJSONValue& AForm) {
    return AForm.AsObject()->GetValue("fields")->AsObject();
  };
  const std::unique_ptr<TJSONValue> doc = rest::ParseJSON(ADocument);
  const TJSONValue& list = *fields(*doc)->GetValue("FDataSets");
  std::vector<std::string> blobs;
  for (const rest::TJSONValueRef& pair :
       fields(list)->GetValue("FMembers")->AsArray()->Elements()) {
    const TJSONValue& value = *fields(*pair.Get())->GetValue("FJsonValue");
    blobs.push_back(fields(value)->GetValue("FValue")->AsString()->Value());
  }
  return blobs;
}

}  // namespace qvr::test
