// The JSON value classes: member look-up, ownership (owned and borrowed
// children, the Owned flag), deep copies, values released on other threads
// than the one that made them, and number formatting.
#include "rest/json/JSONValues.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define QVR_TEST_ASAN 1
// The sanitizer allocator's count of bytes in use (g++ ships no header for
// it; the runtime defines it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#define QVR_TEST_ASAN 0
#endif

#include "platform/SysUtils.h"
#include "rest/json/JSONText.h"

namespace qvr::rest {
namespace {

TEST(JSONValues, NewValuesAreOwnedAndStringsMayBeNull) {
  TJSONString null;
  EXPECT_TRUE(null.Owned());
  EXPECT_TRUE(null.IsNullString());
  EXPECT_EQ(WriteJSON(null), "null");
  null.SetValue("");
  EXPECT_FALSE(null.IsNullString());
  EXPECT_EQ(WriteJSON(null), R"("")");
  TJSONString s("x");
  EXPECT_FALSE(s.IsNullString());
  s.SetNull();
  EXPECT_EQ(WriteJSON(s), "null");
  // A number is a kind of string and keeps its text.
  TJSONNumber n(std::string("007"));
  EXPECT_EQ(n.AsString()->Value(), "007");
  EXPECT_EQ(n.Kind(), TJSONValue::TKind::Number);
}

TEST(JSONValues, LooksUpTheFirstMemberByExactName) {
  TJSONObject o;
  o.AddPair("result", "first").AddPair("Result", "case differs").AddPair("result", "second");
  ASSERT_NE(o.GetValue("result"), nullptr);
  EXPECT_EQ(o.GetValue("result")->AsString()->Value(), "first");
  EXPECT_EQ(o.GetValue("Result")->AsString()->Value(), "case differs");
  EXPECT_EQ(o.GetValue("RESULT"), nullptr);
  EXPECT_EQ(o.Get("resul"), nullptr);
  auto removed = o.RemovePair("result");
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(removed->JsonValue()->AsString()->Value(), "first");
  EXPECT_EQ(o.GetValue("result")->AsString()->Value(), "second");
  // A missing value is stored as JSON null.
  o.AddPair("n", std::unique_ptr<TJSONValue>());
  EXPECT_TRUE(o.GetValue("n")->IsNull());
}

TEST(JSONValues, BorrowedChildrenStayWithTheirOwner) {
  TJSONString slotValue("kept");  // owned by this test, like a parameter slot's value
  {
    TJSONArray body;
    body.AddBorrowed(slotValue).Add(std::make_unique<TJSONString>("own"));
    EXPECT_FALSE(slotValue.Owned());
    EXPECT_FALSE(body.Elements()[0].IsOwned());
    EXPECT_TRUE(body.Elements()[1].IsOwned());
    TJSONObject wrapper;
    wrapper.AddBorrowedPair("v", slotValue);
    EXPECT_EQ(WriteJSON(body), R"(["kept","own"])");
    // Removing a borrowed element hands back nothing to release.
    EXPECT_EQ(body.Remove(0), nullptr);
  }
  // Still alive (AddressSanitizer would report a release here).
  EXPECT_EQ(slotValue.Value(), "kept");
}

TEST(JSONValues, OwnedFlagChangesDoNotMoveOwnership) {
  // The flag is data; the container still releases what it was given, so
  // this neither leaks nor releases twice under the sanitizers.
  TJSONArray a;
  auto child = std::make_unique<TJSONString>("x");
  TJSONString* raw = child.get();
  a.Add(std::move(child));
  raw->SetOwned(false);
  EXPECT_TRUE(a.Elements()[0].IsOwned());
}

TEST(JSONValues, CloneIsDeepAndIndependent) {
  TJSONString borrowed("b");
  auto o = std::make_unique<TJSONObject>();
  auto inner = std::make_unique<TJSONArray>();
  inner->Add(std::make_unique<TJSONNumber>(std::string("1"))).AddBorrowed(borrowed);
  o->AddPair("a", std::move(inner)).AddPair("s", std::make_unique<TJSONString>());
  o->SetOwned(false);
  auto copy = o->Clone();
  EXPECT_EQ(WriteJSON(*copy), R"({"a":[1,"b"],"s":null})");
  EXPECT_FALSE(copy->Owned());
  // The copy owns everything, also what the original only borrowed.
  EXPECT_TRUE(copy->AsObject()->GetValue("a")->AsArray()->Elements()[1].IsOwned());
  o.reset();
  EXPECT_EQ(WriteJSON(*copy), R"({"a":[1,"b"],"s":null})");
  EXPECT_EQ(copy->AsObject()->GetValue("a")->AsArray()->Items(1)->AsString()->Value(), "b");
  auto pair = TJSONPair("n", std::make_unique<TJSONTrue>()).Clone();
  EXPECT_EQ(pair->Name(), "n");
  EXPECT_EQ(pair->JsonValue()->Kind(), TJSONValue::TKind::True);
}

TEST(JSONValues, ValuesMayBeReleasedOnAnotherThread) {
  // Values come from per-thread pools: hand documents across threads both
  // ways and keep using them.
  std::vector<std::unique_ptr<TJSONValue>> made(8);
  std::thread maker([&made] {
    for (auto& m : made) {
      auto a = std::make_unique<TJSONArray>();
      for (int i = 0; i < 1000; ++i) a->Add(std::make_unique<TJSONNumber>(std::int64_t{i}));
      m = std::move(a);
    }
  });
  maker.join();
  for (std::size_t k = 0; k < made.size(); k += 2) made[k].reset();  // released here
  std::thread user([&made] {
    for (std::size_t k = 1; k < made.size(); k += 2) {
      EXPECT_EQ(made[k]->AsArray()->Items(999)->AsString()->Value(), "999");
      made[k].reset();
    }
    TJSONObject o;  // reuses what this thread freed
    for (int i = 0; i < 2000; ++i) o.AddPair("k", std::make_unique<TJSONTrue>());
    EXPECT_EQ(o.Count(), 2000u);
  });
  user.join();
  TJSONArray reuse;
  for (int i = 0; i < 5000; ++i) reuse.Add(std::make_unique<TJSONString>("x"));
  EXPECT_EQ(WriteJSON(*reuse.Items(4999)), R"("x")");
}

// Bytes the process's allocator has handed out and not taken back (under
// AddressSanitizer, its allocator's count).
std::size_t AllocatedBytes() {
#if QVR_TEST_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// One thread makes documents and hands them over, another releases them:
// with a constant number alive the memory in use stays the same, round after
// round, whether the maker lives on or a new thread makes each document.
TEST(JSONValues, ValuesReleasedOnAnotherThreadAreReused) {
  std::string text = "[";
  for (int i = 0; i < 100000; ++i) text += std::to_string(i) + (i + 1 < 100000 ? "," : "]");
  constexpr int kRounds = 10;
  constexpr int kWarmUp = 2;
  for (const bool freshThreads : {false, true}) {
    SCOPED_TRACE(freshThreads ? "a new maker thread per round" : "one maker thread");
    std::mutex lock;
    std::condition_variable changed;
    std::unique_ptr<TJSONValue> handed;
    int made = 0;
    int released = 0;
    // Makes one document and waits until it was released.
    const auto makeOne = [&] {
      auto doc = ParseJSON(text);
      std::unique_lock guard(lock);
      handed = std::move(doc);
      ++made;
      changed.notify_all();
      changed.wait_for(guard, std::chrono::seconds(30), [&] { return released == made; });
    };
    std::thread maker;
    if (!freshThreads) {
      maker = std::thread([&] {
        for (int round = 0; round < kRounds; ++round) makeOne();
      });
    }
    std::size_t afterWarmUp = 0;
    for (int round = 0; round < kRounds; ++round) {
      if (freshThreads) maker = std::thread(makeOne);
      std::unique_ptr<TJSONValue> doc;
      {
        std::unique_lock guard(lock);
        ASSERT_TRUE(
            changed.wait_for(guard, std::chrono::seconds(30), [&] { return made == round + 1; }));
        doc = std::move(handed);
      }
      ASSERT_NE(doc, nullptr);
      doc.reset();  // released on this thread
      {
        std::scoped_lock guard(lock);
        released = made;
      }
      changed.notify_all();
      if (freshThreads) maker.join();
      if (round == kWarmUp - 1) afterWarmUp = AllocatedBytes();
    }
    if (!freshThreads) maker.join();
    const std::size_t growth = AllocatedBytes() - std::min(afterWarmUp, AllocatedBytes());
    // The 100,000 values of one document take at least 1.6 MB (16 bytes
    // each); what leaked would grow by that much every round.
    EXPECT_LT(growth, 1000000u);
  }
}

// General format, 15 significant digits, "." separator; expected texts worked
// out by hand from the rule (fixed while the decimal exponent is in [-5, 15)).
struct TFloatCase {
  double Value;
  const char* Text;
};

const TFloatCase kFloatCases[] = {
    {0.0, "0"},
    {3.0, "3"},
    {-1.5, "-1.5"},
    {0.1, "0.1"},
    {1.0 / 3.0, "0.333333333333333"},
    {123456789012345.0, "123456789012345"},
    {1234567890123456.0, "1.23456789012346E15"},
    {1e20, "1E20"},
    {0.00001, "0.00001"},
    {0.000001, "1E-6"},
    {-2.5e-10, "-2.5E-10"},
    {45000.25, "45000.25"},
};

TEST(JSONValues, FormatsFloatsInGeneralFormat) {
  for (const TFloatCase& c : kFloatCases) {
    EXPECT_EQ(FormatJSONFloat(c.Value), c.Text) << c.Value;
    EXPECT_EQ(TJSONNumber(c.Value).Value(), c.Text);
  }
  EXPECT_THROW(FormatJSONFloat(std::nan("")), EConvertError);
  EXPECT_THROW(TJSONNumber(std::numeric_limits<double>::infinity()), EConvertError);
  EXPECT_EQ(TJSONNumber(std::int64_t{-9007199254740993}).Value(), "-9007199254740993");
}

}  // namespace
}  // namespace qvr::rest
