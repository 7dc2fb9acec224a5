// The client data module: the non-visual heart that every client program of
// the suite creates once at start-up. It owns the configuration, the REST
// connection to the attendance server and the server's options record.
#pragma once

#include <memory>
#include <string>

#include "client/uGral.h"
#include "config/uConfigClient.h"
#include "platform/Classes.h"
#include "platform/ComputerInfo.h"
#include "rest/RestConnection.h"

namespace qvr::client {

class TdmBaseCliente : public TObject {
 public:
  // Builds the components (rest with Host "127.0.0.1", Port 40080, LoginPrompt
  // false and a design-time user name), then: InstanceOwner true, the
  // configuration, a fresh options record, and the connection's host, port and
  // user name from the configuration, in that order. Nothing is sent.
  TdmBaseCliente();
  // Releases the configuration, then the options record, then the components.
  ~TdmBaseCliente() override;
  TdmBaseCliente(const TdmBaseCliente&) = delete;
  TdmBaseCliente& operator=(const TdmBaseCliente&) = delete;

  bool InstanceOwner() const { return FInstanceOwner; }
  config::TConfigClient& config() { return *Fconfig; }
  TOpciones& Opciones() { return *FOpciones; }
  rest::TRestConnection& rest() { return *Frest; }

  // The per-user data folder, <roaming application-data folder>/QVR/, and its
  // sub-folders imagenes/ and registros/; each ends in "/", is computed on
  // every read and is created when missing (one level, links followed). A
  // folder that cannot be created is returned all the same, and nothing is
  // raised. When the application-data folder is unknown the path is "/QVR/".
  std::string RutaDatos() const;
  std::string RutaImagenes() const;
  std::string RutaRegistros() const;
  // "v" and the four version numbers of the running executable (v1.0.0.3).
  // Raises qvr::EOSError when the executable carries no version (see
  // TVorelFileVersion::Actualizar).
  std::string Version() const;

 protected:
  // Replaces the options record, releasing the old one.
  void SetOpciones(std::unique_ptr<TOpciones> AValue) { FOpciones = std::move(AValue); }

 private:
  // Components, in the order the module builds them.
  std::unique_ptr<rest::TRestConnection> Frest;
  std::unique_ptr<TComputerInfo> FcieMain;

  bool FInstanceOwner = false;
  std::unique_ptr<config::TConfigClient> Fconfig;
  std::unique_ptr<TOpciones> FOpciones;
};

}  // namespace qvr::client
