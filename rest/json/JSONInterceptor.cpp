// The defaults of every interceptor operation; see JSONInterceptor.h.
#include "rest/json/JSONInterceptor.h"

#include "rest/json/detail/NotSupported.h"

namespace qvr::rest {

using detail::NotSupported;

std::vector<const TObject*> TJSONInterceptor::ObjectsConverter(const TObject&, const std::string&) {
  NotSupported("ctObjects");
}
std::vector<std::string> TJSONInterceptor::StringsConverter(const TObject&, const std::string&) {
  NotSupported("ctStrings");
}
std::vector<const TObject*> TJSONInterceptor::TypeObjectsConverter(const TObject&) {
  NotSupported("ctTypeObjects");
}
std::vector<std::string> TJSONInterceptor::TypeStringsConverter(const TObject&) {
  NotSupported("ctTypeStrings");
}
const TObject* TJSONInterceptor::ObjectConverter(const TObject&, const std::string&) {
  NotSupported("ctObject");
}
std::string TJSONInterceptor::StringConverter(const TObject&, const std::string&) {
  NotSupported("ctString");
}
const TObject* TJSONInterceptor::TypeObjectConverter(const TObject&) {
  NotSupported("ctTypeObject");
}
std::string TJSONInterceptor::TypeStringConverter(const TObject&) { NotSupported("ctTypeString"); }
void TJSONInterceptor::ObjectsReverter(TObject&, const std::string&,
                                       std::vector<std::unique_ptr<TObject>>) {
  NotSupported("rtObjects");
}
void TJSONInterceptor::StringsReverter(TObject&, const std::string&, std::vector<std::string>) {
  NotSupported("rtStrings");
}
std::unique_ptr<TObject> TJSONInterceptor::TypeObjectsReverter(
    std::vector<std::unique_ptr<TObject>>) {
  NotSupported("rtTypeObjects");
}
std::unique_ptr<TObject> TJSONInterceptor::TypeStringsReverter(std::vector<std::string>) {
  NotSupported("rtTypeStrings");
}
void TJSONInterceptor::ObjectReverter(TObject&, const std::string&, std::unique_ptr<TObject>) {
  NotSupported("rtObject");
}
void TJSONInterceptor::StringReverter(TObject&, const std::string&, const std::string&) {
  NotSupported("rtString");
}
std::unique_ptr<TObject> TJSONInterceptor::TypeObjectReverter(std::unique_ptr<TObject>) {
  NotSupported("rtTypeObject");
}
std::unique_ptr<TObject> TJSONInterceptor::TypeStringReverter(const std::string&) {
  NotSupported("rtTypeString");
}

}  // namespace qvr::rest
