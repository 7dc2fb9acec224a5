// The client data module; see dBaseCliente.h.
#include "client/dBaseCliente.h"

namespace qvr::client {

namespace {

// The module's design-time values for its connection. Host, port and user name
// are replaced from config.ini at creation, so these never reach the wire.
constexpr const char* kDesignHost = "127.0.0.1";
constexpr std::int32_t kDesignPort = 40080;
constexpr const char* kDesignUserName = "{6F1D2C8A-3B4E-4F7A-9C51-2E8D7B0A4F63}";

std::unique_ptr<rest::TRestConnection> CreateRestComponent() {
  auto connection = std::make_unique<rest::TRestConnection>();
  connection->SetHost(kDesignHost);
  connection->SetPort(kDesignPort);
  connection->SetLoginPrompt(false);
  connection->SetUserName(kDesignUserName);
  return connection;
}

}  // namespace

TdmBaseCliente::TdmBaseCliente() {
  Frest = CreateRestComponent();
  FInstanceOwner = true;
  Fconfig = std::make_unique<config::TConfigClient>();
  FOpciones = std::make_unique<TOpciones>();
  Frest->SetHost(Fconfig->IP());
  Frest->SetPort(Fconfig->Puerto());
  // A different user name drops the session id, which is still empty here.
  Frest->SetUserName(Fconfig->UID());
}

TdmBaseCliente::~TdmBaseCliente() {
  Fconfig.reset();
  FOpciones.reset();
  Frest.reset();
}

}  // namespace qvr::client
