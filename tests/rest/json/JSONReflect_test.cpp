// Marshalled objects: exact object forms (ids, field order, every field
// kind), the JSON library's own classes, interceptors and attributes, rules,
// references, every failure message, and that failures leave nothing alive.
#include "rest/json/JSONReflect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

#include "rest/json/JSONText.h"

namespace qvr::rest {
namespace {

// Live instances of the test classes: a failed read must leave none.
std::atomic<int> GLive{0};

enum class TColor { clRed, clGreen, clBlue };

struct TPoint {
  std::int32_t X = 0;
  std::string Label;
};

}  // namespace

template <>
struct TJSONEnumTraits<TColor> {
  static constexpr const char* Name = "TColor";
  static std::vector<std::string> Names() { return {"clRed", "clGreen", "clBlue"}; }
};

template <>
struct TJSONRecordTraits<TPoint> {
  static constexpr const char* Name = "TPoint";
  static std::vector<TFieldInfo> Fields() {
    return {Field<&TPoint::X>("X"), Field<&TPoint::Label>("Label")};
  }
};

namespace {

class TCounted : public TObject {
 public:
  TCounted() { ++GLive; }
  TCounted(const TCounted&) : TObject() { ++GLive; }
  ~TCounted() override { --GLive; }
};

class TBase : public TCounted {
 public:
  std::int32_t BaseFirst = 1;
  std::string BaseSecond = "b";
};

// One field of every kind, declared after the base's.
class TNode : public TBase {
 public:
  std::int32_t Int = 0;
  std::int64_t Big = 0;
  double Real = 0;
  bool Flag = false;
  TColor Color = TColor::clRed;
  char16_t Letter = 0;
  std::string Text;
  std::unique_ptr<TNode> Child;
  std::vector<std::int32_t> Numbers;
  std::array<double, 2> Pair{};
  TPoint Point;
  std::vector<std::unique_ptr<TNode>> Children;
  void* Handle = nullptr;  // no JSON form
  std::uint8_t Set = 0;    // declared as a set: no JSON form
};

const TJSONClass<TBase> RegBase{
    "Test.TBase", {Field<&TBase::BaseFirst>("BaseFirst"), Field<&TBase::BaseSecond>("BaseSecond")}};
const TJSONClass<TNode, TBase> RegNode{
    "Test.TNode",
    {Field<&TNode::Int>("Int"), Field<&TNode::Big>("Big"), Field<&TNode::Real>("Real"),
     Field<&TNode::Flag>("Flag"), Field<&TNode::Color>("Color"), Field<&TNode::Letter>("Letter"),
     Field<&TNode::Text>("Text"), Field<&TNode::Child>("Child"), Field<&TNode::Numbers>("Numbers"),
     Field<&TNode::Pair>("Pair"), Field<&TNode::Point>("Point"),
     Field<&TNode::Children>("Children"), Field<&TNode::Handle>("Handle"),
     NoFormField<&TNode::Set>("Set", TTypeKind::tkSet, "TMySet")}};

// A class without a parameterless constructor.
class TNoDefault : public TObject {
 public:
  explicit TNoDefault(int AValue) : Value(AValue) {}
  std::int32_t Value;
};
const TJSONClass<TNoDefault> RegNoDefault{"Test.TNoDefault", {Field<&TNoDefault::Value>("Value")}};

// The shape of a dataset list: an object field written through a type
// interceptor, declared JSONOwned(False), and a JSONMarshalled(False) flag.
class TItems : public TCounted {
 public:
  std::vector<std::string> Names;
};

std::atomic<int> GInterceptors{0};

class TItemsInterceptor : public TJSONInterceptor {
 public:
  TItemsInterceptor() { ++GInterceptors; }
  ~TItemsInterceptor() override { --GInterceptors; }

  const TObject* TypeObjectConverter(const TObject& AData) override {
    auto json = std::make_unique<TJSONObject>();
    for (const std::string& n : dynamic_cast<const TItems&>(AData).Names) {
      json->AddPair(n, std::make_unique<TJSONTrue>());
    }
    FFreeObjects.push_back(std::move(json));
    return FFreeObjects.back().get();
  }

  std::unique_ptr<TObject> TypeObjectReverter(std::unique_ptr<TObject> AData) override {
    auto items = std::make_unique<TItems>();
    const auto& json = dynamic_cast<const TJSONObject&>(*AData);
    for (const TJSONPair& p : json.Members()) {
      if (p.JsonValue()->Kind() == TJSONValue::TKind::False) {
        throw EConversionError("test: false member");
      }
      items->Names.push_back(p.Name());
    }
    FFreeObjects.push_back(std::move(AData));
    return items;
  }

 private:
  std::vector<std::unique_ptr<TObject>> FFreeObjects;
};

class TBag : public TCounted {
 public:
  std::unique_ptr<TItems> FItems;
  bool FOwnsItems = true;
};

const TJSONClass<TBag> RegBag{
    "Test.TBag",
    {Field<&TBag::FItems>("FItems")
         .DeclaredType("TBag.TItems")
         .JSONReflect(TConverterType::ctTypeObject, TReverterType::rtTypeObject,
                      [] { return std::make_unique<TItemsInterceptor>(); })
         .JSONOwned(false),
     Field<&TBag::FOwnsItems>("FOwnsItems").JSONMarshalled(false)}};
const TJSONClass<TItems> RegItems{"Test.TItems", {Field<&TItems::Names>("Names")}};

// Kinds without a form inside an array or a record cannot be written.
class TBadArray : public TObject {
 public:
  std::vector<void*> Handles{nullptr};
};
const TJSONClass<TBadArray> RegBadArray{"Test.TBadArray", {Field<&TBadArray::Handles>("Handles")}};

std::string Marshal(const TObject* AObject) {
  auto doc = TJSONConverters::GetJSONMarshaler()->Marshal(AObject);
  return WriteJSON(*doc);
}

template <class T>
std::unique_ptr<T> Unmarshal(const std::string& AText) {
  auto doc = ParseJSON(AText);
  if (doc == nullptr) throw std::runtime_error("test text does not parse: " + AText);
  std::unique_ptr<TObject> object = TJSONConverters::GetJSONUnMarshaler()->Unmarshal(doc.get());
  auto* typed = dynamic_cast<T*>(object.get());
  if (typed == nullptr) throw std::runtime_error("unexpected class");
  object.release();
  return std::unique_ptr<T>(typed);
}

// Runs AText through Unmarshal and returns the failure's message, checking
// the exception class and that no test object survived.
template <class E>
std::string UnmarshalError(const std::string& AText) {
  const int liveBefore = GLive;
  auto doc = ParseJSON(AText);
  if (doc == nullptr) return "test text does not parse: " + AText;
  try {
    TJSONConverters::GetJSONUnMarshaler()->Unmarshal(doc.get());
  } catch (const E& e) {
    EXPECT_EQ(GLive, liveBefore) << "objects survived: " << AText;
    return e.Message();
  } catch (const std::exception& e) {
    return std::string("other exception: ") + e.what();
  }
  return "no error";
}

TNode MakeNode() {
  TNode n;
  n.Int = -7;
  n.Big = 9007199254740993;
  n.Real = 0.1;
  n.Flag = true;
  n.Color = TColor::clBlue;
  n.Letter = u'\u00F1';
  n.Text = "a/b\n";
  n.Child = std::make_unique<TNode>();
  n.Child->Text = "child";
  n.Numbers = {1, 2};
  n.Pair = {1.5, -2};
  n.Point = {3, "p"};
  n.Children.push_back(std::make_unique<TNode>());
  return n;
}

// An empty TNode's fields (own fields first, then the base's), used inside
// the expected documents below.
std::string EmptyNodeFields(const std::string& AText) {
  return R"("Int":0,"Big":0,"Real":0,"Flag":false,"Color":"clRed","Letter":"","Text":")" + AText +
         R"(","Child":null,"Numbers":[],"Pair":[0,0],"Point":[0,""],"Children":[],)"
         R"("BaseFirst":1,"BaseSecond":"b")";
}

TEST(JSONMarshal, WritesEveryKindInFieldOrderWithNestedIdsFirst) {
  TNode n = MakeNode();
  auto marshaller = TJSONConverters::GetJSONMarshaler();
  auto doc = marshaller->Marshal(&n);
  // Expected text derived by hand: the child is numbered 2 before the
  // element of Children (3); skipped kinds leave warnings.
  const std::string expected =
      R"({"type":"Test.TNode","id":1,"fields":{"Int":-7,"Big":9007199254740993,"Real":0.1,)"
      R"("Flag":true,"Color":"clBlue","Letter":"\u00F1","Text":"a\/b\n",)"
      R"("Child":{"type":"Test.TNode","id":2,"fields":{)" +
      EmptyNodeFields("child") +
      R"(}},"Numbers":[1,2],"Pair":[1.5,-2],"Point":[3,"p"],)"
      R"("Children":[{"type":"Test.TNode","id":3,"fields":{)" +
      EmptyNodeFields("") + R"(}}],"BaseFirst":1,"BaseSecond":"b"}})";
  EXPECT_EQ(WriteJSON(*doc), expected);
  ASSERT_EQ(marshaller->Warnings().size(), 6u);  // Handle and Set, for each of three nodes
  EXPECT_EQ(marshaller->Warnings()[0].ClassName, "TNode");
  EXPECT_EQ(marshaller->Warnings()[0].FieldName, "Handle");
  EXPECT_EQ(marshaller->Warnings()[0].TypeName, "Pointer");
  EXPECT_EQ(marshaller->Warnings()[1].TypeName, "TMySet");
  // The warnings are those of the last call, and ids restart at 1.
  TBase b;
  EXPECT_EQ(WriteJSON(*marshaller->Marshal(&b)),
            R"({"type":"Test.TBase","id":1,"fields":{"BaseFirst":1,"BaseSecond":"b"}})");
  EXPECT_TRUE(marshaller->Warnings().empty());
  EXPECT_EQ(WriteJSON(*marshaller->Marshal(nullptr)), "null");
}

TEST(JSONMarshal, RoundTripsEveryKind) {
  TNode n = MakeNode();
  const std::string text = Marshal(&n);
  auto back = Unmarshal<TNode>(text);
  EXPECT_EQ(back->Int, -7);
  EXPECT_EQ(back->Big, 9007199254740993);
  EXPECT_EQ(back->Real, 0.1);
  EXPECT_TRUE(back->Flag);
  EXPECT_EQ(back->Color, TColor::clBlue);
  EXPECT_EQ(back->Letter, u'\u00F1');
  EXPECT_EQ(back->Text, "a/b\n");
  ASSERT_NE(back->Child, nullptr);
  EXPECT_EQ(back->Child->Text, "child");
  EXPECT_EQ(back->Numbers, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(back->Pair[1], -2);
  EXPECT_EQ(back->Point.Label, "p");
  ASSERT_EQ(back->Children.size(), 1u);
  EXPECT_EQ(Marshal(back.get()), text);
}

TEST(JSONMarshal, FormatsFloatsWithFifteenDigitsAndAPoint) {
  TNode n;
  struct TCase {
    double Value;
    const char* Text;
  };
  const TCase cases[] = {{1.0 / 3.0, "0.333333333333333"}, {45000.5, "45000.5"}, {1e20, "1E20"}};
  for (const TCase& c : cases) {
    n.Real = c.Value;
    const std::string text = Marshal(&n);
    EXPECT_NE(text.find(std::string("\"Real\":") + c.Text + ","), std::string::npos) << text;
  }
}

TEST(JSONUnMarshal, ConvertsTextsToFieldKinds) {
  auto node = [](const std::string& AFields) {
    return Unmarshal<TNode>(R"({"type":"Test.TNode","id":1,"fields":{)" + AFields + "}}");
  };
  EXPECT_EQ(node(R"("Int":"-12")")->Int, -12);
  EXPECT_EQ(node(R"("Big":"-9223372036854775808")")->Big, INT64_MIN);
  EXPECT_EQ(node(R"("Real":"2.5")")->Real, 2.5);
  EXPECT_EQ(node(R"("Real":-1E3)")->Real, -1000);
  EXPECT_EQ(node(R"("Real":"+.5")")->Real, 0.5);
  EXPECT_EQ(node(R"("Real":1E-400)")->Real, 0);       // below the smallest double
  EXPECT_EQ(node(R"("Text":12.50)")->Text, "12.50");  // a number's text
  EXPECT_EQ(node(R"("Letter":"xyz")")->Letter, u'x');
  EXPECT_EQ(node(R"("Letter":"")")->Letter, 0);
  EXPECT_EQ(node(R"("Color":"clGreen")")->Color, TColor::clGreen);
  EXPECT_EQ(node(R"("Numbers":[3,"4",null])")->Numbers, (std::vector<std::int32_t>{3, 4, 0}));
  EXPECT_EQ(node(R"("Point":[9])")->Point.X, 9);
  EXPECT_EQ(node(R"("BaseSecond":"x")")->BaseSecond, "x");  // a base's field
  // null gives each kind's empty value.
  auto cleared =
      node(R"("Int":null,"Text":null,"Flag":null,"Child":null,"Numbers":null,"BaseSecond":null)");
  EXPECT_EQ(cleared->Int, 0);
  EXPECT_EQ(cleared->BaseSecond, "");
  EXPECT_TRUE(cleared->Numbers.empty());
}

TEST(JSONUnMarshal, KeepsAFieldWhoseNestedTypeIsUnknown) {
  auto doc = ParseJSON(
      R"({"type":"Test.TNode","id":1,"fields":{"Child":{"type":"Test.TGone","id":2,"fields":{}},)"
      R"("Int":4}})");
  auto unmarshaller = TJSONConverters::GetJSONUnMarshaler();
  auto object = unmarshaller->Unmarshal(doc.get());
  auto& node = dynamic_cast<TNode&>(*object);
  EXPECT_EQ(node.Child, nullptr);
  EXPECT_EQ(node.Int, 4);
  ASSERT_EQ(unmarshaller->Warnings().size(), 1u);
  EXPECT_EQ(unmarshaller->Warnings()[0].FieldName, "Child");
  EXPECT_EQ(unmarshaller->Warnings()[0].TypeName, "Test.TGone");
}

// Every failure of the table, with its class and exact message.
TEST(JSONUnMarshal, FailsWithExactMessagesAndReleasesEverything) {
  const std::string node = R"({"type":"Test.TNode","id":1,"fields":)";
  struct TCase {
    std::string Text;
    std::string Message;
  };
  const TCase conversion[] = {
      {R"({"type":"Test.TNoDefault","id":1,"fields":{}})",
       "Internal: Cannot instantiate type Test.TNoDefault"},
      {R"({"type":"Test.TNode","fields":{}})",
       R"(Internal: Invalid pair name {"type":"Test.TNode","fields":{}}: expected type or ref)"},
      {node + R"({"Child":{"type":"Test.TNode","ref":7}}})",
       "Internal: Object type Test.TNode not found for id: 7"},
      {node + R"({"Child":{"type":"Test.TNode","id":2,"fields":{"Text":"x","Nope":1}}}})",
       "Internal: Field Nope cannot be found in type TNode"},
      {node + R"({"Text":"x","Child":{"type":"Test.TNode","id":2,"fields":{"Int":[1]}}}})",
       "Cannot set value for field Int as it is expected to be an array instead of Integer"},
      {node + R"({"Handle":"1"}})",
       "Internal: Value 1 cannot be converted to be assigned to field Handle in type TNode"},
      {node + R"({"Child":"x"}})",
       "Internal: Value x cannot be converted to be assigned to field Child in type TNode"},
      {node + R"({"Color":"clPink"}})",
       "Internal: Value clPink cannot be converted to be assigned to field Color in type TNode"},
      {node + R"({"Child":{"type":"Test.TBase","id":2,"fields":{}}}})",
       R"(Internal: Value {"type":"Test.TBase","id":2,"fields":{}} cannot be converted to be )"
       R"(assigned to field Child in type TNode)"},
      {node + R"({"Pair":[1,2,3]}})",
       "Internal: Array [1,2,3] does not fit field Pair of type array[0..1] of Double"},
      // A cycle cannot be read into fields that own their objects.
      {node + R"({"Child":{"type":"Test.TNode","ref":1}}})",
       "Internal: Object type Test.TNode not found for id: 1"},
      // Malformed forms.
      {R"({"id":1,"fields":{}})",
       R"(Internal: Invalid object form {"id":1,"fields":{}}: member type missing or of the )"
       R"(wrong type)"},
      {R"({"type":"Test.TNode","id":1,"fields":[]})",
       R"(Internal: Invalid object form {"type":"Test.TNode","id":1,"fields":[]}: member fields )"
       R"(missing or of the wrong type)"},
      // A field kept out of the form is not read either.
      {R"({"type":"Test.TBag","id":1,"fields":{"FOwnsItems":false}})",
       "Internal: Field FOwnsItems cannot be found in type TBag"},
  };
  for (const TCase& c : conversion) {
    EXPECT_EQ(UnmarshalError<EConversionError>(c.Text), c.Message) << c.Text;
  }
  const TCase convert[] = {
      {node + R"({"Child":{"type":"Test.TNode","id":2,"fields":{"Int":"x1"}}}})",
       "'x1' is not a valid integer value"},
      {node + R"({"Int":2147483648}})", "'2147483648' is not a valid integer value"},
      {node + R"({"Int":"1e3"}})", "'1e3' is not a valid integer value"},
      {node + R"({"Real":"1,5"}})", "'1,5' is not a valid floating point value"},
      {node + R"({"Real":"NaN"}})", "'NaN' is not a valid floating point value"},
      {node + R"({"Real":"1e999"}})", "'1e999' is not a valid floating point value"},
      {node + R"({"Real":-1e999}})", "'-1e999' is not a valid floating point value"},
      {node + R"({"Int":1E400}})", "'1E400' is not a valid integer value"},
      {node + R"({"Real":" 1"}})", "' 1' is not a valid floating point value"},
  };
  for (const TCase& c : convert) {
    EXPECT_EQ(UnmarshalError<EConvertError>(c.Text), c.Message) << c.Text;
  }
  EXPECT_EQ(GLive, 0);
}

TEST(JSONMarshal, FailsForValuesWithoutAForm) {
  class TLocal : public TObject {};  // not registered
  TLocal local;
  try {
    TJSONConverters::GetJSONMarshaler()->Marshal(&local);
    ADD_FAILURE();
  } catch (const EConversionError& e) {
    EXPECT_NE(e.Message().find("is not currently supported"), std::string::npos);
  }
  TBadArray bad;
  try {
    TJSONConverters::GetJSONMarshaler()->Marshal(&bad);
    ADD_FAILURE();
  } catch (const EConversionError& e) {
    EXPECT_EQ(e.Message(), "Internal: Type tkPointer is not currently supported");
  }
  TNode n;
  n.Color = static_cast<TColor>(9);
  EXPECT_THROW(TJSONConverters::GetJSONMarshaler()->Marshal(&n), EConversionError);
  n.Color = TColor::clRed;
  n.Real = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(TJSONConverters::GetJSONMarshaler()->Marshal(&n), EConvertError);
}

// ---------------------------------------------------------------------------
// Interceptors and attributes

TEST(JSONInterceptors, WriteAndReadAnObjectFieldThroughATypeInterceptor) {
  TBag bag;
  bag.FItems = std::make_unique<TItems>();
  bag.FItems->Names = {"a", "b", "a"};
  bag.FOwnsItems = false;
  const std::string text = Marshal(&bag);
  // FOwnsItems is never written; the interceptor's object is written by the
  // general rules, with its pairs and their strings.
  EXPECT_EQ(text,
            R"({"type":"Test.TBag","id":1,"fields":{"FItems":{"type":"System.JSON.TJSONObject",)"
            R"("id":2,"fields":{"FMembers":[)"
            R"({"type":"System.JSON.TJSONPair","id":3,"fields":{"FJsonString":{"type":)"
            R"("System.JSON.TJSONString","id":4,"fields":{"FValue":"a","FIsNull":false,)"
            R"("FOwned":true}},"FJsonValue":{"type":"System.JSON.TJSONTrue","id":5,"fields":)"
            R"({"FOwned":true}},"FOwned":true}},)"
            R"({"type":"System.JSON.TJSONPair","id":6,"fields":{"FJsonString":{"type":)"
            R"("System.JSON.TJSONString","id":7,"fields":{"FValue":"b","FIsNull":false,)"
            R"("FOwned":true}},"FJsonValue":{"type":"System.JSON.TJSONTrue","id":8,"fields":)"
            R"({"FOwned":true}},"FOwned":true}},)"
            R"({"type":"System.JSON.TJSONPair","id":9,"fields":{"FJsonString":{"type":)"
            R"("System.JSON.TJSONString","id":10,"fields":{"FValue":"a","FIsNull":false,)"
            R"("FOwned":true}},"FJsonValue":{"type":"System.JSON.TJSONTrue","id":11,"fields":)"
            R"({"FOwned":true}},"FOwned":true}}],"FOwned":true}}}})");
  EXPECT_EQ(GInterceptors, 0);
  auto back = Unmarshal<TBag>(text);
  ASSERT_NE(back->FItems, nullptr);
  EXPECT_EQ(back->FItems->Names, (std::vector<std::string>{"a", "b", "a"}));
  EXPECT_TRUE(back->FOwnsItems);  // the constructor's value
  EXPECT_EQ(GInterceptors, 0);
  // null reads as no object.
  EXPECT_EQ(Unmarshal<TBag>(R"({"type":"Test.TBag","id":1,"fields":{"FItems":null}})")->FItems,
            nullptr);
}

TEST(JSONInterceptors, FailuresNameTheDeclaredTypeAndLeaveNothing) {
  TBag empty;
  try {
    TJSONConverters::GetJSONMarshaler()->Marshal(&empty);
    ADD_FAILURE();
  } catch (const EConversionError& e) {
    EXPECT_EQ(e.Message(),
              "Field attribute should provide a field interceptor instead of a type one on field "
              "TBag.TItems");
  }
  EXPECT_EQ(GInterceptors, 0);
  EXPECT_EQ(
      UnmarshalError<EConversionError>(R"({"type":"Test.TBag","id":1,"fields":{"FItems":5}})"),
      "JSON object expected for field FItems in JSON 5");
  // The interceptor fails while it holds the JSON object it was handed.
  const std::string failing =
      R"({"type":"Test.TBag","id":1,"fields":{"FItems":{"type":"System.JSON.TJSONObject","id":2,)"
      R"("fields":{"FMembers":[{"type":"System.JSON.TJSONPair","id":3,"fields":{"FJsonString":)"
      R"({"type":"System.JSON.TJSONString","id":4,"fields":{"FValue":"a","FIsNull":false}},)"
      R"("FJsonValue":{"type":"System.JSON.TJSONFalse","id":5,"fields":{}}}}]}}}})";
  EXPECT_EQ(UnmarshalError<EConversionError>(failing), "test: false member");
  EXPECT_EQ(GInterceptors, 0);
}

// ---------------------------------------------------------------------------
// The JSON library's classes in object form

TEST(JSONLibraryForms, MarshalExactlyAndRoundTrip) {
  TJSONObject o;
  o.AddPair("N", std::make_unique<TJSONString>("B"));
  const std::string text = Marshal(&o);
  EXPECT_EQ(text,
            R"({"type":"System.JSON.TJSONObject","id":1,"fields":{"FMembers":[)"
            R"({"type":"System.JSON.TJSONPair","id":2,"fields":{)"
            R"("FJsonString":{"type":"System.JSON.TJSONString","id":3,"fields":{"FValue":"N",)"
            R"("FIsNull":false,"FOwned":true}},)"
            R"("FJsonValue":{"type":"System.JSON.TJSONString","id":4,"fields":{"FValue":"B",)"
            R"("FIsNull":false,"FOwned":true}},"FOwned":true}}],"FOwned":true}})");
  auto back = Unmarshal<TJSONObject>(text);
  EXPECT_EQ(WriteJSON(*back), R"({"N":"B"})");

  TJSONArray a;
  a.Add(std::make_unique<TJSONNumber>(std::string("1.50")))
      .Add(std::make_unique<TJSONNull>())
      .Add(std::make_unique<TJSONString>())
      .Add(std::make_unique<TJSONFalse>())
      .Add(std::make_unique<TJSONArray>());
  const std::string arrayText = Marshal(&a);
  EXPECT_EQ(arrayText,
            R"({"type":"System.JSON.TJSONArray","id":1,"fields":{"FElements":[)"
            R"({"type":"System.JSON.TJSONNumber","id":2,"fields":{"FValue":"1.50","FIsNull":false,)"
            R"("FOwned":true}},{"type":"System.JSON.TJSONNull","id":3,"fields":{"FOwned":true}},)"
            R"({"type":"System.JSON.TJSONString","id":4,"fields":{"FValue":"","FIsNull":true,)"
            R"("FOwned":true}},{"type":"System.JSON.TJSONFalse","id":5,"fields":{"FOwned":true}},)"
            R"({"type":"System.JSON.TJSONArray","id":6,"fields":{"FElements":[],"FOwned":true}}],)"
            R"("FOwned":true}})");
  auto arrayBack = Unmarshal<TJSONArray>(arrayText);
  EXPECT_EQ(WriteJSON(*arrayBack), R"([1.50,null,null,false,[]])");
  EXPECT_EQ(arrayBack->Items(0)->Kind(), TJSONValue::TKind::Number);
}

// Reading a document the call may take apart gives what reading it whole
// gives: long texts move out of it, except where a reference form will read
// a form again.
TEST(JSONLibraryForms, TakingTheDocumentReadsTheSame) {
  const std::string longText(5000, 'x');
  auto stringForm = [](int AId, const std::string& AText) {
    return R"({"type":"System.JSON.TJSONString","id":)" + std::to_string(AId) +
           R"(,"fields":{"FValue":")" + AText + R"(","FIsNull":false,"FOwned":true}})";
  };
  auto pairForm = [&](int AId, const std::string& AName, const std::string& AValueForm) {
    return R"({"type":"System.JSON.TJSONPair","id":)" + std::to_string(AId) +
           R"(,"fields":{"FJsonString":)" + stringForm(AId + 1, AName) + R"(,"FJsonValue":)" +
           AValueForm + R"(,"FOwned":true}})";
  };
  auto objectForm = [](const std::string& APairs) {
    return R"({"type":"System.JSON.TJSONObject","id":1,"fields":{"FMembers":[)" + APairs +
           R"(],"FOwned":true}})";
  };
  const std::string documents[] = {
      objectForm(pairForm(2, "a", stringForm(4, longText)) + "," +
                 pairForm(5, "b", stringForm(7, "short"))),
      // The second value names the first, whose long text must stay.
      objectForm(pairForm(2, "a", stringForm(4, longText)) + "," +
                 pairForm(5, "b", R"({"type":"System.JSON.TJSONString","ref":4})")),
  };
  for (const std::string& text : documents) {
    const std::string whole = WriteJSON(*Unmarshal<TJSONObject>(text));
    EXPECT_NE(std::string::npos, whole.find(longText));
    std::unique_ptr<TObject> taken =
        TJSONConverters::GetJSONUnMarshaler()->UnmarshalTaking(ParseJSON(text));
    ASSERT_NE(nullptr, dynamic_cast<TJSONObject*>(taken.get()));
    EXPECT_EQ(whole, WriteJSON(*static_cast<TJSONObject*>(taken.get())));
  }
  EXPECT_THROW(TJSONConverters::GetJSONUnMarshaler()->UnmarshalTaking(nullptr), EConversionError);
}

TEST(JSONLibraryForms, ReadsStringBuilderTextsAndReferences) {
  const std::string pair =
      R"({"type":"System.JSON.TJSONObject","id":1,"fields":{"FMembers":[{"type":)"
      R"("System.JSON.TJSONPair","id":2,"fields":{"FJsonString":{"type":"System.JSON.TJSONString",)"
      R"("id":3,"fields":{"FStrBuffer":{"type":"System.SysUtils.TStringBuilder","id":4,"fields":)"
      R"({"FData":"name\/1","FLength":6,"FMaxCapacity":2147483647}}}},)"
      R"("FJsonValue":{"type":"System.JSON.TJSONString","id":5,"fields":{"FValue":"v",)"
      R"("FIsNull":false,"FOwned":true}},"FOwned":true}},)"
      // The second pair's value is a reference to the first pair's value.
      R"({"type":"System.JSON.TJSONPair","id":6,"fields":{"FJsonString":{"type":)"
      R"("System.JSON.TJSONString","id":7,"fields":{"FValue":"again","FIsNull":false}},)"
      R"("FJsonValue":{"type":"System.JSON.TJSONString","ref":5}}}],"FOwned":true}})";
  auto object = Unmarshal<TJSONObject>(pair);
  EXPECT_EQ(WriteJSON(*object), R"({"name\/1":"v","again":"v"})");
  // A reference reads as a copy: each pair owns its own value.
  EXPECT_NE(object->Pairs(0).JsonValue(), object->Pairs(1).JsonValue());

  struct TCase {
    std::string Fields;
    std::string Message;
  };
  const TCase cases[] = {
      {R"({"FStrBuffer":null})", "JSON object expected for field FStrBuffer in JSON null"},
      {R"({"FStrBuffer":"x"})", R"(JSON object expected for field FStrBuffer in JSON "x")"},
      {R"({"FStrBuffer":{"type":"System.SysUtils.TStringBuilder","id":2,"fields":{"FData":[]}}})",
       "JSON object expected for field FData in JSON []"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(UnmarshalError<EConversionError>(
                  R"({"type":"System.JSON.TJSONString","id":1,"fields":)" + c.Fields + "}"),
              c.Message);
  }
  EXPECT_EQ(UnmarshalError<EConversionError>(
                R"({"type":"System.JSON.TJSONObject","id":1,"fields":{"FMembers":{}}})"),
            "JSON array expected for field FMembers in JSON {}");
  EXPECT_EQ(UnmarshalError<EConversionError>(
                R"({"type":"System.JSON.TJSONArray","id":1,"fields":{"FElements":"x"}})"),
            R"(JSON array expected for field FElements in JSON "x")");
  // FData also takes null as the empty text.
  auto builder = Unmarshal<TStringBuilder>(
      R"({"type":"System.SysUtils.TStringBuilder","id":1,"fields":{"FData":null}})");
  EXPECT_EQ(builder->ToString(), "");
  // FMembers null gives no members.
  EXPECT_EQ(WriteJSON(*Unmarshal<TJSONObject>(
                R"({"type":"System.JSON.TJSONObject","id":1,"fields":{"FMembers":null}})")),
            "{}");
}

TEST(JSONLibraryForms, ReferencesCannotMultiplyTheDocument) {
  // Each level refers twice to the one before: copying would double per
  // level. Reading stops once copies exceed the size of the document.
  std::string text = R"({"type":"System.JSON.TJSONArray","id":1,"fields":{"FElements":[)";
  text += R"({"type":"System.JSON.TJSONString","id":2,"fields":{"FValue":")" +
          std::string(1000, 'x') + R"("}})";
  for (int level = 3; level < 40; ++level) {
    text += R"(,{"type":"System.JSON.TJSONArray","id":)" + std::to_string(level) +
            R"(,"fields":{"FElements":[{"type":"System.JSON.TJSONArray","ref":)" +
            std::to_string(level - 1) + R"(},{"type":"System.JSON.TJSONArray","ref":)" +
            std::to_string(level - 1) + "}]}}";
  }
  text += "]}}";
  const std::string message = UnmarshalError<EConversionError>(text);
  EXPECT_NE(message.find("copy more than the document holds"), std::string::npos) << message;
}

// ---------------------------------------------------------------------------
// Rules and registries

TEST(JSONRules, NearestClassRuleWinsAndOwnRegistriesStayApart) {
  auto registry = std::make_shared<TConverterRegistry>();
  TJSONMarshal marshaller(registry);
  TConverterEvent baseRule;
  baseRule.ConverterType = TConverterType::ctString;
  baseRule.StringConverter = [](const TObject&, const std::string&) { return "from base rule"; };
  marshaller.RegisterConverter("Test.TBase", "BaseSecond", baseRule);
  TConverterEvent nodeRule = baseRule;
  nodeRule.StringConverter = [](const TObject&, const std::string&) { return "from node rule"; };
  marshaller.RegisterConverter("Test.TNode", "BaseSecond", nodeRule);
  TBase base;
  EXPECT_EQ(
      WriteJSON(*marshaller.Marshal(&base)),
      R"({"type":"Test.TBase","id":1,"fields":{"BaseFirst":1,"BaseSecond":"from base rule"}})");
  TNode node;
  EXPECT_NE(WriteJSON(*marshaller.Marshal(&node)).find(R"("BaseSecond":"from node rule")"),
            std::string::npos);
  // The process-wide registry never saw these rules.
  EXPECT_EQ(Marshal(&base),
            R"({"type":"Test.TBase","id":1,"fields":{"BaseFirst":1,"BaseSecond":"b"}})");
  // Without the default rules the JSON classes' lists are skipped with a
  // warning.
  TJSONObject o;
  EXPECT_EQ(WriteJSON(*marshaller.Marshal(&o)),
            R"({"type":"System.JSON.TJSONObject","id":1,"fields":{"FOwned":true}})");
  EXPECT_EQ(marshaller.Warnings().size(), 1u);
}

TEST(JSONRules, ReferenceFormWrittenForAnObjectMetTwice) {
  TJSONMarshal marshaller;
  TConverterEvent twice;
  twice.ConverterType = TConverterType::ctObjects;
  twice.ObjectsConverter = [](const TObject& AData, const std::string&) {
    const TObject* child = dynamic_cast<const TNode&>(AData).Child.get();
    return std::vector<const TObject*>{child, child};
  };
  marshaller.RegisterConverter("Test.TNode", "Children", twice);
  TNode node;
  node.Child = std::make_unique<TNode>();
  const std::string text = WriteJSON(*marshaller.Marshal(&node));
  EXPECT_NE(
      text.find(R"("Children":[{"type":"Test.TNode","ref":2},{"type":"Test.TNode","ref":2}])"),
      std::string::npos)
      << text;
}

TEST(JSONRules, ProcessRegistriesServeManyThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&good] {
      for (int i = 0; i < 50; ++i) {
        TJSONObject o;
        o.AddPair("k", std::make_unique<TJSONString>("v"));
        auto doc = TJSONConverters::GetJSONMarshaler()->Marshal(&o);
        auto back = TJSONConverters::GetJSONUnMarshaler()->Unmarshal(doc.get());
        if (WriteJSON(dynamic_cast<TJSONObject&>(*back)) == R"({"k":"v"})") ++good;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good, 200);
}

}  // namespace
}  // namespace qvr::rest
