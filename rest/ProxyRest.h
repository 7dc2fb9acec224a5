// The base classes of REST proxies. TRestClient holds the connection that a
// proxy's commands run on and the instance-owner flag, which decides who
// releases the objects the proxy's calls return: with it true (the default)
// they stay with the proxy's commands and the caller borrows them; with it
// false the caller owns them. TAdminRestClient adds the commands of the
// server's administrative methods (those the server answers: its platform
// name, its method catalogue, the end of the caller's session) and the
// marshaller and unmarshaller fields that a proxy fills for the duration of
// one call.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "platform/Classes.h"
#include "rest/RestCommand.h"
#include "rest/RestConnection.h"
#include "rest/json/JSONReflect.h"
#include "rest/wire/RemoteMethods.h"

namespace qvr::rest {

// The method catalogue in its JSON form (docs/server.md: an array of
// classes {"name","methods":[{"name","parameters":[{"name","direction",
// "type","typeName"}]}]}). Raises TRestException "The method catalogue is
// not valid: <where and what>" for any other form; members it does not know
// are ignored.
TRestProxyMetaData ReadMethodCatalogue(const TJSONValue& AValue);
// ACatalogue in that form, as the server answers it.
std::unique_ptr<TJSONArray> MethodCatalogueJSON(const TRestProxyMetaData& ACatalogue);

class TRestClient : public TObject {
 public:
  // AConnection must outlive the client; it is not owned.
  explicit TRestClient(TCustomRestConnection& AConnection, bool AInstanceOwner = true)
      : FInstanceOwner(AInstanceOwner), FConnection(&AConnection) {}
  TRestClient(const TRestClient&) = delete;
  TRestClient& operator=(const TRestClient&) = delete;

  bool InstanceOwner() const noexcept { return FInstanceOwner; }
  TCustomRestConnection& Connection() const noexcept { return *FConnection; }

 protected:
  bool FInstanceOwner;
  TCustomRestConnection* FConnection;
};

class TAdminRestClient : public TRestClient {
 public:
  explicit TAdminRestClient(TCustomRestConnection& AConnection, bool AInstanceOwner = true)
      : TRestClient(AConnection, AInstanceOwner) {}
  // Releases the administrative commands it created, and nothing else.
  ~TAdminRestClient() override;

  // The server's platform name: "Admin.GetPlatformName", GET, one text result.
  std::string GetPlatformName(const std::string& ARequestFilter = {});
  // The server's method catalogue: "Admin.GetServerMethodParameters", GET.
  // Raises what the command raises, TRestException "The server's answer
  // holds no method catalogue" when the answer stored no result (which the
  // command takes for no error), and ReadMethodCatalogue's TRestException
  // for a result of another form.
  TRestProxyMetaData GetServerMethodParameters(const std::string& ARequestFilter = {});
  // Ends the session the connection holds: "Admin.ClearSession", GET, no
  // result. The connection then holds no session id, so that its next call
  // opens a new session rather than send the ended one. Raises what the
  // command raises (a refusal empties the session id as well).
  void ClearSession(const std::string& ARequestFilter = {});

 protected:
  // Fills FMarshal or FUnMarshal for the lifetime of the scope and empties
  // it again, also when the call fails.
  template <class TConverter>
  class TConverterScope {
   public:
    TConverterScope(std::unique_ptr<TConverter>& AField, std::unique_ptr<TConverter> AConverter)
        : FField(AField) {
      FField = std::move(AConverter);
    }
    ~TConverterScope() { FField.reset(); }
    TConverterScope(const TConverterScope&) = delete;
    TConverterScope& operator=(const TConverterScope&) = delete;
    TConverter& operator*() const { return *FField; }

   private:
    std::unique_ptr<TConverter>& FField;
  };

  // The command in AField, created on first use with the verb, the text and
  // the parameter table, and kept for every later call.
  TRestCommand& CommandFor(std::unique_ptr<TRestCommand>& AField, const char* ARequestType,
                           const char* AText, std::span<const TRestParameterMetaData> ATable);
  // The same for a remote method as the interface describes it: its verb,
  // its command text and its parameter table, or AParameters in its place
  // (a cached variant's table).
  TRestCommand& CommandFor(std::unique_ptr<TRestCommand>& AField, const TRemoteMethod& AMethod);
  TRestCommand& CommandFor(std::unique_ptr<TRestCommand>& AField, const TRemoteMethod& AMethod,
                           std::span<const TWireParameter> AParameters);

  // A command field that nothing fills.
  std::unique_ptr<TRestCommand> FAdminConnection;
  std::unique_ptr<TJSONMarshal> FMarshal;
  std::unique_ptr<TJSONUnMarshal> FUnMarshal;
  std::unique_ptr<TRestCommand> FGetPlatformNameCommand;
  std::unique_ptr<TRestCommand> FGetServerMethodParametersCommand;
  std::unique_ptr<TRestCommand> FClearSessionCommand;
};

}  // namespace qvr::rest
