// TStringBuilder ("System.SysUtils.TStringBuilder"): a text builder, the form
// in which a marshalled string's text may arrive ("FStrBuffer").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Classes.h"

namespace qvr::rest {

// A text builder ("System.SysUtils.TStringBuilder"), the form in which a
// string's text may arrive ("FStrBuffer").
class TStringBuilder : public TObject {
 public:
  TStringBuilder() = default;
  explicit TStringBuilder(std::string AText);
  const std::string& ToString() const noexcept { return FData; }
  void SetText(std::string AText);
  TStringBuilder& Append(std::string_view AText);
  std::int32_t Length() const noexcept { return FLength; }

  std::string FData;
  std::int32_t FLength = 0;  // UTF-16 code units of FData
  std::int32_t FMaxCapacity = 0x7FFFFFFF;
};

}  // namespace qvr::rest
