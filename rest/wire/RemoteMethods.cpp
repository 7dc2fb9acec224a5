// The description of the remote methods; see RemoteMethods.h.
#include "rest/wire/RemoteMethods.h"

#include "platform/SysUtils.h"

namespace qvr::rest {

std::string TRemoteMethod::QualifiedName() const {
  std::string name(ClassName);
  name += '.';
  name += MethodName;
  return name;
}

std::span<const TWireParameter> TRemoteMethod::InParameters() const {
  std::size_t count = 0;
  while (count < Parameters.size() && TParameterDirections::IsIn(Parameters[count].Direction)) {
    ++count;
  }
  return Parameters.first(count);
}

const TWireParameter* TRemoteMethod::Result() const {
  for (const TWireParameter& parameter : Parameters) {
    if (parameter.Direction == TParameterDirections::Return) return &parameter;
  }
  return nullptr;
}

std::span<const TRemoteMethod* const> RemoteMethods() { return remote::kAll; }

const TRemoteMethod* FindRemoteMethod(std::string_view AClass, std::string_view AMethod) {
  if (AMethod.size() >= 2 && AMethod.front() == '"' && AMethod.back() == '"') {
    AMethod = AMethod.substr(1, AMethod.size() - 2);
  }
  for (const TRemoteMethod* method : remote::kAll) {
    if (SameText(AClass, method->ClassName) && SameText(AMethod, method->MethodName)) {
      return method;
    }
  }
  return nullptr;
}

std::vector<TWireParameter> CachedResultParameters(const TRemoteMethod& AMethod) {
  const auto in = AMethod.InParameters();
  std::vector<TWireParameter> parameters(in.begin(), in.end());
  parameters.push_back({"", TParameterDirections::Return, TValueTypes::WideString, "String"});
  return parameters;
}

}  // namespace qvr::rest
