// The server methods client; see uClientClasses.h. Every method's verb,
// command text and parameter table come from the description of the remote
// interface (rest/wire/RemoteMethods.h), which the server dispatches by too.
#include "rest/uClientClasses.h"

#include "platform/SysUtils.h"

namespace qvr::rest {

namespace {

TParameterValue& Slot(TRestCommand& ACommand, std::int32_t AIndex) {
  return ACommand.Parameters()->GetParameterByOrdinal(AIndex).Value();
}

}  // namespace

TQVRServerMethodsClient::~TQVRServerMethodsClient() {
  FEchoStringCommand.reset();
  FReverseStringCommand.reset();
  FOpcionesCommand.reset();
  FOpcionesCommand_Cache.reset();
  FListaRelojesCommand.reset();
  FListaRelojesCommand_Cache.reset();
  FListaEmpresasCommand.reset();
  FListaEmpresasCommand_Cache.reset();
  FListaPersonalParcialCommand.reset();
  FListaPersonalParcialCommand_Cache.reset();
  FListaPersonalCompletaCommand.reset();
  FListaPersonalCompletaCommand_Cache.reset();
  FExisteEmpleadoCommand.reset();
  FInfoEmpleadoCommand.reset();
  FInfoEmpleadoCommand_Cache.reset();
  FActualizarEmpleadoCommand.reset();
  FSubirAsistenciaCommand.reset();
}

TMaybeOwned<TJSONObject> TQVRServerMethodsClient::ObjectResult(TRestCommand& ACommand,
                                                               std::int32_t AIndex) {
  TParameterValue& slot = Slot(ACommand, AIndex);
  // Only an object is handed out; anything else stays with the slot.
  if (slot.JSONValue() == nullptr || slot.JSONValue()->AsObject() == nullptr) return nullptr;
  return slot.GetJSONValue(FInstanceOwner).StaticCast<TJSONObject>();
}

TMaybeOwned<TDataSetList> TQVRServerMethodsClient::DataSetListResult(
    std::unique_ptr<TRestCommand>& AField, const TRemoteMethod& AMethod,
    const std::string& AFilter) {
  TRestCommand& command = CommandFor(AField, AMethod);
  command.Execute(AFilter);
  TParameterValue& slot = Slot(command, 0);
  if (slot.IsNull()) return nullptr;
  const TConverterScope<TJSONUnMarshal> unmarshal(FUnMarshal, command.GetJSONUnMarshaler());
  // The answer's copy is read once, here: it is taken out of the slot so that
  // its blobs move into the list instead of being copied.
  TMaybeOwned<TJSONValue> value = slot.GetJSONValue(false);
  std::unique_ptr<TJSONValue> document = value.TakeOwnership();
  std::unique_ptr<TObject> object;
  if (document) {
    slot.SetNull();
    object = (*unmarshal).UnmarshalTaking(std::move(document));
  } else {
    object = (*unmarshal).Unmarshal(*value);
  }
  if (dynamic_cast<TDataSetList*>(object.get()) == nullptr) throw EInvalidCast();
  std::unique_ptr<TDataSetList> list(static_cast<TDataSetList*>(object.release()));
  if (FInstanceOwner) {
    TDataSetList* kept = list.get();
    // Released at the start of the command's next execution.
    command.FreeOnExecute(std::move(list));
    return TMaybeOwned<TDataSetList>::Borrow(kept);
  }
  return TMaybeOwned<TDataSetList>(std::move(list));
}

template <class TItem>
std::shared_ptr<TItem> TQVRServerMethodsClient::CachedResult(TRestCommand& ACommand,
                                                             const std::string& AFilter) {
  ACommand.ExecuteCache(AFilter);
  const TParameterList& parameters = *ACommand.Parameters();
  return std::make_shared<TItem>(
      parameters.GetParameterByOrdinal(parameters.Count() - 1).Value().GetWideString());
}

std::string TQVRServerMethodsClient::EchoString(const std::string& Value,
                                                const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FEchoStringCommand, remote::EchoString);
  Slot(command, 0).SetWideString(Value);
  command.Execute(ARequestFilter);
  return Slot(command, 1).GetWideString();
}

std::string TQVRServerMethodsClient::ReverseString(const std::string& Value,
                                                   const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FReverseStringCommand, remote::ReverseString);
  Slot(command, 0).SetWideString(Value);
  command.Execute(ARequestFilter);
  return Slot(command, 1).GetWideString();
}

TMaybeOwned<TJSONObject> TQVRServerMethodsClient::Opciones(const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FOpcionesCommand, remote::Opciones);
  command.Execute(ARequestFilter);
  return ObjectResult(command, 0);
}

std::shared_ptr<IRestCachedJSONObject> TQVRServerMethodsClient::Opciones_Cache(
    const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FOpcionesCommand_Cache, remote::Opciones,
                                     CachedResultParameters(remote::Opciones));
  return CachedResult<TRestCachedJSONObject>(command, ARequestFilter);
}

TMaybeOwned<TDataSetList> TQVRServerMethodsClient::ListaRelojes(const std::string& ARequestFilter) {
  return DataSetListResult(FListaRelojesCommand, remote::ListaRelojes, ARequestFilter);
}

std::shared_ptr<IRestCachedDataSetList> TQVRServerMethodsClient::ListaRelojes_Cache(
    const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FListaRelojesCommand_Cache, remote::ListaRelojes,
                                     CachedResultParameters(remote::ListaRelojes));
  return CachedResult<TRestCachedDataSetList>(command, ARequestFilter);
}

TMaybeOwned<TDataSetList> TQVRServerMethodsClient::ListaEmpresas(
    const std::string& ARequestFilter) {
  return DataSetListResult(FListaEmpresasCommand, remote::ListaEmpresas, ARequestFilter);
}

std::shared_ptr<IRestCachedDataSetList> TQVRServerMethodsClient::ListaEmpresas_Cache(
    const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FListaEmpresasCommand_Cache, remote::ListaEmpresas,
                                     CachedResultParameters(remote::ListaEmpresas));
  return CachedResult<TRestCachedDataSetList>(command, ARequestFilter);
}

TMaybeOwned<TDataSetList> TQVRServerMethodsClient::ListaPersonalParcial(
    const std::string& ARequestFilter) {
  return DataSetListResult(FListaPersonalParcialCommand, remote::ListaPersonalParcial,
                           ARequestFilter);
}

std::shared_ptr<IRestCachedDataSetList> TQVRServerMethodsClient::ListaPersonalParcial_Cache(
    const std::string& ARequestFilter) {
  TRestCommand& command =
      CommandFor(FListaPersonalParcialCommand_Cache, remote::ListaPersonalParcial,
                 CachedResultParameters(remote::ListaPersonalParcial));
  return CachedResult<TRestCachedDataSetList>(command, ARequestFilter);
}

TMaybeOwned<TDataSetList> TQVRServerMethodsClient::ListaPersonalCompleta(
    const std::string& ARequestFilter) {
  return DataSetListResult(FListaPersonalCompletaCommand, remote::ListaPersonalCompleta,
                           ARequestFilter);
}

std::shared_ptr<IRestCachedDataSetList> TQVRServerMethodsClient::ListaPersonalCompleta_Cache(
    const std::string& ARequestFilter) {
  TRestCommand& command =
      CommandFor(FListaPersonalCompletaCommand_Cache, remote::ListaPersonalCompleta,
                 CachedResultParameters(remote::ListaPersonalCompleta));
  return CachedResult<TRestCachedDataSetList>(command, ARequestFilter);
}

bool TQVRServerMethodsClient::ExisteEmpleado(std::int32_t ACodigo,
                                             const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FExisteEmpleadoCommand, remote::ExisteEmpleado);
  Slot(command, 0).SetInt32(ACodigo);
  command.Execute(ARequestFilter);
  return Slot(command, 1).GetBoolean();
}

TMaybeOwned<TJSONObject> TQVRServerMethodsClient::InfoEmpleado(std::int32_t ACodigo,
                                                               const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FInfoEmpleadoCommand, remote::InfoEmpleado);
  Slot(command, 0).SetInt32(ACodigo);
  command.Execute(ARequestFilter);
  return ObjectResult(command, 1);
}

std::shared_ptr<IRestCachedJSONObject> TQVRServerMethodsClient::InfoEmpleado_Cache(
    std::int32_t ACodigo, const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FInfoEmpleadoCommand_Cache, remote::InfoEmpleado,
                                     CachedResultParameters(remote::InfoEmpleado));
  Slot(command, 0).SetInt32(ACodigo);
  return CachedResult<TRestCachedJSONObject>(command, ARequestFilter);
}

bool TQVRServerMethodsClient::ActualizarEmpleado(TMaybeOwned<TJSONObject> ADatos,
                                                 const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FActualizarEmpleadoCommand, remote::ActualizarEmpleado);
  Slot(command, 0).SetJSONValue(std::move(ADatos));
  command.Execute(ARequestFilter);
  return Slot(command, 1).GetBoolean();
}

bool TQVRServerMethodsClient::SubirAsistencia(const std::string& AArchivo,
                                              TMaybeOwned<TDataSetList> ALista,
                                              const std::string& ARequestFilter) {
  TRestCommand& command = CommandFor(FSubirAsistenciaCommand, remote::SubirAsistencia);
  Slot(command, 0).SetWideString(AArchivo);
  if (ALista) {
    {
      const TConverterScope<TJSONMarshal> marshal(FMarshal, command.GetJSONMarshaler());
      Slot(command, 1).SetJSONValue((*marshal).Marshal(ALista.get()));
    }
    // A list handed over is done with; a borrowed one stays with its owner.
    ALista.Reset();
  } else {
    Slot(command, 1).SetNull();
  }
  command.Execute(ARequestFilter);
  return Slot(command, 2).GetBoolean();
}

}  // namespace qvr::rest
