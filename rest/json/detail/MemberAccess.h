// How a field-table row finds its value: the class and type of a data member
// pointer, and the address of that member inside its owner (a TObject for a
// class field, the record itself for a record field). Used by Field and
// NoFormField (rest/json/FieldInfo.h).
#pragma once

#include <type_traits>

#include "platform/Classes.h"

namespace qvr::rest::detail {

template <class M>
struct TMemberPointer;
template <class C, class T>
struct TMemberPointer<T C::*> {
  using Class = C;
  using Type = T;
};
template <auto AMember>
void* LocateMember(void* AOwner) {
  using C = typename TMemberPointer<decltype(AMember)>::Class;
  if constexpr (std::is_base_of_v<TObject, C>) {
    return &(static_cast<C*>(static_cast<TObject*>(AOwner))->*AMember);
  } else {
    return &(static_cast<C*>(AOwner)->*AMember);
  }
}

}  // namespace qvr::rest::detail
