// A REST command: one remote server method made callable. It is bound to a
// connection, names the method by its Text ("TQVRServerMethods.EchoString";
// the method name may stand in double quotes), carries the HTTP verb in
// RequestType, and holds the parameter list that Prepare builds from the
// method's parameter table. Each Execute turns the in-parameters into URL
// path segments or a JSON body, performs one exchange through the connection,
// and stores the server's "result" array into the out and return parameters.
//
//   TRestCommand command(connection);
//   command.SetRequestType("GET");
//   command.SetText("TQVRServerMethods.EchoString");
//   command.Prepare(kEchoStringTable);
//   command.Parameters()->GetParameterByOrdinal(0).Value().SetWideString("hola");
//   command.Execute();
//   std::string echoed = command.Parameters()->GetParameterByOrdinal(1).Value().GetWideString();
//
// A command serves one thread at a time; all commands of one connection share
// its session id.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"
#include "rest/RestConnection.h"
#include "rest/RestParameters.h"
#include "rest/json/JSONReflect.h"

namespace qvr::rest {

// A catalogue of server classes with their methods and each method's
// parameter table, from which Prepare(AProxyMetaData) derives a table. The
// server answers one (TAdminRestClient::GetServerMethodParameters, in the
// JSON form of docs/server.md).
struct TRestProxyMethod {
  std::string Name;
  std::vector<TRestParameterMetaData> Parameters;
};
struct TRestProxyClass {
  std::string Name;
  std::vector<TRestProxyMethod> Methods;
};
struct TRestProxyMetaData {
  std::vector<TRestProxyClass> Classes;

  // The method AMethod of the first class named AClass that has a method of
  // that name (both compared without regard to letter case); null when
  // there is none.
  const TRestProxyMethod* FindMethod(std::string_view AClass, std::string_view AMethod) const;
};

// What one execution sends: the whole URL and the body text (empty, and
// HasBody false, when no in-parameter travels in the body).
struct TRestCommandRequest {
  std::string URL;
  std::string Body;
  bool HasBody = false;
};

class TRestCommand : public TObject {
 public:
  // Bound to AConnection, which must outlive the command; text, verb,
  // parameter list and release list empty.
  explicit TRestCommand(TCustomRestConnection& AConnection);
  // Releases the parameter list (with every value its slots own), then the
  // parameter context, then the objects on the release list. The connection
  // is left alone.
  ~TRestCommand() override;
  TRestCommand(const TRestCommand&) = delete;
  TRestCommand& operator=(const TRestCommand&) = delete;

  TCustomRestConnection& Connection() const noexcept { return *FConnection; }
  const std::string& Text() const noexcept { return FText; }
  void SetText(std::string AValue) { FText = std::move(AValue); }
  // "GET", "POST", "PUT" or "DELETE".
  const std::string& RequestType() const noexcept { return FRequestType; }
  void SetRequestType(std::string AValue) { FRequestType = std::move(AValue); }
  // Null before the first Prepare.
  TParameterList* Parameters() const noexcept { return FParameters.get(); }

  // Builds the parameter list from AMetaData, one parameter per row in row
  // order, releasing the list built before with its values. An empty
  // RequestType becomes "POST" when an in-parameter must travel in the body
  // and "GET" otherwise; a set one stays.
  void Prepare(std::span<const TRestParameterMetaData> AMetaData);
  // Derives the table from a catalogue: the first class named as Text's
  // class that has a method named as its method (letter case ignored);
  // without double quotes in Text the method name gets the verb's prefix
  // ("Accept" for PUT, "Update" for POST, "Cancel" for DELETE). No match
  // gives an empty table. Raises TRestException "Invalid server method name:
  // %s" when Text, without its quotes, holds no ".". Text is sent as it
  // stands: the prefix serves the look-up only.
  void Prepare(const TRestProxyMetaData& AProxyMetaData);
  // The same with the catalogue the server answers, loaded through a
  // TAdminRestClient on the command's connection. The load is a call of its
  // own: the connection's SessionID is set back afterwards to what it was
  // before, also when the load fails. Raises the name's TRestException
  // before anything is sent, then what GetServerMethodParameters raises.
  void Prepare();
  // The method of AProxyMetaData that Prepare(AProxyMetaData) takes its
  // table from, or null when none matches (the empty table); raises as it.
  const TRestProxyMethod* CatalogueMethod(const TRestProxyMetaData& AProxyMetaData) const;

  // Performs one exchange; the results land in the out and return
  // parameters. First releases the objects on the release list; then runs
  // the connection's execution frame (before step, login step whose refusal
  // raises EAbort before anything is sent, after step in every case).
  // Raises what the exchange raises (a TRestProtocolException also empties
  // the connection's session id), EArgumentOutOfRangeException "Argument out
  // of range" for a "result" array too short, and the conversion errors
  // (EConvertError, TValueError); results stored before a failure keep their
  // new values and the command stays prepared with its in-parameters kept.
  void Execute(const std::string& ARequestFilter = {});
  // The same exchange in cache mode: Accept "application/rest", and the
  // release list is left alone. The server answers the item path of the
  // result in the text return parameter.
  void ExecuteCache(const std::string& ARequestFilter = {});
  // Whether the last execution's answer held a "result" array that the out
  // and return parameters were filled from. False before the first
  // execution, after a failed one, and after an answer that stored nothing
  // (a body that is not JSON, no "result", a "result" that is no array):
  // no error for the command, whose parameters then keep what they held,
  // but a caller that must not show an empty result for it asks here.
  bool ResultStored() const noexcept { return FResultStored; }

  // The URL and body an execution would send now, built from the connection
  // settings and the in-parameters. Raises TValueError "Cannot convert value
  // type %s into a JSON value" for a body parameter without a JSON form.
  TRestCommandRequest BuildRequest(const std::string& ARequestFilter = {}) const;

  // A new marshaller / unmarshaller on the process-wide rules; the caller
  // owns it.
  static std::unique_ptr<TJSONMarshal> GetJSONMarshaler();
  static std::unique_ptr<TJSONUnMarshal> GetJSONUnMarshaler();

  // Registers AValue for release at the start of the next Execute (not
  // ExecuteCache) or at the command's destruction, and answers it. An object
  // already registered keeps its one entry (the second handle on it is
  // dropped without releasing it).
  TObject* FreeOnExecute(std::unique_ptr<TObject> AValue);
  // The objects registered for release, in registration order.
  std::size_t FreeOnExecuteCount() const noexcept { return FFreeOnExecuteList.size(); }

 private:
  // Shared by the parameters of one preparation; created by the first Prepare.
  struct TParamContext {};

  void ExecuteCommand(const std::string& ARequestFilter, const std::string& AAccept);
  void StoreResults(std::unique_ptr<TJSONValue> AAnswer, TRestRequestResponse& AResponse);

  std::unique_ptr<TParamContext> FParamContext;
  TCustomRestConnection* FConnection;
  std::string FText;
  std::unique_ptr<TParameterList> FParameters;
  std::string FRequestType;
  std::vector<std::unique_ptr<TObject>> FFreeOnExecuteList;
  bool FResultStored = false;
};

}  // namespace qvr::rest
