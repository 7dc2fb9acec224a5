// The JSON value classes that every payload between the client core and the
// server is built from: objects (ordered members whose names may repeat),
// arrays, strings (with a null state), numbers (kept as the text that was
// received or written), true, false and null. They derive from qvr::TObject so
// that a JSON value can itself travel as a marshalled object.
//
// Ownership. A container owns the children it was given as std::unique_ptr and
// releases them with itself; a child added through one of the Borrow... calls
// stays with whoever owns it and is never released by the container. Every
// value and pair also carries the Owned flag (true after construction; a
// borrowed child gets false). It is copied by Clone and travels in the object
// form, but it never moves ownership, so no value can leak or be released
// twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Classes.h"

namespace qvr::rest {

class TJSONValue;
struct TJSONFieldAccess;  // the marshaller's field table of these classes

// Common base of values and pairs.
class TJSONAncestor : public TObject {
 public:
  TJSONAncestor() = default;
  TJSONAncestor(const TJSONAncestor&) = default;
  TJSONAncestor& operator=(const TJSONAncestor&) = default;
  ~TJSONAncestor() override = default;

  bool Owned() const noexcept { return FOwned; }
  void SetOwned(bool AValue) noexcept { FOwned = AValue; }

 protected:
  bool FOwned = true;
  friend struct TJSONFieldAccess;
};

// A child held by a container: owned (released with the holder) or borrowed.
// Move-only; the owned state is decided when the child enters the holder.
class TJSONValueRef {
 public:
  TJSONValueRef() noexcept = default;
  explicit TJSONValueRef(std::unique_ptr<TJSONValue> AValue) noexcept;
  static TJSONValueRef Borrow(TJSONValue& AValue) noexcept;
  TJSONValueRef(TJSONValueRef&& AOther) noexcept : FBits(AOther.FBits) { AOther.FBits = 0; }
  TJSONValueRef& operator=(TJSONValueRef&& AOther) noexcept;
  TJSONValueRef(const TJSONValueRef&) = delete;
  TJSONValueRef& operator=(const TJSONValueRef&) = delete;
  ~TJSONValueRef();

  TJSONValue* Get() const noexcept { return reinterpret_cast<TJSONValue*>(FBits & ~kBorrowed); }
  bool IsOwned() const noexcept { return (FBits & kBorrowed) == 0 && FBits != 0; }
  // Gives up the child: the owned one as a unique_ptr, a borrowed one as null.
  std::unique_ptr<TJSONValue> Release() noexcept;

 private:
  static constexpr std::uintptr_t kBorrowed = 1;
  std::uintptr_t FBits = 0;
};

// Base of every JSON value.
class TJSONValue : public TJSONAncestor {
 public:
  enum class TKind : std::uint8_t { Object, Array, String, Number, True, False, Null };

  virtual TKind Kind() const noexcept = 0;
  // A deep copy; the copy and every value inside it are owned by the copy.
  virtual std::unique_ptr<TJSONValue> Clone() const = 0;
  // The compact text form (see JSONText.h).
  std::string ToJSON() const;

  // Values come from a per-thread pool of small blocks (parsing a large
  // answer makes millions of them); a value may be released on any thread.
  static void* operator new(std::size_t ASize);
  static void operator delete(void* APointer, std::size_t ASize) noexcept;

  // Typed views; null when the value is of another kind.
  const class TJSONObject* AsObject() const noexcept;
  class TJSONObject* AsObject() noexcept;
  const class TJSONArray* AsArray() const noexcept;
  class TJSONArray* AsArray() noexcept;
  // Strings and numbers (a number is a kind of string).
  const class TJSONString* AsString() const noexcept;
  bool IsNull() const noexcept { return Kind() == TKind::Null; }
};

// A string: its UTF-8 text and its null state. A string built without text is
// null and is written as JSON null.
class TJSONString : public TJSONValue {
 public:
  TJSONString() noexcept : FIsNull(true) {}
  explicit TJSONString(std::string AValue) noexcept : FValue(std::move(AValue)) {}
  explicit TJSONString(std::string_view AValue) : FValue(AValue) {}
  explicit TJSONString(const char* AValue) : FValue(AValue) {}
  TJSONString(const char* AText, std::size_t ALength) : FValue(AText, ALength) {}

  TKind Kind() const noexcept override { return TKind::String; }
  std::unique_ptr<TJSONValue> Clone() const override;

  const std::string& Value() const noexcept { return FValue; }
  // Gives the text and leaves the null state.
  void SetValue(std::string AValue) {
    FValue = std::move(AValue);
    FIsNull = false;
  }
  bool IsNullString() const noexcept { return FIsNull; }
  void SetNull() {
    FValue.clear();
    FIsNull = true;
  }

 protected:
  // Declared first so that it fits in the padding after the base's flag.
  bool FIsNull = false;
  std::string FValue;
  friend struct TJSONFieldAccess;
};

// A number: a string kind that keeps the number's text and is written as it.
class TJSONNumber : public TJSONString {
 public:
  // The number 0 (as the unmarshaller creates one before filling it).
  TJSONNumber() : TJSONString(std::string("0")) {}
  // AText must be a JSON number; it is kept as given.
  explicit TJSONNumber(std::string AText) noexcept : TJSONString(std::move(AText)) {}
  TJSONNumber(const char* AText, std::size_t ALength) : TJSONString(AText, ALength) {}
  explicit TJSONNumber(std::int64_t AValue);
  explicit TJSONNumber(std::int32_t AValue) : TJSONNumber(static_cast<std::int64_t>(AValue)) {}
  // General format, at most 15 significant digits, "." as separator. Raises
  // EConvertError for NaN and infinities, which have no JSON form.
  explicit TJSONNumber(double AValue);

  TKind Kind() const noexcept override { return TKind::Number; }
  std::unique_ptr<TJSONValue> Clone() const override;
};

class TJSONTrue : public TJSONValue {
 public:
  TKind Kind() const noexcept override { return TKind::True; }
  std::unique_ptr<TJSONValue> Clone() const override;
};

class TJSONFalse : public TJSONValue {
 public:
  TKind Kind() const noexcept override { return TKind::False; }
  std::unique_ptr<TJSONValue> Clone() const override;
};

class TJSONNull : public TJSONValue {
 public:
  TKind Kind() const noexcept override { return TKind::Null; }
  std::unique_ptr<TJSONValue> Clone() const override;
};

// A member of an object: its name (a TJSONString) and its value. The pair
// releases its value when the value entered it owned.
class TJSONPair : public TJSONAncestor {
 public:
  // A pair with an empty name and a null value (as the unmarshaller makes it
  // before it reads the form, which may name neither).
  TJSONPair();
  TJSONPair(std::string AName, std::unique_ptr<TJSONValue> AValue);
  TJSONPair(std::string AName, TJSONValueRef AValue);
  // A pair whose name is the ALength bytes at AName (UTF-8).
  TJSONPair(const char* AName, std::size_t ALength, TJSONValueRef AValue);
  TJSONPair(TJSONPair&&) noexcept = default;
  TJSONPair& operator=(TJSONPair&&) noexcept = default;
  ~TJSONPair() override = default;

  const TJSONString& JsonString() const noexcept { return FJsonString; }
  TJSONString& JsonString() noexcept { return FJsonString; }
  const std::string& Name() const noexcept { return FJsonString.Value(); }
  // Null only after TakeJsonValue.
  TJSONValue* JsonValue() const noexcept { return FJsonValue.Get(); }
  void SetJsonValue(std::unique_ptr<TJSONValue> AValue);
  void SetJsonValue(TJSONValueRef AValue) { FJsonValue = std::move(AValue); }
  bool OwnsValue() const noexcept { return FJsonValue.IsOwned(); }
  // Takes the value out: the owned one as a unique_ptr, a borrowed one as a
  // copy. The pair is left without a value.
  std::unique_ptr<TJSONValue> TakeJsonValue();
  // A deep copy (the copy owns its value).
  std::unique_ptr<TJSONPair> Clone() const;

 private:
  TJSONString FJsonString;
  TJSONValueRef FJsonValue;
};

// An object: an ordered list of members; names may repeat.
class TJSONObject : public TJSONValue {
 public:
  TJSONObject() = default;
  TKind Kind() const noexcept override { return TKind::Object; }
  std::unique_ptr<TJSONValue> Clone() const override;

  std::size_t Count() const noexcept { return FMembers.size(); }
  const TJSONPair& Pairs(std::size_t AIndex) const { return FMembers[AIndex]; }
  TJSONPair& Pairs(std::size_t AIndex) { return FMembers[AIndex]; }
  const std::vector<TJSONPair>& Members() const noexcept { return FMembers; }

  // Appends a member that the object owns; returns *this for chaining. A null
  // AValue is stored as a JSON null.
  TJSONObject& AddPair(std::string AName, std::unique_ptr<TJSONValue> AValue);
  TJSONObject& AddPair(std::string AName, std::string_view AText);  // a string member
  TJSONObject& AddPair(TJSONPair APair);
  // Appends a member whose value stays with its owner (it must outlive this
  // object or be removed first).
  TJSONObject& AddBorrowedPair(std::string AName, TJSONValue& AValue);
  // Replaces the whole member list.
  void SetMembers(std::vector<TJSONPair> AMembers) noexcept { FMembers = std::move(AMembers); }
  void Reserve(std::size_t ACount) { FMembers.reserve(ACount); }

  // The first member named exactly AName, or null.
  const TJSONPair* Get(std::string_view AName) const noexcept;
  TJSONPair* Get(std::string_view AName) noexcept;
  // The value of the first member named exactly AName, or null.
  TJSONValue* GetValue(std::string_view AName) const noexcept;
  // Removes the first member named AName and returns it (nothing if none).
  std::unique_ptr<TJSONPair> RemovePair(std::string_view AName);

 private:
  std::vector<TJSONPair> FMembers;
};

// An array: an ordered list of values.
class TJSONArray : public TJSONValue {
 public:
  TJSONArray() = default;
  TKind Kind() const noexcept override { return TKind::Array; }
  std::unique_ptr<TJSONValue> Clone() const override;

  std::size_t Count() const noexcept { return FElements.size(); }
  TJSONValue* Items(std::size_t AIndex) const { return FElements[AIndex].Get(); }
  const std::vector<TJSONValueRef>& Elements() const noexcept { return FElements; }

  // Appends a value the array owns (a null AValue is stored as a JSON null).
  TJSONArray& Add(std::unique_ptr<TJSONValue> AValue);
  TJSONArray& Add(TJSONValueRef AValue);
  // Appends a value that stays with its owner.
  TJSONArray& AddBorrowed(TJSONValue& AValue);
  void SetElements(std::vector<TJSONValueRef> AElements) noexcept {
    FElements = std::move(AElements);
  }
  void Reserve(std::size_t ACount) { FElements.reserve(ACount); }
  // Removes the element at AIndex and returns it if the array owned it.
  std::unique_ptr<TJSONValue> Remove(std::size_t AIndex);
  // Takes every element out, in order, leaving the array empty.
  std::vector<TJSONValueRef> TakeElements() noexcept { return std::exchange(FElements, {}); }

 private:
  std::vector<TJSONValueRef> FElements;
};

// Formats AValue as a JSON number: general format with at most 15 significant
// digits and "." as separator ("3", "0.1", "1.5E20", "1E-7"). Raises
// EConvertError for NaN and infinities.
std::string FormatJSONFloat(double AValue);

}  // namespace qvr::rest
