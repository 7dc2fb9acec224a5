// Cached results: a method executed in cache mode leaves its result on the
// server and answers the path under which the server keeps it (the item
// path). The client wraps that path in a cached item and hands it out through
// reference-counted interfaces. Whoever holds one can fetch the value, as
// often as wanted, fetch the whole cached command, or ask the server to
// delete it; every fetch is a new request to the connection passed in, since
// the item remembers no connection.
//
// Form. An item lives in a std::shared_ptr; each of its interfaces is a face
// of that one object, reached by conversion or by QueryInterface, and every
// face shares its one reference count (atomic, as std::shared_ptr's is). The
// item is destroyed, with everything it owns, on the thread that drops the
// last reference, and that sends nothing to the server. Client programs hold
// the faces as ordinary shared_ptrs: copying one takes a reference, letting
// it go drops one. Everything else (fetches, the owned list) serves one
// thread at a time.
//
// Ownership of what a fetch returns: with AOwnsObject true the item keeps the
// object in its owned list until the item goes, and the caller's handle only
// borrows it; with false the caller's handle owns it. A dataset-list fetch
// always keeps the JSON it read, and with AOwnsObject true the list too.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/Interface.h"
#include "platform/MaybeOwned.h"
#include "platform/SysUtils.h"
#include "rest/RestConnection.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONValues.h"

namespace qvr::rest {

// The cached command behind an item: fetch it, delete it.
class IRestCachedCommand : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{16B2E1F2-436B-45D8-A17D-5B1617F65BD6}");
  // The cached command as a JSON object, or none; see the ownership rule above.
  virtual TMaybeOwned<TJSONObject> GetCommand(TCustomRestConnection& AConnection,
                                              bool AOwnsObject) = 0;
  virtual void DeleteCommand(TCustomRestConnection& AConnection) = 0;
};

// The item path.
class IRestCachedItem : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{CCCDC036-04F0-4CF6-A74F-D2759F1E635A}");
  virtual const std::string& ItemPath() const = 0;
};

// A cached JSON object.
class IRestCachedJSONObject : public virtual IRestCachedItem {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3C45664B-BAAB-42AA-8FD9-9D3AB0198455}");
  // The cached value when it is a JSON object, or none.
  virtual TMaybeOwned<TJSONObject> GetValue(TCustomRestConnection& AConnection, bool AOwnsObject,
                                            const std::string& ARequestFilter = {}) = 0;
};

// A cached marshalled object of class T. This face has no identifier: it is
// reached only through the reference the proxy returns.
template <class T>
class IRestCachedObject : public virtual IInterface {
 public:
  // The cached value unmarshalled into a new T, or none.
  virtual TMaybeOwned<T> GetValue(TCustomRestConnection& AConnection, bool AOwnsObject,
                                  const std::string& ARequestFilter = {}) = 0;
};

// Faces are virtual bases, so that an item has one subobject of each however
// many of its faces derive from it (a query can then always find it).
class TRestCachedItem : public virtual IRestCachedCommand,
                        public virtual IRestCachedItem,
                        public std::enable_shared_from_this<TRestCachedItem> {
 public:
  // Hold items in a std::shared_ptr (std::make_shared): their faces are
  // handed out from it.
  explicit TRestCachedItem(std::string AItemPath) : FItemPath(std::move(AItemPath)) {}
  TRestCachedItem(const TRestCachedItem&) = delete;
  TRestCachedItem& operator=(const TRestCachedItem&) = delete;
  ~TRestCachedItem() override;

  const std::string& ItemPath() const override { return FItemPath; }
  // Raise TRestException "Missing command path" before any request when the
  // item path has no usable command path, and what the exchange raises.
  TMaybeOwned<TJSONObject> GetCommand(TCustomRestConnection& AConnection,
                                      bool AOwnsObject) override;
  void DeleteCommand(TCustomRestConnection& AConnection) override;
  // IRestCachedCommand and IRestCachedItem.
  std::shared_ptr<IInterface> QueryInterface(const TGUID& AIID) override;

  // How many objects the item keeps.
  std::size_t OwnedCount() const noexcept { return FOwnedObjects.size(); }

 protected:
  using TAccept = std::function<bool(const TJSONValue* AValue)>;
  // The cached value (the "result" of the answer to a GET of the item path),
  // or none. With AAccept, a value it refuses is released at once and none
  // is returned. Raises TRestException "Missing parameter path" before any
  // request when the item path is empty, and what the exchange raises.
  TMaybeOwned<TJSONValue> FetchParameterValue(TCustomRestConnection& AConnection, bool AOwnsObject,
                                              const std::string& ARequestFilter);
  TMaybeOwned<TJSONValue> FetchParameterValue(TCustomRestConnection& AConnection,
                                              const TAccept& AAccept, bool AOwnsObject,
                                              const std::string& ARequestFilter);
  // Keeps AObject in the owned list and answers a borrowing handle on it.
  template <class T>
  TMaybeOwned<T> Keep(std::unique_ptr<T> AObject) {
    T* raw = AObject.get();
    FOwnedObjects.push_back(std::move(AObject));
    return TMaybeOwned<T>::Borrow(raw);
  }

 private:
  const std::string FItemPath;
  std::vector<std::unique_ptr<TObject>> FOwnedObjects;
};

class TRestCachedJSONObject : public TRestCachedItem, public virtual IRestCachedJSONObject {
 public:
  using TRestCachedItem::TRestCachedItem;
  TMaybeOwned<TJSONObject> GetValue(TCustomRestConnection& AConnection, bool AOwnsObject,
                                    const std::string& ARequestFilter = {}) override;
  // IRestCachedCommand, IRestCachedItem and IRestCachedJSONObject.
  std::shared_ptr<IInterface> QueryInterface(const TGUID& AIID) override;
};

template <class T>
class TRestCachedObject : public TRestCachedItem, public virtual IRestCachedObject<T> {
 public:
  using TRestCachedItem::TRestCachedItem;
  // The item keeps the JSON it fetched, always; the new T too when
  // AOwnsObject is true. Raises the unmarshaller's errors (EConversionError
  // "The input value is not a valid Object" for a value that is not an
  // object) and EInvalidCast for an object of another class; the fetched
  // JSON stays with the item in every case.
  TMaybeOwned<T> GetValue(TCustomRestConnection& AConnection, bool AOwnsObject,
                          const std::string& ARequestFilter = {}) override {
    TMaybeOwned<TJSONValue> value = FetchParameterValue(AConnection, true, ARequestFilter);
    if (!value) return nullptr;
    std::unique_ptr<TObject> object = TJSONConverters::GetJSONUnMarshaler()->Unmarshal(*value);
    if (dynamic_cast<T*>(object.get()) == nullptr) throw EInvalidCast();
    std::unique_ptr<T> result(static_cast<T*>(object.release()));
    if (AOwnsObject) return Keep(std::move(result));
    return TMaybeOwned<T>(std::move(result));
  }
};

}  // namespace qvr::rest
