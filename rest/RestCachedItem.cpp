// Cached items and their faces; see RestCachedItem.h.
#include "rest/RestCachedItem.h"

#include "rest/RestCacheCommand.h"

namespace qvr::rest {

TRestCachedItem::~TRestCachedItem() = default;

std::shared_ptr<IInterface> TRestCachedItem::QueryInterface(const TGUID& AIID) {
  const std::shared_ptr<TRestCachedItem> self = weak_from_this().lock();
  if (!self) return nullptr;
  if (AIID == IRestCachedCommand::IID) return std::static_pointer_cast<IRestCachedCommand>(self);
  if (AIID == IRestCachedItem::IID) return std::static_pointer_cast<IRestCachedItem>(self);
  return nullptr;
}

TMaybeOwned<TJSONObject> TRestCachedItem::GetCommand(TCustomRestConnection& AConnection,
                                                     bool AOwnsObject) {
  TRestCacheCommand command(AConnection);
  command.SetParameterPath(FItemPath);
  std::unique_ptr<TJSONObject> result = command.GetCommand(AOwnsObject);
  if (AOwnsObject && result) return Keep(std::move(result));
  return TMaybeOwned<TJSONObject>(std::move(result));
}

void TRestCachedItem::DeleteCommand(TCustomRestConnection& AConnection) {
  TRestCacheCommand command(AConnection);
  command.SetParameterPath(FItemPath);
  command.DeleteCommand();
}

TMaybeOwned<TJSONValue> TRestCachedItem::FetchParameterValue(TCustomRestConnection& AConnection,
                                                             bool AOwnsObject,
                                                             const std::string& ARequestFilter) {
  return FetchParameterValue(AConnection, TAccept(), AOwnsObject, ARequestFilter);
}

TMaybeOwned<TJSONValue> TRestCachedItem::FetchParameterValue(TCustomRestConnection& AConnection,
                                                             const TAccept& AAccept,
                                                             bool AOwnsObject,
                                                             const std::string& ARequestFilter) {
  TRestCacheCommand command(AConnection);
  command.SetParameterPath(FItemPath);
  std::unique_ptr<TJSONValue> value = command.GetParameter(ARequestFilter);
  // A refused value goes here, at once.
  if (AAccept && !AAccept(value.get())) return nullptr;
  if (AOwnsObject && value) return Keep(std::move(value));
  return TMaybeOwned<TJSONValue>(std::move(value));
}

TMaybeOwned<TJSONObject> TRestCachedJSONObject::GetValue(TCustomRestConnection& AConnection,
                                                         bool AOwnsObject,
                                                         const std::string& ARequestFilter) {
  TMaybeOwned<TJSONValue> value = FetchParameterValue(
      AConnection, [](const TJSONValue* AValue) { return AValue && AValue->AsObject(); },
      AOwnsObject, ARequestFilter);
  return std::move(value).StaticCast<TJSONObject>();
}

std::shared_ptr<IInterface> TRestCachedJSONObject::QueryInterface(const TGUID& AIID) {
  if (AIID == IRestCachedJSONObject::IID) {
    const std::shared_ptr<TRestCachedItem> self = weak_from_this().lock();
    if (!self) return nullptr;
    return std::static_pointer_cast<IRestCachedJSONObject>(
        std::static_pointer_cast<TRestCachedJSONObject>(self));
  }
  return TRestCachedItem::QueryInterface(AIID);
}

}  // namespace qvr::rest
