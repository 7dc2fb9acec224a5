// The client-side proxy of the attendance server's remote class
// TQVRServerMethods: one method per remote method, each turning a typed call
// into a REST command on the connection and the command's result back into a
// typed value. Each command is created on the first call of its method and
// reused by every later one.
//
// Ownership follows the instance-owner flag (InstanceOwner, true unless the
// constructor is told otherwise):
// - JSON objects and dataset lists a call returns come in a TMaybeOwned. With
//   the flag true the handle borrows: the object stays with the method's
//   command and lives until the next call of the same method (or the proxy's
//   destruction); copy it to keep it longer. With the flag false the handle
//   owns it.
// - An object handed in (ActualizarEmpleado's ADatos, SubirAsistencia's
//   ALista) goes where its handle says: pass std::move(object) to give it to
//   the proxy, as the flag true expects, or Borrow(*object) to keep it, as the
//   flag false expects (it must then stay alive until the next call of the
//   same method). A list handed over is released once it is marshalled.
// - Cached variants return a reference-counted face of a cached item that
//   lives as long as a reference to it does.
// The proxy and its commands serve one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/MaybeOwned.h"
#include "rest/ProxyRest.h"
#include "rest/RestCachedItem.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONValues.h"

namespace qvr::rest {

// The handle and face helpers that every caller of the proxy uses.
using qvr::Borrow;
using qvr::Supports;
using qvr::TMaybeOwned;

// A cached dataset list: reached only through the reference that a
// ..._Cache method returns, it offers GetValue alone.
class IRestCachedDataSetList : public virtual IRestCachedObject<TDataSetList> {};

class TRestCachedDataSetList : public TRestCachedObject<TDataSetList>,
                               public virtual IRestCachedDataSetList {
 public:
  using TRestCachedObject<TDataSetList>::TRestCachedObject;
};

class TQVRServerMethodsClient : public TAdminRestClient {
 public:
  // AConnection must outlive the proxy.
  explicit TQVRServerMethodsClient(TCustomRestConnection& AConnection, bool AInstanceOwner = true)
      : TAdminRestClient(AConnection, AInstanceOwner) {}
  // Releases the commands of its methods, then what the base releases.
  ~TQVRServerMethodsClient() override;

  // Every method raises what the command raises (the exchange's errors, the
  // conversion errors) and leaves its command ready for the next call.
  std::string EchoString(const std::string& Value, const std::string& ARequestFilter = {});
  std::string ReverseString(const std::string& Value, const std::string& ARequestFilter = {});
  // The server's options in their marshalled-object form; empty when the
  // result is no JSON object.
  TMaybeOwned<TJSONObject> Opciones(const std::string& ARequestFilter = {});
  std::shared_ptr<IRestCachedJSONObject> Opciones_Cache(const std::string& ARequestFilter = {});
  // Dataset lists: empty when the answer stored no result; EConversionError
  // "The input value is not a valid Object" for a result that is no object
  // (a JSON null included).
  TMaybeOwned<TDataSetList> ListaRelojes(const std::string& ARequestFilter = {});
  std::shared_ptr<IRestCachedDataSetList> ListaRelojes_Cache(
      const std::string& ARequestFilter = {});
  TMaybeOwned<TDataSetList> ListaEmpresas(const std::string& ARequestFilter = {});
  std::shared_ptr<IRestCachedDataSetList> ListaEmpresas_Cache(
      const std::string& ARequestFilter = {});
  TMaybeOwned<TDataSetList> ListaPersonalParcial(const std::string& ARequestFilter = {});
  std::shared_ptr<IRestCachedDataSetList> ListaPersonalParcial_Cache(
      const std::string& ARequestFilter = {});
  TMaybeOwned<TDataSetList> ListaPersonalCompleta(const std::string& ARequestFilter = {});
  std::shared_ptr<IRestCachedDataSetList> ListaPersonalCompleta_Cache(
      const std::string& ARequestFilter = {});
  bool ExisteEmpleado(std::int32_t ACodigo, const std::string& ARequestFilter = {});
  // The employee's JSON object; empty when the result is no JSON object.
  TMaybeOwned<TJSONObject> InfoEmpleado(std::int32_t ACodigo,
                                        const std::string& ARequestFilter = {});
  std::shared_ptr<IRestCachedJSONObject> InfoEmpleado_Cache(std::int32_t ACodigo,
                                                            const std::string& ARequestFilter = {});
  bool ActualizarEmpleado(TMaybeOwned<TJSONObject> ADatos, const std::string& ARequestFilter = {});
  // An empty ALista sends a null list. A list without its dataset list
  // raises EConversionError before anything is sent.
  bool SubirAsistencia(const std::string& AArchivo, TMaybeOwned<TDataSetList> ALista,
                       const std::string& ARequestFilter = {});

 private:
  TMaybeOwned<TJSONObject> ObjectResult(TRestCommand& ACommand, std::int32_t AIndex);
  TMaybeOwned<TDataSetList> DataSetListResult(std::unique_ptr<TRestCommand>& AField,
                                              const TRemoteMethod& AMethod,
                                              const std::string& AFilter);
  template <class TItem>
  std::shared_ptr<TItem> CachedResult(TRestCommand& ACommand, const std::string& AFilter);

  std::unique_ptr<TRestCommand> FEchoStringCommand;
  std::unique_ptr<TRestCommand> FReverseStringCommand;
  std::unique_ptr<TRestCommand> FOpcionesCommand;
  std::unique_ptr<TRestCommand> FOpcionesCommand_Cache;
  std::unique_ptr<TRestCommand> FListaRelojesCommand;
  std::unique_ptr<TRestCommand> FListaRelojesCommand_Cache;
  std::unique_ptr<TRestCommand> FListaEmpresasCommand;
  std::unique_ptr<TRestCommand> FListaEmpresasCommand_Cache;
  std::unique_ptr<TRestCommand> FListaPersonalParcialCommand;
  std::unique_ptr<TRestCommand> FListaPersonalParcialCommand_Cache;
  std::unique_ptr<TRestCommand> FListaPersonalCompletaCommand;
  std::unique_ptr<TRestCommand> FListaPersonalCompletaCommand_Cache;
  std::unique_ptr<TRestCommand> FExisteEmpleadoCommand;
  std::unique_ptr<TRestCommand> FInfoEmpleadoCommand;
  std::unique_ptr<TRestCommand> FInfoEmpleadoCommand_Cache;
  std::unique_ptr<TRestCommand> FActualizarEmpleadoCommand;
  std::unique_ptr<TRestCommand> FSubirAsistenciaCommand;
};

}  // namespace qvr::rest
