// The REST proxy base classes; see ProxyRest.h.
#include "rest/ProxyRest.h"

namespace qvr::rest {

TAdminRestClient::~TAdminRestClient() { FGetPlatformNameCommand.reset(); }

TRestCommand& TAdminRestClient::CommandFor(std::unique_ptr<TRestCommand>& AField,
                                           const char* ARequestType, const char* AText,
                                           std::span<const TRestParameterMetaData> ATable) {
  if (!AField) {
    auto command = FConnection->CreateCommand();
    command->SetRequestType(ARequestType);
    command->SetText(AText);
    command->Prepare(ATable);
    AField = std::move(command);
  }
  return *AField;
}

TRestCommand& TAdminRestClient::CommandFor(std::unique_ptr<TRestCommand>& AField,
                                           const TRemoteMethod& AMethod) {
  return CommandFor(AField, AMethod, AMethod.Parameters);
}

TRestCommand& TAdminRestClient::CommandFor(std::unique_ptr<TRestCommand>& AField,
                                           const TRemoteMethod& AMethod,
                                           std::span<const TWireParameter> AParameters) {
  if (AField) return *AField;
  const std::string verb(AMethod.Verb), text(AMethod.CommandText);
  const std::vector<TRestParameterMetaData> table = MetaDataOf(AParameters);
  return CommandFor(AField, verb.c_str(), text.c_str(), table);
}

std::string TAdminRestClient::GetPlatformName(const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FGetPlatformNameCommand, remote::GetPlatformName);
  command.Execute(ARequestFilter);
  return command.Parameters()->GetParameterByOrdinal(0).Value().GetWideString();
}

}  // namespace qvr::rest
