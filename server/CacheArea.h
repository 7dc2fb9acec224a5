// The cache area: results of calls made in cache mode (Accept
// "application/rest"), kept on the server under item paths of the form
// "<command>/<index>", where <command> numbers the cached command (unique for
// the server's run) and <index> is the position of the value in the call's
// "result" array; the command path is the part before the last "/". Items
// belong to the session that made the call and are reachable only from it;
// they go with it. Bounded: at most AMaxCommandsPerSession commands per
// session and AMaxBytes of values in all (counting each value's JSON text),
// the oldest going first.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/MethodAnswer.h"

namespace qvr::server {

class TCacheArea {
 public:
  TCacheArea(std::size_t AMaxCommandsPerSession, std::size_t AMaxBytes);

  // Keeps the answer of the call AMethod (its in-parameters as the JSON
  // array text AParameters) for ASession and returns the item path of every
  // element of the answer's "result", in order. Raises EHttpError 507 when
  // the values alone exceed the area's size.
  std::vector<std::string> Store(const std::string& ASession, const std::string& AMethod,
                                 std::string AParameters, TMethodAnswer AAnswer);

  // The value at AItemPath of ASession, as JSON text kept alive by the
  // returned holder; nothing when there is none.
  struct TValue {
    std::shared_ptr<const std::string> Holder;
    std::string_view Text;
  };
  std::optional<TValue> Value(const std::string& ASession, std::string_view AItemPath);
  // The cached command at ACommandPath of ASession as a JSON object text:
  // {"command":"<method>","parameters":[...],"items":["<item path>",...]}.
  std::optional<std::string> Command(const std::string& ASession, std::string_view ACommandPath);
  // Removes the command at ACommandPath with its values; false when ASession
  // has none there.
  bool Delete(const std::string& ASession, std::string_view ACommandPath);
  // Removes everything of the sessions AIds.
  void DropSessions(const std::vector<std::string>& AIds);

  std::size_t Bytes() const;
  std::size_t CommandCount() const;

 private:
  struct TCommand {
    std::uint64_t Number;
    std::string Session;
    std::string Method;
    std::string Parameters;
    TMethodAnswer Answer;
    std::size_t Size;
  };
  using TList = std::list<TCommand>;

  std::optional<std::uint64_t> CommandNumber(std::string_view AText) const;
  TCommand* FindLocked(const std::string& ASession, std::uint64_t ANumber);
  void EraseLocked(TList::iterator AIt);

  const std::size_t FMaxPerSession;
  const std::size_t FMaxBytes;
  mutable std::mutex FLock;
  std::uint64_t FNextNumber = 1;
  std::size_t FBytes = 0;
  // Oldest first.
  TList FCommands;
  std::map<std::uint64_t, TList::iterator> FByNumber;
  std::map<std::string, std::list<TList::iterator>, std::less<>> FBySession;
};

}  // namespace qvr::server
