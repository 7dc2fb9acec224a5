// TStringBuilder; see StringBuilder.h.
#include "rest/json/StringBuilder.h"

#include <utility>

#include "platform/Utf.h"

namespace qvr::rest {

TStringBuilder::TStringBuilder(std::string AText) { SetText(std::move(AText)); }

void TStringBuilder::SetText(std::string AText) {
  FData = std::move(AText);
  FLength = static_cast<std::int32_t>(Utf16Length(FData));
}

TStringBuilder& TStringBuilder::Append(std::string_view AText) {
  FData.append(AText);
  FLength = static_cast<std::int32_t>(Utf16Length(FData));
  return *this;
}

}  // namespace qvr::rest
