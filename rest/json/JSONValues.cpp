// JSON value classes; see JSONValues.h.
#include "rest/json/JSONValues.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

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
//
// Values are blocks of 16, 32, 48 or 64 bytes. Each thread keeps free lists
// of its own, so that making and releasing values takes no lock. A block
// released on another thread than the one that made it joins the releasing
// thread's list; since a thread may only release (a consumer of documents
// that another thread parses), a list that grows beyond kKeep blocks goes
// whole to the depot, where every thread looks for blocks before it takes new
// memory. A thread that ends hands its lists to the depot too. So the memory
// held is bounded by the most values alive at once plus the lists of the
// threads, whatever thread releases what.
//
// Where a new block comes from is the one difference between the builds.
// Normally blocks are carved from 256 KiB slabs, which are kept for the life
// of the process (reachable from SlabList, so that leak checkers see them as
// held). Under AddressSanitizer each block is a heap allocation of its own,
// so that LeakSanitizer reports a leaked value with the stack that made it,
// and a block on a free list is poisoned, so that a use after release is
// caught; the free lists, the depot and the hand-over between threads are the
// same code in both.

#if defined(__SANITIZE_ADDRESS__)
#define QVR_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVR_POOL_ASAN 1
#endif
#endif
#ifndef QVR_POOL_ASAN
#define QVR_POOL_ASAN 0
#endif
#if QVR_POOL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr std::size_t kGranule = 16;
constexpr std::size_t kClasses = 4;
#if !QVR_POOL_ASAN
constexpr std::size_t kSlabBytes = 256 * 1024;
#endif
// The most free blocks of a class that a thread keeps for itself.
constexpr std::size_t kKeep = 4096;

constexpr std::size_t ClassOf(std::size_t ASize) { return (ASize + kGranule - 1) / kGranule - 1; }
constexpr std::size_t BytesOf(std::size_t AClass) { return (AClass + 1) * kGranule; }

// A free block. The link is its second word, so that the first, a value's
// virtual table pointer, can stay poisoned while the block is free (a
// release or a call through a released value is caught), while the link
// stays visible to LeakSanitizer, which ignores pointers in poisoned memory.
struct TFreeBlock {
  void* Unused;
  TFreeBlock* Next;
};
static_assert(sizeof(TFreeBlock) == kGranule);

void Poison([[maybe_unused]] void* APointer, [[maybe_unused]] std::size_t ASize) {
#if QVR_POOL_ASAN
  __asan_poison_memory_region(APointer, ASize);
#endif
}
void Unpoison([[maybe_unused]] void* APointer, [[maybe_unused]] std::size_t ASize) {
#if QVR_POOL_ASAN
  __asan_unpoison_memory_region(APointer, ASize);
#endif
}
TFreeBlock* NextOf(const TFreeBlock* ABlock) { return ABlock->Next; }
// Makes ABlock (of AClass) a free block linked to ANext: all of it but the
// link is poisoned.
void MakeFree(TFreeBlock* ABlock, std::size_t AClass, TFreeBlock* ANext) {
  ABlock->Next = ANext;
  Poison(ABlock, sizeof(void*));
  Poison(reinterpret_cast<char*>(ABlock) + kGranule, BytesOf(AClass) - kGranule);
}

// A list of free blocks on its way between threads.
struct TChain {
  TFreeBlock* Head;
  std::size_t Count;
};

// Free blocks that no thread keeps, and the unused ends of the slabs of
// threads that ended; shared by every thread under its lock.
struct TDepot {
  std::mutex Lock;
  std::vector<TChain> Chains[kClasses];
  std::vector<std::pair<char*, char*>> Tails;
};

TDepot& Depot() {
  static auto* depot = new TDepot();  // never released: values may go at process exit
  return *depot;
}

#if !QVR_POOL_ASAN
std::vector<void*>& SlabList() {
  static auto* slabs = new std::vector<void*>();  // never released, see above
  return *slabs;
}
#endif

// What a thread keeps. Trivially destructible, so that values released
// during the thread's or the process's final clean-up still find it.
struct TThreadPool {
  TFreeBlock* Free[kClasses] = {};
  std::size_t Count[kClasses] = {};
  char* Next = nullptr;
  char* End = nullptr;
  // The lease below is in place: this thread's lists go to the depot when
  // it ends.
  bool Leased = false;
  // The lease has run: the thread is ending, and every block it makes or
  // releases from now on goes through the depot.
  bool Ended = false;
};

thread_local TThreadPool GPool;

void HandOver(TThreadPool& APool, std::size_t AClass) {
  if (APool.Free[AClass] == nullptr) return;
  const TChain chain{APool.Free[AClass], APool.Count[AClass]};
  APool.Free[AClass] = nullptr;
  APool.Count[AClass] = 0;
  TDepot& depot = Depot();
  std::scoped_lock guard(depot.Lock);
  depot.Chains[AClass].push_back(chain);
}

// Hands the thread's free blocks and the rest of its slab to the depot when
// the thread ends.
struct TPoolLease {
  bool Active = false;
  ~TPoolLease() {
    if (!Active) return;
    TThreadPool& pool = GPool;
    for (std::size_t cls = 0; cls < kClasses; ++cls) HandOver(pool, cls);
    if (pool.Next != pool.End) {
      TDepot& depot = Depot();
      std::scoped_lock guard(depot.Lock);
      depot.Tails.emplace_back(pool.Next, pool.End);
    }
    pool.Next = pool.End = nullptr;
    pool.Ended = true;
  }
};

thread_local TPoolLease GLease;

void TakeLease(TThreadPool& APool) {
  if (APool.Leased || APool.Ended) return;
  GLease.Active = true;
  APool.Leased = true;
}

// New memory for a block of AClass; called under the depot's lock.
void* CarveBlock(TThreadPool& APool, std::size_t AClass, TDepot& ADepot) {
  const std::size_t bytes = BytesOf(AClass);
#if QVR_POOL_ASAN
  (void)APool;
  (void)ADepot;
  return ::operator new(bytes);
#else
  if (static_cast<std::size_t>(APool.End - APool.Next) < bytes) {
    if (!ADepot.Tails.empty()) {
      // What is left of an ended thread's slab (the rest of the current
      // one is too small for the class and is dropped).
      std::tie(APool.Next, APool.End) = ADepot.Tails.back();
      ADepot.Tails.pop_back();
    }
    if (static_cast<std::size_t>(APool.End - APool.Next) < bytes) {
      void* slab = ::operator new(kSlabBytes);
      SlabList().push_back(slab);
      APool.Next = static_cast<char*>(slab);
      APool.End = APool.Next + kSlabBytes;
    }
  }
  void* block = APool.Next;
  APool.Next += bytes;
  return block;
#endif
}

// A block for a thread whose list of AClass is empty: a chain of the depot,
// else new memory.
void* AllocateSlow(TThreadPool& APool, std::size_t AClass) {
  TakeLease(APool);
  TDepot& depot = Depot();
  std::scoped_lock guard(depot.Lock);
  std::vector<TChain>& chains = depot.Chains[AClass];
  if (!chains.empty()) {
    TFreeBlock* block = chains.back().Head;
    const std::size_t count = chains.back().Count;
    chains.pop_back();
    if (APool.Ended) {
      // An ending thread keeps nothing: the rest of the chain stays shared.
      if (count > 1) chains.push_back({NextOf(block), count - 1});
    } else {
      APool.Free[AClass] = NextOf(block);
      APool.Count[AClass] = count - 1;
    }
    Unpoison(block, BytesOf(AClass));
    return block;
  }
  if (APool.Ended) {
    // Carving for an ending thread: the rest of its slab goes back at once.
    TThreadPool carver;
    void* block = CarveBlock(carver, AClass, depot);
    if (carver.Next != carver.End) depot.Tails.emplace_back(carver.Next, carver.End);
    return block;
  }
  return CarveBlock(APool, AClass, depot);
}

void* AllocateBlock(std::size_t ASize) {
  const std::size_t cls = ClassOf(ASize);
  TThreadPool& pool = GPool;
  if (TFreeBlock* block = pool.Free[cls]) {
    pool.Free[cls] = NextOf(block);
    --pool.Count[cls];
    Unpoison(block, BytesOf(cls));
    return block;
  }
  return AllocateSlow(pool, cls);
}

void ReleaseBlock(void* APointer, std::size_t ASize) noexcept {
  const std::size_t cls = ClassOf(ASize);
  auto* block = static_cast<TFreeBlock*>(APointer);
  TThreadPool& pool = GPool;
  if (pool.Ended) {
    MakeFree(block, cls, nullptr);
    TDepot& depot = Depot();
    std::scoped_lock guard(depot.Lock);
    depot.Chains[cls].push_back({block, 1});
    return;
  }
  TakeLease(pool);
  MakeFree(block, cls, pool.Free[cls]);
  pool.Free[cls] = block;
  if (++pool.Count[cls] > kKeep) HandOver(pool, cls);
}

}  // namespace

void* TJSONValue::operator new(std::size_t ASize) {
  if (ASize > kGranule * kClasses) return ::operator new(ASize);
  return AllocateBlock(ASize);
}

void TJSONValue::operator delete(void* APointer, std::size_t ASize) noexcept {
  if (APointer == nullptr) return;
  if (ASize > kGranule * kClasses) {
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

TJSONPair::TJSONPair() : FJsonValue(Held(nullptr)) {}

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
  auto copy = std::make_unique<TJSONPair>(
      std::string(), Held(FJsonValue.Get() != nullptr ? FJsonValue.Get()->Clone() : nullptr));
  copy->FOwned = FOwned;
  copy->FJsonString = FJsonString;
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
