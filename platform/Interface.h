// Reference-counted interfaces with query by identifier. An interface is an
// abstract class that derives (virtually) from IInterface and names its
// identifier in IID; an object that implements several of them is held
// through std::shared_ptr, and every face of it, reached by conversion or by
// QueryInterface, shares the object's one reference count. The count changes
// atomically, so references may be taken and dropped on any thread; the
// object is destroyed on the thread that drops the last one.
//
//   std::shared_ptr<IRestCachedJSONObject> item = client.Opciones_Cache();
//   if (auto command = Supports<IRestCachedCommand>(item)) command->DeleteCommand(rest);
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>

#include "platform/StrUtils.h"

namespace qvr {

// A 128-bit interface identifier, written "{8-4-4-4-12}" in hexadecimal.
struct TGUID {
  std::array<std::uint8_t, 16> Bytes{};
  bool operator==(const TGUID&) const = default;

  // AText in the form "{16B2E1F2-436B-45D8-A17D-5B1617F65BD6}". Text of
  // another form gives the all-zero identifier, which names no interface.
  static constexpr TGUID Parse(std::string_view AText) {
    TGUID guid;
    if (AText.size() != 38 || AText.front() != '{' || AText.back() != '}') return {};
    std::size_t byte = 0;
    for (std::size_t i = 1; i + 1 < AText.size();) {
      if (AText[i] == '-') {
        if (i != 9 && i != 14 && i != 19 && i != 24) return {};
        ++i;
        continue;
      }
      const int hi = HexDigit(AText[i]);
      const int lo = i + 1 < AText.size() ? HexDigit(AText[i + 1]) : -1;
      if (hi < 0 || lo < 0 || byte >= 16) return {};
      guid.Bytes[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
      i += 2;
    }
    return byte == 16 ? guid : TGUID{};
  }
};

class IInterface {
 public:
  virtual ~IInterface() = default;
  // A reference to the face of this object that AIID names, sharing its
  // reference count; null when the object does not answer AIID.
  virtual std::shared_ptr<IInterface> QueryInterface(const TGUID& AIID) = 0;
};

// The face I of AObject (I names its identifier in I::IID); null when AObject
// is null or does not answer it.
template <class I>
std::shared_ptr<I> Supports(const std::shared_ptr<IInterface>& AObject) {
  if (!AObject) return nullptr;
  return std::dynamic_pointer_cast<I>(AObject->QueryInterface(I::IID));
}
template <class J, class I>
requires(!std::is_same_v<I, IInterface>) std::shared_ptr<J> Supports(
    const std::shared_ptr<I>& AObject) {
  return Supports<J>(std::shared_ptr<IInterface>(AObject));
}

}  // namespace qvr
