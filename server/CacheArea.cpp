// The cache area; see CacheArea.h.
#include "server/CacheArea.h"

#include "rest/json/JSONText.h"
#include "server/ServerErrors.h"

namespace qvr::server {

std::size_t TCacheArea::CountedBytes(const std::string& AMethod, const std::string& AParameters,
                                     const TMethodAnswer& AAnswer, std::size_t AMaxBytes) {
  std::size_t size = AParameters.size() + AMethod.size();
  for (auto element : AAnswer.Elements) size += element.size();
  if (size > AMaxBytes) {
    throw EHttpError(
        507, "The result is larger than the cache area (" + std::to_string(AMaxBytes) + " bytes)");
  }
  return size;
}

TMemoryCacheArea::TMemoryCacheArea(std::size_t AMaxCommandsPerSession, std::size_t AMaxBytes)
    : FMaxPerSession(AMaxCommandsPerSession == 0 ? 1 : AMaxCommandsPerSession),
      FMaxBytes(AMaxBytes) {}

std::vector<std::string> TMemoryCacheArea::Store(const std::string& ASession,
                                                 const std::string& AMethod,
                                                 std::string AParameters, TMethodAnswer AAnswer) {
  const std::size_t size = CountedBytes(AMethod, AParameters, AAnswer, FMaxBytes);
  std::scoped_lock lock(FLock);
  const std::uint64_t number = FNextNumber++;
  for (;;) {
    const auto mine = FBySession.find(ASession);
    if (mine == FBySession.end() || mine->second.size() < FMaxPerSession) break;
    EraseLocked(mine->second.front());
  }
  while (FBytes + size > FMaxBytes && !FCommands.empty()) EraseLocked(FCommands.begin());

  const std::size_t count = AAnswer.Elements.size();
  FCommands.push_back(
      TCommand{number, ASession, AMethod, std::move(AParameters), std::move(AAnswer), size});
  const auto it = std::prev(FCommands.end());
  FByNumber.emplace(number, it);
  FBySession[ASession].push_back(it);
  FBytes += size;

  std::vector<std::string> paths;
  for (std::size_t i = 0; i < count; ++i) {
    paths.push_back(std::to_string(number) + "/" + std::to_string(i));
  }
  return paths;
}

std::optional<std::uint64_t> TCacheArea::CommandNumber(std::string_view AText) {
  if (AText.empty() || AText.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : AText) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::string TCacheArea::CommandText(std::uint64_t ANumber, const std::string& AMethod,
                                    const std::string& AParameters, std::size_t AItems) {
  rest::TJSONArray items;
  for (std::size_t i = 0; i < AItems; ++i) {
    items.Add(
        std::make_unique<rest::TJSONString>(std::to_string(ANumber) + "/" + std::to_string(i)));
  }
  // The parameters are kept as JSON text already.
  return "{\"command\":" + rest::WriteJSON(rest::TJSONString(AMethod)) +
         ",\"parameters\":" + AParameters + ",\"items\":" + rest::WriteJSON(items) + "}";
}

TMemoryCacheArea::TCommand* TMemoryCacheArea::FindLocked(const std::string& ASession,
                                                         std::uint64_t ANumber) {
  const auto found = FByNumber.find(ANumber);
  if (found == FByNumber.end() || found->second->Session != ASession) return nullptr;
  return &*found->second;
}

void TMemoryCacheArea::EraseLocked(TList::iterator AIt) {
  const auto session = FBySession.find(AIt->Session);
  if (session != FBySession.end()) {
    session->second.remove(AIt);
    if (session->second.empty()) FBySession.erase(session);
  }
  FByNumber.erase(AIt->Number);
  FBytes -= AIt->Size;
  FCommands.erase(AIt);
}

std::optional<TCacheArea::TValue> TMemoryCacheArea::Value(const std::string& ASession,
                                                          std::string_view AItemPath) {
  const auto slash = AItemPath.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const auto number = CommandNumber(AItemPath.substr(0, slash));
  const auto index = CommandNumber(AItemPath.substr(slash + 1));
  if (!number || !index) return std::nullopt;
  std::scoped_lock lock(FLock);
  const TCommand* command = FindLocked(ASession, *number);
  if (command == nullptr || *index >= command->Answer.Elements.size()) return std::nullopt;
  return TValue{command->Answer.Body, command->Answer.Elements[*index]};
}

std::optional<std::string> TMemoryCacheArea::Command(const std::string& ASession,
                                                     std::string_view ACommandPath) {
  const auto number = CommandNumber(ACommandPath);
  if (!number) return std::nullopt;
  std::scoped_lock lock(FLock);
  const TCommand* command = FindLocked(ASession, *number);
  if (command == nullptr) return std::nullopt;
  return CommandText(*number, command->Method, command->Parameters,
                     command->Answer.Elements.size());
}

bool TMemoryCacheArea::Delete(const std::string& ASession, std::string_view ACommandPath) {
  const auto number = CommandNumber(ACommandPath);
  if (!number) return false;
  std::scoped_lock lock(FLock);
  if (FindLocked(ASession, *number) == nullptr) return false;
  EraseLocked(FByNumber.at(*number));
  return true;
}

void TMemoryCacheArea::DropSessions(const std::vector<std::string>& AIds) {
  std::scoped_lock lock(FLock);
  for (const auto& id : AIds) {
    const auto session = FBySession.find(id);
    if (session == FBySession.end()) continue;
    const auto commands = session->second;  // EraseLocked edits the original
    for (auto it : commands) EraseLocked(it);
  }
}

std::size_t TMemoryCacheArea::Bytes() const {
  std::scoped_lock lock(FLock);
  return FBytes;
}

std::size_t TMemoryCacheArea::CommandCount() const {
  std::scoped_lock lock(FLock);
  return FCommands.size();
}

}  // namespace qvr::server
