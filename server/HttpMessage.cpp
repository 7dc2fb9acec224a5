// The server's view of an HTTP exchange; see HttpMessage.h.
#include "server/HttpMessage.h"

#include "platform/SysUtils.h"

namespace qvr::server {

const std::string* THttpRequest::Field(std::string_view AName) const {
  const std::string* found = nullptr;
  for (const auto& [name, value] : Fields) {
    if (SameText(name, AName)) found = &value;
  }
  return found;
}

std::size_t THttpRequest::FieldCount(std::string_view AName) const {
  std::size_t count = 0;
  for (const auto& field : Fields) count += SameText(field.first, AName) ? 1 : 0;
  return count;
}

std::string_view THttpRequest::Path() const {
  const std::string_view target = Target;
  return target.substr(0, target.find('?'));
}

void THttpAnswer::SetField(std::string AName, std::string AValue) {
  for (auto& field : Fields) {
    if (SameText(field.first, AName)) {
      field.second = std::move(AValue);
      return;
    }
  }
  Fields.emplace_back(std::move(AName), std::move(AValue));
}

}  // namespace qvr::server
