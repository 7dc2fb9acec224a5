// The remote methods the server offers: every method of the remote interface
// (rest/wire/RemoteMethods.h: the class TQVRServerMethods with echo,
// options, the four dataset lists, employee look-up and change, attendance
// upload, and the administrative methods of Admin: the platform name, the
// method catalogue and the end of the caller's session), each with the
// handler that answers it. Each call arrives as its in-parameters: URL path
// segments first (text, decoded), then, for the rest, the request body (the
// one remaining parameter's JSON alone, or {"_parameters":[...]} for two or
// more), exactly as the client places them; the parameter tables of the
// interface say how each is read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "rest/wire/RemoteMethods.h"
#include "server/AttendanceStore.h"
#include "server/DataSetLists.h"
#include "server/MemoryBudget.h"
#include "server/MethodAnswer.h"

namespace qvr::server {

// The in-parameters of one call as they arrived.
struct TCallArguments {
  std::vector<std::string> Segments;
  std::string_view Body;
};

// Who makes a call, in which session, and what the call asks of that
// session. The methods hold no sessions: a method that ends its caller's
// session says so here, and whoever holds the sessions ends it once the
// answer is made.
struct TCaller {
  std::string UserName;
  std::string Session;
  bool EndSession = false;
};

// The method catalogue as Admin.GetServerMethodParameters answers it (the
// JSON text of element 0 of "result"): every method of the interface, in
// its order, grouped by class (docs/server.md).
const std::string& MethodCatalogueJSON();

class TQVRServerMethods {
 public:
  // AMaxInflatedUpload bounds what the blobs of one upload may inflate to;
  // what an upload may inflate to is reserved from AMemory first.
  TQVRServerMethods(TAttendanceStore& AStore, TListAnswerCache& ALists,
                    std::size_t AMaxInflatedUpload, TMemoryBudget& AMemory);

  // The method AMethod of the class AClass (rest::FindRemoteMethod's rule:
  // without regard to case, AMethod may stand in double quotes) when the
  // server answers it; null otherwise.
  const rest::TRemoteMethod* Find(std::string_view AClass, std::string_view AMethod) const;
  // Whether the server has a handler for AMethod (every method of the
  // interface has one; a test holds the two together).
  static bool Answers(const rest::TRemoteMethod& AMethod);
  // Whether AMethod is answered from memory at once, touching neither the
  // database nor anything large, so that the front may run it on its own
  // thread instead of handing it to a worker.
  static bool Quick(const rest::TRemoteMethod& AMethod);

  // Runs AMethod for ACaller (Admin.ClearSession sets its EndSession).
  // Raises EHttpError 400 when the arguments do not match its parameters
  // (count, kind, body form, JSON), 413 for an upload that inflates beyond
  // the limit; ESqliteError for storage failures. AParametersJSON, when
  // given, receives the in-parameters as a JSON array text (the cache area
  // keeps it with a cached command).
  TMethodAnswer Invoke(const rest::TRemoteMethod& AMethod, const TCallArguments& AArguments,
                       TCaller& ACaller, std::string* AParametersJSON = nullptr);

 private:
  // What an upload of ABodyBytes may inflate to (the least of the limit and
  // what such a body can hold), reserved from the memory budget; waits up
  // to two seconds for it, then raises EHttpError 503.
  TMemoryBudget::TReservation ReserveInflation(std::size_t ABodyBytes);

  TAttendanceStore& FStore;
  TListAnswerCache& FLists;
  std::size_t FMaxInflatedUpload;
  TMemoryBudget& FMemory;
};

}  // namespace qvr::server
