// The client data module: the non-visual heart that every client program of
// the suite creates once at start-up. It owns the configuration, the REST
// connection to the attendance server, the server's options record and,
// created on first use, the proxy for the server's remote methods.
#pragma once

#include <memory>
#include <string>

#include "client/uGral.h"
#include "config/uConfigClient.h"
#include "data/StorageFormats.h"
#include "platform/Classes.h"
#include "platform/ComputerInfo.h"
#include "rest/RestConnection.h"
#include "rest/uClientClasses.h"

namespace qvr::client {

class TdmBaseCliente : public TObject {
 public:
  // Builds the components (rest with Host "127.0.0.1", Port 40080, LoginPrompt
  // false and a design-time user name), then: InstanceOwner true, the
  // configuration, a fresh options record, and the connection's host, port and
  // user name from the configuration, in that order. Nothing is sent.
  TdmBaseCliente();
  // The same with its configuration on AFileConfig (a full path) instead of
  // config.ini beside the executable: for programs told which file to use.
  explicit TdmBaseCliente(const std::string& AFileConfig);
  // Releases the configuration, then the proxy (if one was created), then the
  // options record, then the components.
  ~TdmBaseCliente() override;
  TdmBaseCliente(const TdmBaseCliente&) = delete;
  TdmBaseCliente& operator=(const TdmBaseCliente&) = delete;

  bool InstanceOwner() const { return FInstanceOwner; }
  config::TConfigClient& config() { return *Fconfig; }
  TOpciones& Opciones() { return *FOpciones; }
  rest::TRestConnection& rest() { return *Frest; }
  // The proxy for the server's remote methods, created on the first call on
  // the connection rest with InstanceOwner, and owned by the module.
  rest::TQVRServerMethodsClient& Client();
  // True once Client has created the proxy.
  bool HasClient() const { return FQVRServerMethodsClient != nullptr; }
  // Loads the server's options into Opciones through Client's Opciones call.
  // Raises EConversionError "The input value is not a valid Object" when the
  // answer holds no object, EInvalidCast "Invalid class typecast" when it is
  // the object of another class, and what the call raises; Opciones is
  // replaced only on success.
  void CargarOpciones();
  // The registrations that make both dataset storage formats available.
  data::TBinStorageLink& BIN() { return *FBIN; }
  data::TJSONStorageLink& JSON() { return *FJSON; }

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
  std::unique_ptr<data::TBinStorageLink> FBIN;
  std::unique_ptr<data::TJSONStorageLink> FJSON;
  std::unique_ptr<TComputerInfo> FcieMain;

  bool FInstanceOwner = false;
  std::unique_ptr<rest::TQVRServerMethodsClient> FQVRServerMethodsClient;
  std::unique_ptr<config::TConfigClient> Fconfig;
  std::unique_ptr<TOpciones> FOpciones;
};

}  // namespace qvr::client
