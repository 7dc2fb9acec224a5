// Field tables; see FieldInfo.h.
#include "rest/json/FieldInfo.h"

#include "rest/json/JSONClassRegistry.h"

namespace qvr::rest {

std::string TFieldInfo::TypeName() const {
  if (!FDeclaredType.empty()) return FDeclaredType;
  if (FType->Kind == TTypeKind::tkClass && FType->ClassType != nullptr) {
    if (const TClassInfo* c = TJSONClassRegistry::FindByType(*FType->ClassType)) {
      return c->ClassName();
    }
    return "TObject";
  }
  return FType->Name;
}

}  // namespace qvr::rest
