// The cache area: results of calls made in cache mode (Accept
// "application/rest"), kept on the server under item paths of the form
// "<command>/<index>", where <command> numbers the cached command (unique for
// the server's run) and <index> is the position of the value in the call's
// "result" array; the command path is the part before the last "/". Items
// belong to the session that made the call and are reachable only from it;
// they go with it. Bounded: at most AMaxCommandsPerSession commands per
// session and AMaxBytes of values in all (counting each value's JSON text),
// the oldest going first.
//
// TCacheArea is what the routes use; TMemoryCacheArea keeps the items in the
// server's memory (one instance, the SQLite store), and PostgresCacheArea.h
// in the database that several instances share, where a command's number is
// unique across them.
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

// Abstract rather than an I... interface by name only: the routes hold it
// by this name.
class TCacheArea {
 public:
  virtual ~TCacheArea() = default;

  // Keeps the answer of the call AMethod (its in-parameters as the JSON
  // array text AParameters) for ASession and returns the item path of every
  // element of the answer's "result", in order. Raises EHttpError 507 when
  // the values alone exceed the area's size.
  virtual std::vector<std::string> Store(const std::string& ASession, const std::string& AMethod,
                                         std::string AParameters, TMethodAnswer AAnswer) = 0;

  // The value at AItemPath of ASession, as JSON text kept alive by the
  // returned holder; nothing when there is none.
  struct TValue {
    std::shared_ptr<const std::string> Holder;
    std::string_view Text;
  };
  virtual std::optional<TValue> Value(const std::string& ASession, std::string_view AItemPath) = 0;
  // The cached command at ACommandPath of ASession as a JSON object text:
  // {"command":"<method>","parameters":[...],"items":["<item path>",...]}.
  virtual std::optional<std::string> Command(const std::string& ASession,
                                             std::string_view ACommandPath) = 0;
  // Removes the command at ACommandPath with its values; false when ASession
  // has none there.
  virtual bool Delete(const std::string& ASession, std::string_view ACommandPath) = 0;
  // Removes everything of the sessions AIds.
  virtual void DropSessions(const std::vector<std::string>& AIds) = 0;

  virtual std::size_t Bytes() const = 0;
  virtual std::size_t CommandCount() const = 0;

  // The number of the command path AText ("12"): decimal digits, at most 19;
  // nothing for anything else.
  static std::optional<std::uint64_t> CommandNumber(std::string_view AText);
  // The JSON object text Command answers.
  static std::string CommandText(std::uint64_t ANumber, const std::string& AMethod,
                                 const std::string& AParameters, std::size_t AItems);

 protected:
  // The bytes a stored command counts (its method, parameters and values);
  // raises EHttpError 507 when they exceed AMaxBytes, the whole area.
  static std::size_t CountedBytes(const std::string& AMethod, const std::string& AParameters,
                                  const TMethodAnswer& AAnswer, std::size_t AMaxBytes);
};

class TMemoryCacheArea : public TCacheArea {
 public:
  TMemoryCacheArea(std::size_t AMaxCommandsPerSession, std::size_t AMaxBytes);

  std::vector<std::string> Store(const std::string& ASession, const std::string& AMethod,
                                 std::string AParameters, TMethodAnswer AAnswer) override;
  std::optional<TValue> Value(const std::string& ASession, std::string_view AItemPath) override;
  std::optional<std::string> Command(const std::string& ASession,
                                     std::string_view ACommandPath) override;
  bool Delete(const std::string& ASession, std::string_view ACommandPath) override;
  void DropSessions(const std::vector<std::string>& AIds) override;
  std::size_t Bytes() const override;
  std::size_t CommandCount() const override;

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
