// The REST proxy base classes; see ProxyRest.h.
#include "rest/ProxyRest.h"

namespace qvr::rest {

namespace {

const TRestParameterMetaData kGetPlatformName[] = {
    {"", TParameterDirections::Return, TValueTypes::WideString, "string"},
};

}  // namespace

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

std::string TAdminRestClient::GetPlatformName(const std::string& ARequestFilter) {
  TRestCommand& command =
      CommandFor(FGetPlatformNameCommand, "GET", "Admin.GetPlatformName", kGetPlatformName);
  command.Execute(ARequestFilter);
  return command.Parameters()->GetParameterByOrdinal(0).Value().GetWideString();
}

}  // namespace qvr::rest
