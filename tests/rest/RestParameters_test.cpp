// Parameter value slots: initial states, the null flag, JSON ownership on
// every path (owned, handed to the caller, replaced, set null, the same value
// again), and the conversion of answer elements into each kind of slot.
#include "rest/RestParameters.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/SysUtils.h"
#include "rest/RestCommand.h"
#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"

namespace qvr::rest {
namespace {

// A JSON string that counts its releases, to see who released what.
int GReleased = 0;
class TCountedString : public TJSONString {
 public:
  explicit TCountedString(const char* AText) : TJSONString(AText) {}
  ~TCountedString() override { ++GReleased; }
};

class ParameterValueJSON : public ::testing::Test {
 protected:
  void SetUp() override { GReleased = 0; }
  TParameterValue Slot{TValueTypes::JSON};
};

TEST(ParameterValue, StartsNullWithEmptyContent) {
  TParameterValue text(TValueTypes::WideString), number(TValueTypes::INT32),
      flag(TValueTypes::BOOL), json(TValueTypes::JSON), table(TValueTypes::TABLE);
  EXPECT_TRUE(text.IsNull());
  EXPECT_EQ(text.GetWideString(), "");
  EXPECT_TRUE(number.IsNull());
  EXPECT_EQ(number.GetInt32(), 0);
  EXPECT_TRUE(flag.IsNull());
  EXPECT_FALSE(flag.GetBoolean());
  EXPECT_TRUE(json.IsNull());
  EXPECT_EQ(json.JSONValue(), nullptr);
  EXPECT_FALSE(json.OwnsJSONValue());
  EXPECT_TRUE(table.IsNull());
  EXPECT_EQ(table.Kind(), TParameterValue::TKind::None);
}

TEST(ParameterValue, NullKeepsTheContentThatGettersStillAnswer) {
  TParameterValue text(TValueTypes::WideString), number(TValueTypes::INT32),
      flag(TValueTypes::BOOL);
  text.SetWideString("hola");
  number.SetInt32(-5);
  flag.SetBoolean(true);
  EXPECT_FALSE(text.IsNull() || number.IsNull() || flag.IsNull());
  text.SetNull();
  number.SetNull();
  flag.SetNull();
  EXPECT_TRUE(text.IsNull() && number.IsNull() && flag.IsNull());
  EXPECT_EQ(text.GetString(), "hola");
  EXPECT_EQ(number.GetInt32(), -5);
  EXPECT_TRUE(flag.GetBoolean());
}

TEST(ParameterValue, AnOperationOfAnotherKindIsRefused) {
  TParameterValue number(TValueTypes::INT32);
  try {
    number.SetWideString("x");
    FAIL() << "no exception";
  } catch (const TValueError& e) {
    EXPECT_EQ(e.Message(), "Cannot access a TValueTypes.INT32 value as TValueTypes.WideString");
    EXPECT_EQ(e.ErrorCode(), 0);
  }
  EXPECT_THROW(number.GetJSONValue(true), TValueError);
  EXPECT_THROW(TParameterValue(TValueTypes::WideString).GetBoolean(), TValueError);
}

TEST_F(ParameterValueJSON, AnOwnedValueGoesWhenReplacedOrSetNull) {
  Slot.SetJSONValue(std::make_unique<TCountedString>("a"));
  EXPECT_TRUE(Slot.OwnsJSONValue());
  Slot.SetJSONValue(std::make_unique<TCountedString>("b"));
  EXPECT_EQ(GReleased, 1);
  Slot.SetNull();
  EXPECT_EQ(GReleased, 2);
  EXPECT_TRUE(Slot.IsNull());
  Slot.SetJSONValue(std::make_unique<TCountedString>("c"));
  Slot.SetJSONValue(nullptr);  // an empty handle acts as SetNull
  EXPECT_EQ(GReleased, 3);
}

TEST_F(ParameterValueJSON, ABorrowedValueStaysWithItsOwner) {
  auto mine = std::make_unique<TCountedString>("a");
  Slot.SetJSONValue(Borrow<TJSONValue>(*mine));
  EXPECT_FALSE(Slot.OwnsJSONValue());
  EXPECT_EQ(Slot.JSONValue(), mine.get());
  Slot.SetJSONValue(std::make_unique<TCountedString>("b"));
  Slot.SetNull();
  EXPECT_EQ(GReleased, 1) << "only the owned one";
  // Asking to own a borrowed value does not make the slot its owner.
  Slot.SetJSONValue(Borrow<TJSONValue>(*mine));
  TMaybeOwned<TJSONValue> taken = Slot.GetJSONValue(false);
  EXPECT_FALSE(taken.IsOwned());
  EXPECT_EQ(taken.get(), mine.get());
  (void)Slot.GetJSONValue(true);
  EXPECT_FALSE(Slot.OwnsJSONValue());
}

TEST_F(ParameterValueJSON, HandedToTheCallerTheValueIsNeverReleasedByTheSlot) {
  Slot.SetJSONValue(std::make_unique<TCountedString>("a"));
  TMaybeOwned<TJSONValue> kept = Slot.GetJSONValue(true);
  EXPECT_FALSE(kept.IsOwned());
  EXPECT_TRUE(Slot.OwnsJSONValue());
  TMaybeOwned<TJSONValue> handed = Slot.GetJSONValue(false);
  EXPECT_TRUE(handed.IsOwned());
  EXPECT_FALSE(Slot.OwnsJSONValue());
  EXPECT_FALSE(Slot.IsNull()) << "the slot still holds it";
  EXPECT_EQ(Slot.JSONValue(), handed.get());
  Slot.SetJSONValue(std::make_unique<TCountedString>("b"));
  EXPECT_EQ(GReleased, 0);
  handed.Reset();
  EXPECT_EQ(GReleased, 1);
}

TEST_F(ParameterValueJSON, TheSameValueAgainIsNotReleased) {
  auto value = std::make_unique<TCountedString>("a");
  TJSONValue* raw = value.get();
  Slot.SetJSONValue(std::move(value));
  Slot.SetJSONValue(TMaybeOwned<TJSONValue>::Borrow(raw));
  EXPECT_EQ(GReleased, 0);
  EXPECT_TRUE(Slot.OwnsJSONValue()) << "it stays owned";
  // A second owning handle on the same object: one owner remains.
  Slot.SetJSONValue(std::unique_ptr<TJSONValue>(raw));
  EXPECT_EQ(GReleased, 0);
  Slot.SetNull();
  EXPECT_EQ(GReleased, 1);
}

TEST_F(ParameterValueJSON, ABorrowedValueBecomesOwnedWhenHandedOverLater) {
  auto value = std::make_unique<TCountedString>("a");
  Slot.SetJSONValue(Borrow<TJSONValue>(*value));
  Slot.SetJSONValue(std::move(value));
  EXPECT_TRUE(Slot.OwnsJSONValue());
  Slot.SetNull();
  EXPECT_EQ(GReleased, 1);
}

// ------------------------------------------------ answer elements into slots

struct TStoreCase {
  const char* Element;  // JSON text
  std::int32_t Type;
  bool Null;          // IsNull afterwards
  const char* Text;   // text slot content, or integer/Boolean as text
  const char* Error;  // expected message; nullptr: stored
};

// The rows follow the conversion table of the command layer: what each kind
// of element gives in each kind of slot.
const TStoreCase kStoreCases[] = {
    {"null", TValueTypes::WideString, true, "before", nullptr},
    {"\"abc\"", TValueTypes::WideString, false, "abc", nullptr},
    {"12.50", TValueTypes::WideString, false, "12.50", nullptr},
    {"true", TValueTypes::WideString, false, "-1", nullptr},
    {"false", TValueTypes::WideString, false, "0", nullptr},
    {"{\"a\":\"\\u00e9/\"}", TValueTypes::WideString, false, "{\"a\":\"\\u00E9\\/\"}", nullptr},
    {"[1,\"x\"]", TValueTypes::WideString, false, "[1,\"x\"]", nullptr},

    {"null", TValueTypes::BOOL, true, "1", nullptr},
    {"\"2.5\"", TValueTypes::BOOL, false, "1", nullptr},
    {"\"0\"", TValueTypes::BOOL, false, "0", nullptr},
    {"\"tRuE\"", TValueTypes::BOOL, false, "1", nullptr},
    {"\"FALSE\"", TValueTypes::BOOL, false, "0", nullptr},
    {"\"quizas\"", TValueTypes::BOOL, false, "", "'quizas' is not a valid boolean value"},
    {"1", TValueTypes::BOOL, false, "1", nullptr},
    {"2", TValueTypes::BOOL, false, "0", nullptr},
    {"1.0", TValueTypes::BOOL, false, "", "'1.0' is not a valid integer value"},
    {"true", TValueTypes::BOOL, false, "1", nullptr},
    {"false", TValueTypes::BOOL, false, "0", nullptr},
    {"{\"k\":\"\\u00f1\"}", TValueTypes::BOOL, false, "",
     "Cannot convert JSON value {\"k\":\"\xC3\xB1\"} input into TValueTypes.BOOL"},

    {"null", TValueTypes::INT32, true, "1", nullptr},
    {"\"42\"", TValueTypes::INT32, false, "42", nullptr},
    {"\"true\"", TValueTypes::INT32, false, "1", nullptr},
    {"\"False\"", TValueTypes::INT32, false, "0", nullptr},
    {"\"uno\"", TValueTypes::INT32, false, "", "'uno' is not a valid integer value"},
    {"\"$1F\"", TValueTypes::INT32, false, "31", nullptr},
    {"-7", TValueTypes::INT32, false, "-7", nullptr},
    {"3.5", TValueTypes::INT32, false, "", "'3.5' is not a valid integer value"},
    {"1E400", TValueTypes::INT32, false, "", "'1E400' is not a valid integer value"},
    {"2147483648", TValueTypes::INT32, false, "", "'2147483648' is not a valid integer value"},
    {"true", TValueTypes::INT32, false, "1", nullptr},
    {"[1]", TValueTypes::INT32, false, "",
     "Cannot convert JSON value [1] input into TValueTypes.INT32"},
};

TEST(ParameterValueStore, ElementsConvertByTheSlotsKind) {
  for (const TStoreCase& k : kStoreCases) {
    SCOPED_TRACE(std::string(k.Element) + " into " + TValueTypes::QualifiedName(k.Type));
    TParameterValue slot(k.Type);
    // A previous result the conversion replaces (or, on failure, keeps).
    if (k.Type == TValueTypes::WideString) slot.SetWideString("before");
    if (k.Type == TValueTypes::INT32) slot.SetInt32(1);
    if (k.Type == TValueTypes::BOOL) slot.SetBoolean(true);
    std::unique_ptr<TJSONValue> element = ParseJSON(k.Element);
    ASSERT_NE(element, nullptr);
    try {
      slot.StoreResult(std::move(element));
      ASSERT_EQ(k.Error, nullptr) << "stored without the expected error";
    } catch (const Exception& e) {
      ASSERT_NE(k.Error, nullptr) << e.Message();
      EXPECT_EQ(e.Message(), k.Error);
      EXPECT_FALSE(slot.IsNull()) << "a failed conversion leaves the slot as it was";
      continue;
    }
    EXPECT_EQ(slot.IsNull(), k.Null);
    std::string got;
    if (k.Type == TValueTypes::WideString) got = slot.GetWideString();
    if (k.Type == TValueTypes::INT32) got = std::to_string(slot.GetInt32());
    if (k.Type == TValueTypes::BOOL) got = slot.GetBoolean() ? "1" : "0";
    EXPECT_EQ(got, k.Text);
  }
}

TEST(ParameterValueStore, AJSONSlotTakesTheElementItselfAlsoANull) {
  TParameterValue slot(TValueTypes::JSON);
  GReleased = 0;
  slot.SetJSONValue(std::make_unique<TCountedString>("old"));
  slot.StoreResult(std::make_unique<TJSONNull>());
  EXPECT_EQ(GReleased, 1) << "the owned value it held goes";
  EXPECT_FALSE(slot.IsNull()) << "a held JSON null is not null";
  ASSERT_NE(slot.JSONValue(), nullptr);
  EXPECT_TRUE(slot.JSONValue()->IsNull());
  EXPECT_TRUE(slot.OwnsJSONValue());
}

TEST(ParameterValueStore, TypesWithoutAValueFormRefuseElements) {
  TParameterValue table(TValueTypes::TABLE);
  try {
    table.StoreResult(ParseJSON("1"));
    FAIL() << "no exception";
  } catch (const TValueError& e) {
    EXPECT_EQ(e.Message(), "Cannot convert JSON value 1 input into TValueTypes.TABLE");
  }
}

TEST(ParameterPlacement, BodyOnlyByTypeCodeAndTypeName) {
  struct TCase {
    std::int32_t Type;
    const char* TypeName;
    bool BodyOnly;
  };
  const TCase kCases[] = {
      {TValueTypes::WideString, "string", false}, {TValueTypes::INT32, "Integer", false},
      {TValueTypes::BOOL, "Boolean", false},      {TValueTypes::TABLE, "TDataSet", true},
      {TValueTypes::STREAM, "TStream", true},     {TValueTypes::JSON, "TDataSetList", true},
      {TValueTypes::JSON, "TJSONObject", true},   {TValueTypes::JSON, "tjsonarray", true},
      {TValueTypes::JSON, "TJSONValue", true},    {TValueTypes::JSON, "TJSONString", false},
      {TValueTypes::JSON, "tjsonnumber", false},  {TValueTypes::JSON, "", true},
  };
  TRestConnection connection;
  TRestCommand command(connection);
  for (const TCase& k : kCases) {
    const TParameter parameter(command, {"p", TParameterDirections::In, k.Type, k.TypeName}, 0);
    EXPECT_EQ(parameter.IsBodyOnly(), k.BodyOnly) << k.TypeName;
  }
}

}  // namespace
}  // namespace qvr::rest
