// The client data module; see dBaseCliente.h.
#include "client/dBaseCliente.h"

#include <sys/stat.h>

#include "client/uVersionInfo.h"
#include "platform/ExePath.h"
#include "platform/SysUtils.h"

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

// Creates APath when no folder of that name exists (links followed): one level
// only, and a failure is not reported, since the caller returns the path
// either way. Private to the user, as the application-data folder is.
void CreateFolderIfMissing(const std::string& APath) {
  struct stat st {};
  if (stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  mkdir(APath.c_str(), 0700);
}

std::string FolderUnder(const std::string& AParent, const char* AName) {
  std::string path = Format("%s%s/", AParent, AName);
  CreateFolderIfMissing(path);
  return path;
}

}  // namespace

TdmBaseCliente::TdmBaseCliente() : TdmBaseCliente(std::string()) {}

TdmBaseCliente::TdmBaseCliente(const std::string& AFileConfig) {
  Frest = CreateRestComponent();
  FBIN = std::make_unique<data::TBinStorageLink>();
  FJSON = std::make_unique<data::TJSONStorageLink>();
  FcieMain = std::make_unique<TComputerInfo>();
  FInstanceOwner = true;
  // An empty path is config.ini beside the executable.
  Fconfig = std::make_unique<config::TConfigClient>(AFileConfig);
  FOpciones = std::make_unique<TOpciones>();
  Frest->SetHost(Fconfig->IP());
  Frest->SetPort(Fconfig->Puerto());
  // A different user name drops the session id, which is still empty here.
  Frest->SetUserName(Fconfig->UID());
}

TdmBaseCliente::~TdmBaseCliente() {
  Fconfig.reset();
  FQVRServerMethodsClient.reset();
  FOpciones.reset();
  // The components go last, as members, in the reverse of their creation.
}

rest::TQVRServerMethodsClient& TdmBaseCliente::Client() {
  if (!FQVRServerMethodsClient)
    FQVRServerMethodsClient =
        std::make_unique<rest::TQVRServerMethodsClient>(*Frest, FInstanceOwner);
  return *FQVRServerMethodsClient;
}

void TdmBaseCliente::CargarOpciones() {
  // An unmarshaller of its own, with its own rules; released on every path.
  const auto unmarshal = std::make_unique<rest::TJSONUnMarshal>();
  const TMaybeOwned<rest::TJSONObject> options = Client().Opciones();
  std::unique_ptr<TObject> object = unmarshal->Unmarshal(options.get());
  if (dynamic_cast<TOpciones*>(object.get()) == nullptr) throw EInvalidCast();
  SetOpciones(std::unique_ptr<TOpciones>(static_cast<TOpciones*>(object.release())));
}

std::string TdmBaseCliente::RutaDatos() const {
  return FolderUnder(FcieMain->SpecialFolder(TComputerInfo::sfAppData) + "/", "QVR");
}

std::string TdmBaseCliente::RutaImagenes() const { return FolderUnder(RutaDatos(), "imagenes"); }

std::string TdmBaseCliente::RutaRegistros() const { return FolderUnder(RutaDatos(), "registros"); }

std::string TdmBaseCliente::Version() const {
  TVorelFileVersion reader(ExecutablePath());
  reader.SetPrefijo("v");
  return reader.Version();
}

}  // namespace qvr::client
