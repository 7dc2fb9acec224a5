// Fuzz target: the unmarshaller on any JSON text, with the project's
// registered classes (the JSON library's own, the options record, the
// dataset list). A document that does not read fails with the library's
// exceptions only; one that reads is marshalled, and that document reads
// back into an object that marshals to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/uGral.h"
#include "fuzz/FuzzSupport.h"
#include "platform/SysUtils.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"

namespace {

using namespace qvr;
using namespace qvr::rest;

// The marshalled text of AObject, or empty when it cannot be marshalled
// (a value without a JSON form, such as a NaN float).
std::string MarshalText(const TObject& AObject) {
  try {
    TJSONMarshal marshaller;
    const std::unique_ptr<TJSONValue> doc = marshaller.Marshal(&AObject);
    return doc != nullptr ? WriteJSON(*doc) : std::string();
  } catch (const Exception&) {
    return {};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const std::unique_ptr<TJSONValue> doc =
      ParseJSON(std::string_view(reinterpret_cast<const char*>(AData), ASize));
  if (doc == nullptr) return 0;
  std::unique_ptr<TObject> object;
  try {
    TJSONUnMarshal unmarshaller;
    object = unmarshaller.Unmarshal(*doc);
  } catch (const Exception&) {
    return 0;  // EConversionError, EConvertError, the dataset list's errors
  }
  if (object == nullptr) return 0;
  const std::string written = MarshalText(*object);
  if (written.empty()) return 0;
  const std::unique_ptr<TJSONValue> again = ParseJSON(written);
  fuzz::Check(again != nullptr, "the marshalled text parses");
  std::unique_ptr<TObject> copy;
  try {
    TJSONUnMarshal unmarshaller;
    copy = unmarshaller.Unmarshal(*again);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n%s\n", written.c_str(), e.what());
    fuzz::Check(false, "what the marshaller wrote reads back");
  }
  fuzz::Check(copy != nullptr, "what the marshaller wrote reads back into an object");
  fuzz::Check(MarshalText(*copy) == written, "the copy marshals to the same text");
  return 0;
}
