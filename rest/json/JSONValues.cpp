// JSON value classes; see JSONValues.h.
#include "rest/json/JSONValues.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/SysUtils.h"
#include "rest/json/JSONText.h"

namespace qvr::rest {

// ---------------------------------------------------------------------------
// TJSONValueRef

TJSONValueRef::TJSONValueRef(std::unique_ptr<TJSONValue> AValue) noexcept
    : FBits(reinterpret_cast<std::uintptr_t>(AValue.release())) {}

TJSONValueRef TJSONValueRef::Borrow(TJSONValue& AValue) noexcept {
  TJSONValueRef ref;
  AValue.SetOwned(false);
  ref.FBits = reinterpret_cast<std::uintptr_t>(&AValue) | kBorrowed;
  return ref;
}

TJSONValueRef& TJSONValueRef::operator=(TJSONValueRef&& AOther) noexcept {
  if (this != &AOther) {
    TJSONValueRef old(std::move(*this));
    FBits = AOther.FBits;
    AOther.FBits = 0;
  }
  return *this;
}

TJSONValueRef::~TJSONValueRef() {
  if (IsOwned()) delete Get();
}

std::unique_ptr<TJSONValue> TJSONValueRef::Release() noexcept {
  std::unique_ptr<TJSONValue> out;
  if (IsOwned()) out.reset(Get());
  FBits = 0;
  return out;
}

namespace {
// Values stored in containers are never absent: a missing value is null.
TJSONValueRef Held(std::unique_ptr<TJSONValue> AValue) {
  if (AValue == nullptr) AValue = std::make_unique<TJSONNull>();
  return TJSONValueRef(std::move(AValue));
}
}  // namespace

// ---------------------------------------------------------------------------
// Node pool

namespace {

// Blocks of 16, 32, 48 and 64 bytes carved from 256 KiB slabs. Each thread
// keeps its own free lists; a block freed on another thread joins that
// thread's list. Slabs are kept for the life of the process (bounded by the
// most values alive at once) and stay reachable from SlabList so that leak
// checkers see them as held. Under AddressSanitizer values use the ordinary
// allocator so that every misuse is still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUsePool = false;
#else
constexpr bool kUsePool = true;
#endif
constexpr std::size_t kGranule = 16;
constexpr std::size_t kClasses = 4;
constexpr std::size_t kSlabBytes = 256 * 1024;

struct TFreeBlock {
  TFreeBlock* Next;
};

// Trivially destructible, so that values released during the process's
// final clean-up still find it.
struct TThreadPool {
  TFreeBlock* Free[kClasses] = {};
  char* Next = nullptr;
  char* End = nullptr;
};

thread_local TThreadPool GPool;

std::vector<void*>& SlabList() {
  static auto* slabs = new std::vector<void*>();  // never released, see above
  return *slabs;
}
std::mutex& SlabLock() {
  static auto* lock = new std::mutex();
  return *lock;
}

void* AllocateBlock(std::size_t ASize) {
  const std::size_t cls = (ASize + kGranule - 1) / kGranule - 1;
  TThreadPool& pool = GPool;
  if (TFreeBlock* block = pool.Free[cls]) {
    pool.Free[cls] = block->Next;
    return block;
  }
  const std::size_t bytes = (cls + 1) * kGranule;
  if (static_cast<std::size_t>(pool.End - pool.Next) < bytes) {
    void* slab = ::operator new(kSlabBytes);
    {
      std::scoped_lock guard(SlabLock());
      SlabList().push_back(slab);
    }
    pool.Next = static_cast<char*>(slab);
    pool.End = pool.Next + kSlabBytes;
  }
  void* block = pool.Next;
  pool.Next += bytes;
  return block;
}

void ReleaseBlock(void* APointer, std::size_t ASize) noexcept {
  const std::size_t cls = (ASize + kGranule - 1) / kGranule - 1;
  auto* block = static_cast<TFreeBlock*>(APointer);
  block->Next = GPool.Free[cls];
  GPool.Free[cls] = block;
}

}  // namespace

void* TJSONValue::operator new(std::size_t ASize) {
  if (!kUsePool || ASize > kGranule * kClasses) return ::operator new(ASize);
  return AllocateBlock(ASize);
}

void TJSONValue::operator delete(void* APointer, std::size_t ASize) noexcept {
  if (APointer == nullptr) return;
  if (!kUsePool || ASize > kGranule * kClasses) {
    ::operator delete(APointer);
    return;
  }
  ReleaseBlock(APointer, ASize);
}

// ---------------------------------------------------------------------------
// TJSONValue

std::string TJSONValue::ToJSON() const { return WriteJSON(*this); }

const TJSONObject* TJSONValue::AsObject() const noexcept {
  return Kind() == TKind::Object ? static_cast<const TJSONObject*>(this) : nullptr;
}
TJSONObject* TJSONValue::AsObject() noexcept {
  return Kind() == TKind::Object ? static_cast<TJSONObject*>(this) : nullptr;
}
const TJSONArray* TJSONValue::AsArray() const noexcept {
  return Kind() == TKind::Array ? static_cast<const TJSONArray*>(this) : nullptr;
}
TJSONArray* TJSONValue::AsArray() noexcept {
  return Kind() == TKind::Array ? static_cast<TJSONArray*>(this) : nullptr;
}
const TJSONString* TJSONValue::AsString() const noexcept {
  const TKind k = Kind();
  return k == TKind::String || k == TKind::Number ? static_cast<const TJSONString*>(this) : nullptr;
}

// ---------------------------------------------------------------------------
// Scalars

std::unique_ptr<TJSONValue> TJSONString::Clone() const {
  auto copy = std::make_unique<TJSONString>(*this);
  return copy;
}

TJSONNumber::TJSONNumber(std::int64_t AValue) : TJSONString(std::to_string(AValue)) {}

TJSONNumber::TJSONNumber(double AValue) : TJSONString(FormatJSONFloat(AValue)) {}

std::unique_ptr<TJSONValue> TJSONNumber::Clone() const {
  return std::make_unique<TJSONNumber>(*this);
}
std::unique_ptr<TJSONValue> TJSONTrue::Clone() const { return std::make_unique<TJSONTrue>(*this); }
std::unique_ptr<TJSONValue> TJSONFalse::Clone() const {
  return std::make_unique<TJSONFalse>(*this);
}
std::unique_ptr<TJSONValue> TJSONNull::Clone() const { return std::make_unique<TJSONNull>(*this); }

std::string FormatJSONFloat(double AValue) {
  if (!std::isfinite(AValue)) {
    throw EConvertError(Format("'%s' is not a valid floating point value",
                               std::isnan(AValue) ? "NAN" : (AValue > 0 ? "INF" : "-INF")));
  }
  if (AValue == 0) return "0";
  // 15 significant digits, then the shortest of fixed and scientific notation
  // that a reader on any locale takes back: fixed while the exponent lies in
  // [-5, 15), as general formats do.
  char digits[32];
  std::snprintf(digits, sizeof digits, "%.14e", AValue);
  // digits: [-]d.dddddddddddddde[+-]xx
  std::string text(digits);
  const std::size_t ePos = text.find('e');
  const int exponent = std::atoi(text.c_str() + ePos + 1);
  std::string mantissa = text.substr(0, ePos);
  const bool negative = mantissa[0] == '-';
  if (negative) mantissa.erase(0, 1);
  std::string sig;
  for (char c : mantissa) {
    if (c != '.') sig += c;
  }
  while (sig.size() > 1 && sig.back() == '0') sig.pop_back();
  std::string out = negative ? "-" : "";
  if (exponent >= -5 && exponent < 15) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += sig;
    } else {
      const std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
      if (sig.size() <= intDigits) {
        out += sig;
        out.append(intDigits - sig.size(), '0');
      } else {
        out += sig.substr(0, intDigits);
        out += '.';
        out += sig.substr(intDigits);
      }
    }
  } else {
    out += sig[0];
    if (sig.size() > 1) {
      out += '.';
      out += sig.substr(1);
    }
    out += 'E';
    out += std::to_string(exponent);
  }
  return out;
}

// ---------------------------------------------------------------------------
// TJSONPair

TJSONPair::TJSONPair(std::string AName, std::unique_ptr<TJSONValue> AValue)
    : FJsonString(std::move(AName)), FJsonValue(Held(std::move(AValue))) {}

TJSONPair::TJSONPair(std::string AName, TJSONValueRef AValue)
    : FJsonString(std::move(AName)), FJsonValue(std::move(AValue)) {}

TJSONPair::TJSONPair(const char* AName, std::size_t ALength, TJSONValueRef AValue)
    : FJsonString(AName, ALength), FJsonValue(std::move(AValue)) {}

void TJSONPair::SetJsonValue(std::unique_ptr<TJSONValue> AValue) {
  FJsonValue = Held(std::move(AValue));
}

std::unique_ptr<TJSONValue> TJSONPair::TakeJsonValue() {
  if (FJsonValue.IsOwned()) return FJsonValue.Release();
  std::unique_ptr<TJSONValue> copy = FJsonValue.Get() ? FJsonValue.Get()->Clone() : nullptr;
  FJsonValue = TJSONValueRef();
  return copy;
}

std::unique_ptr<TJSONPair> TJSONPair::Clone() const {
  auto copy = std::make_unique<TJSONPair>();
  copy->FOwned = FOwned;
  copy->FJsonString = FJsonString;
  if (FJsonValue.Get() != nullptr) copy->FJsonValue = TJSONValueRef(FJsonValue.Get()->Clone());
  return copy;
}

// ---------------------------------------------------------------------------
// TJSONObject

std::unique_ptr<TJSONValue> TJSONObject::Clone() const {
  auto copy = std::make_unique<TJSONObject>();
  copy->FOwned = FOwned;
  copy->FMembers.reserve(FMembers.size());
  for (const TJSONPair& p : FMembers) copy->FMembers.push_back(std::move(*p.Clone()));
  return copy;
}

TJSONObject& TJSONObject::AddPair(std::string AName, std::unique_ptr<TJSONValue> AValue) {
  FMembers.emplace_back(std::move(AName), std::move(AValue));
  return *this;
}

TJSONObject& TJSONObject::AddPair(std::string AName, std::string_view AText) {
  return AddPair(std::move(AName), std::make_unique<TJSONString>(AText));
}

TJSONObject& TJSONObject::AddPair(TJSONPair APair) {
  FMembers.push_back(std::move(APair));
  return *this;
}

TJSONObject& TJSONObject::AddBorrowedPair(std::string AName, TJSONValue& AValue) {
  FMembers.emplace_back(std::move(AName), TJSONValueRef::Borrow(AValue));
  return *this;
}

const TJSONPair* TJSONObject::Get(std::string_view AName) const noexcept {
  for (const TJSONPair& p : FMembers) {
    if (p.Name() == AName) return &p;
  }
  return nullptr;
}

TJSONPair* TJSONObject::Get(std::string_view AName) noexcept {
  for (TJSONPair& p : FMembers) {
    if (p.Name() == AName) return &p;
  }
  return nullptr;
}

TJSONValue* TJSONObject::GetValue(std::string_view AName) const noexcept {
  const TJSONPair* p = Get(AName);
  return p != nullptr ? p->JsonValue() : nullptr;
}

std::unique_ptr<TJSONPair> TJSONObject::RemovePair(std::string_view AName) {
  for (auto it = FMembers.begin(); it != FMembers.end(); ++it) {
    if (it->Name() == AName) {
      auto out = std::make_unique<TJSONPair>(std::move(*it));
      FMembers.erase(it);
      return out;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// TJSONArray

std::unique_ptr<TJSONValue> TJSONArray::Clone() const {
  auto copy = std::make_unique<TJSONArray>();
  copy->FOwned = FOwned;
  copy->FElements.reserve(FElements.size());
  for (const TJSONValueRef& e : FElements) copy->FElements.emplace_back(e.Get()->Clone());
  return copy;
}

TJSONArray& TJSONArray::Add(std::unique_ptr<TJSONValue> AValue) {
  FElements.push_back(Held(std::move(AValue)));
  return *this;
}

TJSONArray& TJSONArray::Add(TJSONValueRef AValue) {
  if (AValue.Get() == nullptr) return Add(std::unique_ptr<TJSONValue>());
  FElements.push_back(std::move(AValue));
  return *this;
}

TJSONArray& TJSONArray::AddBorrowed(TJSONValue& AValue) {
  FElements.push_back(TJSONValueRef::Borrow(AValue));
  return *this;
}

std::unique_ptr<TJSONValue> TJSONArray::Remove(std::size_t AIndex) {
  if (AIndex >= FElements.size()) throw EArgumentOutOfRangeException();
  std::unique_ptr<TJSONValue> out = FElements[AIndex].Release();
  FElements.erase(FElements.begin() + static_cast<std::ptrdiff_t>(AIndex));
  return out;
}

}  // namespace qvr::rest
