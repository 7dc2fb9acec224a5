// A handle on an object that either owns it or only borrows it, decided when
// the handle is made. The core's remote calls decide at run time who releases
// what they return (the instance-owner flag): with the flag true a result
// stays with the command that produced it and the caller only borrows it; with
// the flag false the caller owns it. TMaybeOwned carries that decision in the
// type the caller holds, so a result can be neither leaked nor released twice:
// an owning handle releases its object with itself, a borrowing one never
// does.
//
//   TMaybeOwned<TJSONObject> info = client.InfoEmpleado(7);
//   if (info) Use(*info);        // released here if the caller owns it
//   std::unique_ptr<TJSONObject> mine = info.TakeOwnership();  // null when borrowed
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

namespace qvr {

template <class T>
class TMaybeOwned {
 public:
  // Empty: neither holds nor owns anything.
  TMaybeOwned() noexcept = default;
  TMaybeOwned(std::nullptr_t) noexcept {}  // NOLINT(google-explicit-constructor)
  // Owns AValue (empty when AValue is null).
  template <class U>
  requires std::is_convertible_v<U*, T*> TMaybeOwned(std::unique_ptr<U> AValue)
  noexcept  // NOLINT
      : FValue(AValue.release()), FOwned(FValue != nullptr) {}
  // Borrows AValue, which its owner keeps and must keep alive while the
  // handle is used.
  static TMaybeOwned Borrow(T& AValue) noexcept { return TMaybeOwned(&AValue, false); }
  // Borrows AValue; empty when it is null.
  static TMaybeOwned Borrow(T* AValue) noexcept { return TMaybeOwned(AValue, false); }

  template <class U>
  requires std::is_convertible_v<U*, T*> TMaybeOwned(TMaybeOwned<U>&& AOther)
  noexcept  // NOLINT
      : FValue(AOther.FValue), FOwned(AOther.FOwned) {
    AOther.FValue = nullptr;
    AOther.FOwned = false;
  }
  TMaybeOwned(TMaybeOwned&& AOther) noexcept : FValue(AOther.FValue), FOwned(AOther.FOwned) {
    AOther.FValue = nullptr;
    AOther.FOwned = false;
  }
  TMaybeOwned& operator=(TMaybeOwned&& AOther) noexcept {
    if (this != &AOther) {
      Reset();
      FValue = std::exchange(AOther.FValue, nullptr);
      FOwned = std::exchange(AOther.FOwned, false);
    }
    return *this;
  }
  TMaybeOwned(const TMaybeOwned&) = delete;
  TMaybeOwned& operator=(const TMaybeOwned&) = delete;
  ~TMaybeOwned() { Reset(); }

  T* get() const noexcept { return FValue; }
  T& operator*() const noexcept { return *FValue; }
  T* operator->() const noexcept { return FValue; }
  explicit operator bool() const noexcept { return FValue != nullptr; }
  // True when the handle releases its object with itself.
  bool IsOwned() const noexcept { return FOwned; }

  // Hands the object over when the handle owns it; the handle then only
  // borrows it (get() still answers it). Null when the handle does not own
  // its object, which stays with its owner.
  std::unique_ptr<T> TakeOwnership() noexcept {
    if (!FOwned) return nullptr;
    FOwned = false;
    return std::unique_ptr<T>(FValue);
  }
  // Releases the object if owned and empties the handle.
  void Reset() noexcept {
    if (FOwned) delete FValue;
    FValue = nullptr;
    FOwned = false;
  }

  // The same handle viewed as a U, which the object must be (the caller has
  // checked its kind): ownership moves with it.
  template <class U>
  TMaybeOwned<U> StaticCast() && noexcept {
    TMaybeOwned<U> result;
    result.FValue = static_cast<U*>(std::exchange(FValue, nullptr));
    result.FOwned = std::exchange(FOwned, false);
    return result;
  }

 private:
  template <class>
  friend class TMaybeOwned;
  TMaybeOwned(T* AValue, bool AOwned) noexcept : FValue(AValue), FOwned(AOwned && AValue) {}

  T* FValue = nullptr;
  bool FOwned = false;
};

// A borrowing handle on AValue.
template <class T>
TMaybeOwned<T> Borrow(T& AValue) noexcept {
  return TMaybeOwned<T>::Borrow(AValue);
}

}  // namespace qvr
