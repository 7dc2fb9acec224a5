// Ready marshallers and unmarshallers, and the default rules; see
// JSONConverters.h.
#include "rest/json/JSONConverters.h"

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rest/json/JSONExceptions.h"
#include "rest/json/JSONValues.h"
#include "rest/json/StringBuilder.h"

namespace qvr::rest {

void TJSONConverters::AddDefaultConverters(TConverterRegistry& ARegistry) {
  std::scoped_lock lock(ARegistry.Lock());
  TConverterEvent members;
  members.ConverterType = TConverterType::ctObjects;
  members.ObjectsConverter = [](const TObject& AData, const std::string&) {
    std::vector<const TObject*> out;
    for (const TJSONPair& p : dynamic_cast<const TJSONObject&>(AData).Members()) out.push_back(&p);
    return out;
  };
  ARegistry.Register("System.JSON.TJSONObject", "FMembers", std::move(members));

  TConverterEvent elements;
  elements.ConverterType = TConverterType::ctObjects;
  elements.ObjectsConverter = [](const TObject& AData, const std::string&) {
    std::vector<const TObject*> out;
    for (const TJSONValueRef& e : dynamic_cast<const TJSONArray&>(AData).Elements()) {
      out.push_back(e.Get());
    }
    return out;
  };
  ARegistry.Register("System.JSON.TJSONArray", "FElements", std::move(elements));

  TConverterEvent strBuffer;  // no function: the buffer is not written
  strBuffer.ConverterType = TConverterType::ctString;
  ARegistry.Register("System.JSON.TJSONString", "FStrBuffer", std::move(strBuffer));

  TConverterEvent data;
  data.ConverterType = TConverterType::ctString;
  data.StringConverter = [](const TObject& AData, const std::string&) {
    return dynamic_cast<const TStringBuilder&>(AData).ToString();
  };
  ARegistry.Register("System.SysUtils.TStringBuilder", "FData", std::move(data));
}

void TJSONConverters::AddDefaultReverters(TReverterRegistry& ARegistry) {
  std::scoped_lock lock(ARegistry.Lock());
  TReverterEvent members;
  members.ReverterType = TReverterType::rtObjects;
  members.ObjectsReverter = [](TObject& AData, const std::string&,
                               std::vector<std::unique_ptr<TObject>> AArgs) {
    std::vector<TJSONPair> list;
    list.reserve(AArgs.size());
    for (auto& arg : AArgs) {
      auto* pair = dynamic_cast<TJSONPair*>(arg.get());
      if (pair == nullptr) {
        throw EConversionError("Internal: a member of a TJSONObject must be a TJSONPair");
      }
      list.push_back(std::move(*pair));
    }
    dynamic_cast<TJSONObject&>(AData).SetMembers(std::move(list));
  };
  ARegistry.Register("System.JSON.TJSONObject", "FMembers", std::move(members));

  TReverterEvent elements;
  elements.ReverterType = TReverterType::rtObjects;
  elements.ObjectsReverter = [](TObject& AData, const std::string&,
                                std::vector<std::unique_ptr<TObject>> AArgs) {
    std::vector<TJSONValueRef> list;
    list.reserve(AArgs.size());
    for (auto& arg : AArgs) {
      if (arg != nullptr && dynamic_cast<TJSONValue*>(arg.get()) == nullptr) {
        throw EConversionError("Internal: an element of a TJSONArray must be a TJSONValue");
      }
      std::unique_ptr<TJSONValue> v(static_cast<TJSONValue*>(arg.release()));
      if (v == nullptr) v = std::make_unique<TJSONNull>();
      list.emplace_back(std::move(v));
    }
    dynamic_cast<TJSONArray&>(AData).SetElements(std::move(list));
  };
  ARegistry.Register("System.JSON.TJSONArray", "FElements", std::move(elements));

  TReverterEvent strBuffer;
  strBuffer.ReverterType = TReverterType::rtObject;
  strBuffer.ObjectReverter = [](TObject& AData, const std::string&, std::unique_ptr<TObject> AArg) {
    auto* builder = dynamic_cast<TStringBuilder*>(AArg.get());
    if (builder == nullptr) {
      throw EConversionError("Internal: FStrBuffer must hold a System.SysUtils.TStringBuilder");
    }
    dynamic_cast<TJSONString&>(AData).SetValue(std::move(builder->FData));
  };  // the builder is released here
  ARegistry.Register("System.JSON.TJSONString", "FStrBuffer", std::move(strBuffer));

  TReverterEvent data;
  data.ReverterType = TReverterType::rtString;
  data.StringReverter = [](TObject& AData, const std::string&, const std::string& AArg) {
    dynamic_cast<TStringBuilder&>(AData).SetText(AArg);
  };
  ARegistry.Register("System.SysUtils.TStringBuilder", "FData", std::move(data));
}

namespace {
std::shared_ptr<TConverterRegistry> ProcessConverters() {
  static const auto registry = std::make_shared<TConverterRegistry>();
  return registry;
}
std::shared_ptr<TReverterRegistry> ProcessReverters() {
  static const auto registry = std::make_shared<TReverterRegistry>();
  return registry;
}
}  // namespace

std::unique_ptr<TJSONMarshal> TJSONConverters::GetJSONMarshaler() {
  auto registry = ProcessConverters();
  std::scoped_lock lock(registry->Lock());
  if (!registry->FDefaultsRegistered) {
    AddDefaultConverters(*registry);
    registry->FDefaultsRegistered = true;
  }
  return std::make_unique<TJSONMarshal>(std::move(registry));
}

std::unique_ptr<TJSONUnMarshal> TJSONConverters::GetJSONUnMarshaler() {
  auto registry = ProcessReverters();
  std::scoped_lock lock(registry->Lock());
  if (!registry->FDefaultsRegistered) {
    AddDefaultReverters(*registry);
    registry->FDefaultsRegistered = true;
  }
  return std::make_unique<TJSONUnMarshal>(std::move(registry));
}

}  // namespace qvr::rest
