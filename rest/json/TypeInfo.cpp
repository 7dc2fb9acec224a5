// Type descriptions; see TypeInfo.h.
#include "rest/json/TypeInfo.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace qvr::rest {

std::string_view TypeKindName(TTypeKind AKind) noexcept {
  switch (AKind) {
    case TTypeKind::tkInteger:
      return "tkInteger";
    case TTypeKind::tkInt64:
      return "tkInt64";
    case TTypeKind::tkFloat:
      return "tkFloat";
    case TTypeKind::tkEnumeration:
      return "tkEnumeration";
    case TTypeKind::tkWChar:
      return "tkWChar";
    case TTypeKind::tkUString:
      return "tkUString";
    case TTypeKind::tkClass:
      return "tkClass";
    case TTypeKind::tkArray:
      return "tkArray";
    case TTypeKind::tkDynArray:
      return "tkDynArray";
    case TTypeKind::tkRecord:
      return "tkRecord";
    case TTypeKind::tkSet:
      return "tkSet";
    case TTypeKind::tkMethod:
      return "tkMethod";
    case TTypeKind::tkProcedure:
      return "tkProcedure";
    case TTypeKind::tkPointer:
      return "tkPointer";
    case TTypeKind::tkClassRef:
      return "tkClassRef";
    case TTypeKind::tkInterface:
      return "tkInterface";
    case TTypeKind::tkVariant:
      return "tkVariant";
  }
  return "tkUnknown";
}

namespace detail {
const TTypeInfo& NoFormTypeInfo(TTypeKind AKind, const std::string& AName) {
  // One description per (kind, name), kept for the life of the process.
  static std::mutex lock;
  static std::map<std::pair<TTypeKind, std::string>, std::unique_ptr<TTypeInfo>> infos;
  std::scoped_lock guard(lock);
  auto& slot = infos[{AKind, AName}];
  if (slot == nullptr) {
    slot = std::make_unique<TTypeInfo>();
    slot->Kind = AKind;
    slot->Name = AName;
  }
  return *slot;
}
}  // namespace detail

}  // namespace qvr::rest
