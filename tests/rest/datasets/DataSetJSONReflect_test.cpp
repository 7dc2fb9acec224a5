// Dataset lists: the list's operations and ownership, the interceptor's
// class functions (blob layers, skipped members, failures that leave nothing
// behind), and the marshalled document with its exact shape and ids.
#include "rest/datasets/DataSetJSONReflect.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "data/BinStorage.h"
#include "data/DataSetSamples.h"
#include "platform/Base64Encoding.h"
#include "rest/datasets/DocumentBlobs.h"
#include "rest/datasets/ZLibStreams.h"
#include "rest/json/JSONText.h"

namespace qvr::rest {
namespace {

using data::TAdaptedDataSet;
using data::TFieldType;
using data::TMemTable;

std::unique_ptr<TMemTable> SmallTable(const std::string& AName, int ARows) {
  auto t = std::make_unique<TMemTable>();
  t->FieldDefs().Add("ID", TFieldType::ftInteger);
  t->FieldDefs().Add("Nombre", TFieldType::ftString);
  t->CreateDataSet();
  for (int i = 0; i < ARows; ++i) t->AppendRecord({i, AName + std::to_string(i)});
  return t;
}

void ExpectSameTable(TAdaptedDataSet& AExpected, TAdaptedDataSet& AActual) {
  ASSERT_EQ(AExpected.ColumnDefs(), AActual.ColumnDefs());
  ASSERT_EQ(AExpected.RecordCount(), AActual.RecordCount());
  for (int r = 0; r < AExpected.RecordCount(); ++r) {
    for (int c = 0; c < AExpected.FieldCount(); ++c) {
      EXPECT_EQ(AExpected.Value(r, c), AActual.Value(r, c)) << "row " << r << " column " << c;
    }
  }
}

// The blob text of raw storage bytes, as a server would build it.
std::string BlobOfBytes(std::string_view AStorage) {
  return TBase64Encoding::Base64().Encode(ZCompress(AStorage));
}

// --- The list and its ownership -----------------------------------------------

TEST(DataSetList, StartsAbsentAndOwning) {
  TDataSetList list;
  EXPECT_EQ(nullptr, list.DataSets());
  EXPECT_TRUE(list.OwnsDataSets());
  EXPECT_EQ(0, list.Count());
  EXPECT_TRUE(list.Names().empty());
}

TEST(DataSetList, AddKeepsOrderAndSameNames) {
  TDataSetList list;
  list.AddDataSet("Relojes", SmallTable("r", 1));
  ASSERT_NE(nullptr, list.DataSets());  // created on first use
  list.AddDataSet("Empresas", SmallTable("e", 2));
  list.AddDataSet("Relojes", SmallTable("x", 3));
  EXPECT_EQ((std::vector<std::string>{"Relojes", "Empresas", "Relojes"}), list.Names());
  EXPECT_EQ(3, list.DataSet(2).RecordCount());
  EXPECT_EQ(1, list.FindDataSet("Relojes")->RecordCount());  // the first of the name
  EXPECT_EQ(nullptr, list.FindDataSet("relojes"));
  EXPECT_THROW(list.DataSet(3), EArgumentOutOfRangeException);
}

TEST(DataSetList, OwnershipFlagDecidesWhichEntriesItTakes) {
  TMemTable mine;
  mine.FieldDefs().Add("A", TFieldType::ftInteger);
  mine.Open();
  {
    TDataSetList owning;
    EXPECT_THROW(owning.AddDataSet("Mine", mine), EDataSetListError);
    TDataSetList borrowing;
    borrowing.SetOwnsDataSets(false);
    borrowing.AddDataSet("Mine", mine);
    EXPECT_FALSE(borrowing.DataSets()->OwnsItem(0));
    EXPECT_THROW(borrowing.AddDataSet("T", SmallTable("t", 1)), EDataSetListError);
    EXPECT_THROW(borrowing.SetOwnsDataSets(true), EDataSetListError);
    EXPECT_THROW(borrowing.ExtractDataSets(), EDataSetListError);
  }
  // The borrowing list left the caller's dataset alone (ASan would report a
  // double release otherwise).
  EXPECT_TRUE(mine.Active());

  TDataSetList owning;
  owning.AddDataSet("A", SmallTable("a", 1));
  owning.AddDataSet("B", SmallTable("b", 2));
  EXPECT_THROW(owning.SetOwnsDataSets(false), EDataSetListError);
  auto taken = owning.ExtractDataSets();
  ASSERT_EQ(2u, taken.size());
  EXPECT_EQ("B", taken[1].first);
  EXPECT_EQ(2, taken[1].second->RecordCount());
  EXPECT_EQ(0, owning.Count());
  owning.SetOwnsDataSets(false);  // empty now: allowed
}

TEST(DataSetList, OwningListReleasesDatasetsFirstToLast) {
  std::vector<std::string> released;
  struct TTracked : TMemTable {
    TTracked(std::vector<std::string>& ALog, std::string AName)
        : Log(ALog), Name(std::move(AName)) {}
    ~TTracked() override { Log.push_back(Name); }
    std::vector<std::string>& Log;
    std::string Name;
  };
  {
    TDataSetList list;
    list.AddDataSet("1", std::make_unique<TTracked>(released, "first"));
    list.AddDataSet("2", std::make_unique<TTracked>(released, "second"));
    list.AddDataSet("3", std::make_unique<TTracked>(released, "third"));
  }
  EXPECT_EQ((std::vector<std::string>{"first", "second", "third"}), released);
}

// --- Class functions ---------------------------------------------------------------

TEST(DataSetListInterceptor, ItemListToJSONObjectWritesOneBlobStringPerPair) {
  TDataSetList list;
  list.AddDataSet("Personal", test::MakeEveryTypeTable());
  list.AddDataSet("Relojes", SmallTable("r", 3));
  TJSONObject object;
  EXPECT_TRUE(TDataSetListInterceptor::ItemListToJSONObject(list.DataSets(), object));
  ASSERT_EQ(2u, object.Count());
  EXPECT_EQ("Personal", object.Pairs(0).Name());
  EXPECT_EQ("Relojes", object.Pairs(1).Name());
  for (std::size_t i = 0; i < 2; ++i) {
    const TJSONString* blob = object.Pairs(i).JsonValue()->AsString();
    ASSERT_NE(nullptr, blob);
    EXPECT_EQ(TJSONValue::TKind::String, blob->Kind());
    EXPECT_EQ("eJ", blob->Value().substr(0, 2));
    // The blob is exactly the three layers over the storage bytes.
    auto decoded = TDataSetListInterceptor::BlobToDataSet(blob->Value());
    ExpectSameTable(list.DataSet(static_cast<int>(i)), *decoded);
    EXPECT_EQ(BlobOfBytes(data::TBinStorage::SaveToBytes(list.DataSet(static_cast<int>(i)))),
              blob->Value());
  }
}

TEST(DataSetListInterceptor, AbsentOrEmptyListGivesFalse) {
  TJSONObject object;
  EXPECT_FALSE(TDataSetListInterceptor::ItemListToJSONObject(nullptr, object));
  TDataSetList list;
  EXPECT_FALSE(TDataSetListInterceptor::DataSetsToJSONObject(list, object));
  TDataSetListBase::TItemList empty;
  EXPECT_FALSE(TDataSetListInterceptor::ItemListToJSONObject(&empty, object));
  EXPECT_EQ(0u, object.Count());
}

TEST(DataSetListInterceptor, ClosedDatasetIsOpenedAndClosedAgainOpenOneStaysOpen) {
  TDataSetList list;
  auto closed = SmallTable("c", 2);
  closed->Close();
  TAdaptedDataSet* closedPtr = closed.get();
  list.AddDataSet("Closed", std::move(closed));
  list.AddDataSet("Open", SmallTable("o", 1));
  TJSONObject object;
  TDataSetListInterceptor::ItemListToJSONObject(list.DataSets(), object);
  EXPECT_FALSE(closedPtr->Active());
  EXPECT_TRUE(list.DataSet(1).Active());
  auto back =
      TDataSetListInterceptor::BlobToDataSet(object.Pairs(0).JsonValue()->AsString()->Value());
  EXPECT_EQ(2, back->RecordCount());  // the rows of the closed table were written
}

TEST(DataSetListInterceptor, FailureWhileWritingLeavesEachDatasetAsItWas) {
  TDataSetList list;
  auto a = SmallTable("a", 1);
  a->Close();
  TAdaptedDataSet* aPtr = a.get();
  list.AddDataSet("A", std::move(a));
  list.AddDataSet("B", SmallTable("b", 1));
  auto failing = SmallTable("c", 1);
  failing->Close();
  failing->SetBeforeOpen([](TAdaptedDataSet&) { throw data::EDataSetError("cannot open"); });
  TAdaptedDataSet* failingPtr = failing.get();
  list.AddDataSet("C", std::move(failing));
  // A name the binary storage cannot hold makes saving fail after opening.
  auto tooLong = std::make_unique<TMemTable>();
  tooLong->FieldDefs().Add(std::string(40000, 'n'), TFieldType::ftInteger);
  tooLong->CreateDataSet();
  tooLong->Close();
  TAdaptedDataSet* tooLongPtr = tooLong.get();

  TJSONObject object;
  try {
    TDataSetListInterceptor::ItemListToJSONObject(list.DataSets(), object);
    FAIL() << "no exception";
  } catch (const data::EDataSetError& e) {
    EXPECT_STREQ("cannot open", e.what());  // propagated unchanged
  }
  EXPECT_FALSE(aPtr->Active());
  EXPECT_TRUE(list.DataSet(1).Active());
  EXPECT_FALSE(failingPtr->Active());

  TDataSetList second;
  second.AddDataSet("Long", std::move(tooLong));
  EXPECT_THROW(TDataSetListInterceptor::ItemListToJSONObject(second.DataSets(), object),
               data::EDataSetError);
  EXPECT_FALSE(tooLongPtr->Active());
}

TEST(DataSetListInterceptor, ReadingSkipsNonStringMembersAndKeepsSameNamesInOrder) {
  TJSONObject object;
  object.AddPair("Uno", BlobOfBytes(data::TBinStorage::SaveToBytes(*SmallTable("u", 1))));
  object.AddPair("Verdad", std::make_unique<TJSONTrue>());
  object.AddPair("Nada", std::make_unique<TJSONNull>());
  object.AddPair("Objeto", std::make_unique<TJSONObject>());
  object.AddPair("Lista", std::make_unique<TJSONArray>());
  object.AddPair("Uno", BlobOfBytes(data::TBinStorage::SaveToBytes(*SmallTable("d", 2))));
  TDataSetListBase::TItemList list;
  EXPECT_TRUE(TDataSetListInterceptor::JSONObjectToItemList(object, list));
  ASSERT_EQ(2, list.Count());
  EXPECT_EQ("Uno", list[0].Key);
  EXPECT_EQ("Uno", list[1].Key);
  EXPECT_EQ(1, list[0].Value->RecordCount());
  EXPECT_EQ(2, list[1].Value->RecordCount());
  EXPECT_TRUE(list.OwnsItem(0));
  EXPECT_NE(nullptr, dynamic_cast<TMemTable*>(list[1].Value));
}

TEST(DataSetListInterceptor, BlobTextWithoutBreaksOrWithSpacesReadsTheSame) {
  auto table = test::MakeMixedTable(200);
  const std::string blob = TDataSetListInterceptor::DataSetToBlob(*table);
  ASSERT_NE(std::string::npos, blob.find("\r\n"));
  std::string noBreaks, spaced;
  for (char c : blob) {
    if (c == '\r' || c == '\n') continue;
    noBreaks += c;
    spaced += c;
    spaced += ' ';
  }
  ExpectSameTable(*table, *TDataSetListInterceptor::BlobToDataSet(noBreaks));
  ExpectSameTable(*table, *TDataSetListInterceptor::BlobToDataSet(spaced));
}

TEST(DataSetListInterceptor, BlobEndsAsBase64LineRulesSay) {
  // Blobs whose compressed bytes are 57 and 58 long (found by growing a text
  // column): 78 characters ending in CR LF, and 82 ending in "==".
  auto compressedSize = [](int AChars) {
    TMemTable t;
    t.FieldDefs().Add("S", TFieldType::ftString);
    t.CreateDataSet();
    std::string s;
    for (int i = 0; i < AChars; ++i) s += static_cast<char>('a' + (i * 7919) % 26);
    t.AppendRecord({s});
    return std::make_pair(ZCompress(data::TBinStorage::SaveToBytes(t)).size(),
                          TDataSetListInterceptor::DataSetToBlob(t));
  };
  bool saw57 = false, saw58 = false;
  for (int n = 0; n < 200 && !(saw57 && saw58); ++n) {
    auto [size, blob] = compressedSize(n);
    if (size == 57) {
      saw57 = true;
      EXPECT_EQ(78u, blob.size());
      EXPECT_EQ("\r\n", blob.substr(76));
    }
    if (size == 58) {
      saw58 = true;
      EXPECT_EQ(82u, blob.size());
      EXPECT_EQ("\r\n", blob.substr(76, 2));
      EXPECT_EQ("==", blob.substr(80));
    }
  }
  EXPECT_TRUE(saw57);
  EXPECT_TRUE(saw58);
}

// Failures while reading: the error, and nothing decoded survives (the list
// stays as it was; AddressSanitizer checks that nothing leaks).
TEST(DataSetListInterceptor, ReadingFailuresTable) {
  const std::string good = BlobOfBytes(data::TBinStorage::SaveToBytes(*SmallTable("g", 2)));
  std::string corruptZlib = TBase64Encoding::Base64().Decode(good);
  corruptZlib[corruptZlib.size() / 2] ^= 0x5A;
  struct Case {
    const char* What;
    std::unique_ptr<TJSONValue> Value;
    const char* Message;
  };
  std::vector<Case> cases;
  cases.push_back(
      {"not zlib", std::make_unique<TJSONString>("aGVsbG8gd29ybGQ="), "incorrect header check"});
  cases.push_back(
      {"cut zlib", std::make_unique<TJSONString>(good.substr(0, good.size() / 2)), "buffer error"});
  cases.push_back({"empty blob", std::make_unique<TJSONString>(""), "buffer error"});
  cases.push_back({"a number is read as a string",
                   std::make_unique<TJSONNumber>(std::int64_t{12345}),
                   "unknown compression method"});
  cases.push_back({"corrupt deflate data",
                   std::make_unique<TJSONString>(TBase64Encoding::Base64().Encode(corruptZlib)),
                   nullptr});
  cases.push_back({"storage shorter than 12 bytes",
                   std::make_unique<TJSONString>(BlobOfBytes("BTBL")),
                   "Invalid binary storage format"});
  cases.push_back({"another magic",
                   std::make_unique<TJSONString>(BlobOfBytes("XTBL\x10\0\0\0\x0c\0\0\0")),
                   "Invalid binary storage format"});
  for (auto& c : cases) {
    SCOPED_TRACE(c.What);
    TJSONObject object;
    object.AddPair("First", good);
    object.AddPair("Bad", std::move(c.Value));
    TDataSetListBase::TItemList list;
    list.Add("Before", SmallTable("b", 1));
    try {
      TDataSetListInterceptor::JSONObjectToItemList(object, list);
      ADD_FAILURE() << "no exception";
    } catch (const EZDecompressionError& e) {
      if (c.Message != nullptr) {
        EXPECT_STREQ(c.Message, e.what());
      }
    } catch (const data::EStorageError& e) {
      EXPECT_STREQ(c.Message, e.what());
      EXPECT_EQ(710, e.ErrorCode());
    }
    ASSERT_EQ(1, list.Count());
    EXPECT_EQ("Before", list[0].Key);
  }
}

TEST(DataSetListInterceptor, JSONObjectToDataSetsInstallsAnOwnedList) {
  TJSONObject object;
  object.AddPair("T", BlobOfBytes(data::TBinStorage::SaveToBytes(*SmallTable("t", 4))));
  TMemTable outside;
  TDataSetList list;
  list.SetOwnsDataSets(false);
  list.AddDataSet("Outside", outside);
  EXPECT_TRUE(TDataSetListInterceptor::JSONObjectToDataSets(object, list));
  EXPECT_TRUE(list.OwnsDataSets());
  EXPECT_EQ((std::vector<std::string>{"T"}), list.Names());
  EXPECT_EQ(4, list.DataSet(0).RecordCount());
}

TEST(DataSetListInterceptor, ReverterKeepsTheObjectItIsHandedAndRefusesOtherKinds) {
  TDataSetListInterceptor interceptor;
  auto object = std::make_unique<TJSONObject>();
  object->AddPair("T", BlobOfBytes(data::TBinStorage::SaveToBytes(*SmallTable("t", 1))));
  auto result = interceptor.TypeObjectReverter(std::move(object));
  auto* list = dynamic_cast<TDataSetListBase::TItemList*>(result.get());
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(1, list->Count());
  EXPECT_THROW(interceptor.TypeObjectReverter(std::make_unique<TJSONArray>()), EConversionError);

  auto bad = std::make_unique<TJSONObject>();
  bad->AddPair("T", "not a blob");
  EXPECT_THROW(interceptor.TypeObjectReverter(std::move(bad)), EZDecompressionError);
}

// --- The marshalled document -------------------------------------------------

std::string Document(const TDataSetList& AList) {
  auto marshal = TJSONConverters::GetJSONMarshaler();
  auto doc = marshal->Marshal(&AList);
  return WriteJSON(*doc);
}

std::unique_ptr<TDataSetList> Read(std::string_view AText, TJSONUnMarshal& AUnmarshal) {
  auto doc = ParseJSON(AText);
  if (!doc) throw Exception("test document does not parse");
  auto obj = AUnmarshal.Unmarshal(*doc);
  auto* list = dynamic_cast<TDataSetList*>(obj.get());
  if (list == nullptr) throw Exception("not a dataset list");
  obj.release();
  return std::unique_ptr<TDataSetList>(list);
}

std::unique_ptr<TDataSetList> Read(std::string_view AText) {
  return Read(AText, *TJSONConverters::GetJSONUnMarshaler());
}

std::string Escaped(const std::string& AText) { return WriteJSON(TJSONString(AText)); }

std::string StringForm(int AId, const std::string& AEscaped) {
  return R"({"type":"System.JSON.TJSONString","id":)" + std::to_string(AId) +
         R"(,"fields":{"FValue":)" + AEscaped + R"(,"FIsNull":false,"FOwned":true}})";
}

TEST(DataSetListDocument, OneDatasetHasExactShapeAndIdsOneToFive) {
  TDataSetList list;
  list.AddDataSet("Relojes", test::MakeMixedTable(30));
  const std::string blob = TDataSetListInterceptor::DataSetToBlob(list.DataSet(0));
  const std::string expected =
      R"({"type":"Data.DataSetJSONReflect.TDataSetList","id":1,"fields":{"FDataSets":)"
      R"({"type":"System.JSON.TJSONObject","id":2,"fields":{"FMembers":[)"
      R"({"type":"System.JSON.TJSONPair","id":3,"fields":{"FJsonString":)" +
      StringForm(4, "\"Relojes\"") + R"(,"FJsonValue":)" + StringForm(5, Escaped(blob)) +
      R"(,"FOwned":true}}],"FOwned":true}}}})";
  const std::string text = Document(list);
  EXPECT_EQ(expected, text);
  // The body text escapes the blob's slashes and line breaks.
  ASSERT_NE(std::string::npos, blob.find('/'));
  EXPECT_EQ(std::string::npos, text.find("\r"));
  EXPECT_NE(std::string::npos, text.find("\\/"));
  EXPECT_NE(std::string::npos, text.find("\\r\\n"));
  EXPECT_NE(std::string::npos, text.find(R"("FValue":"eJ)"));
  EXPECT_EQ(std::string::npos, text.find("FOwnsDataSets"));
}

TEST(DataSetListDocument, ThreeDatasetsGiveTheLastBlobIdEleven) {
  TDataSetList list;
  list.AddDataSet("A", SmallTable("a", 1));
  list.AddDataSet("B", SmallTable("b", 1));
  list.AddDataSet("A", SmallTable("c", 1));
  const std::string text = Document(list);
  const std::string lastBlob = Escaped(TDataSetListInterceptor::DataSetToBlob(list.DataSet(2)));
  EXPECT_NE(std::string::npos, text.find(StringForm(11, lastBlob)));
  EXPECT_NE(std::string::npos, text.find(StringForm(10, "\"A\"")));
  EXPECT_EQ(std::string::npos, text.find(R"("id":12)"));
}

TEST(DataSetListDocument, RoundTripOfEveryTypeAndSameNamesInOrder) {
  TDataSetList list;
  list.AddDataSet("Personal", test::MakeEveryTypeTable());
  list.AddDataSet("Vacia", SmallTable("v", 0));
  list.AddDataSet("Personal", test::MakeMixedTable(500));
  auto back = Read(Document(list));
  EXPECT_TRUE(back->OwnsDataSets());
  ASSERT_EQ((std::vector<std::string>{"Personal", "Vacia", "Personal"}), back->Names());
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(nullptr, dynamic_cast<TMemTable*>(&back->DataSet(i)));
    EXPECT_TRUE(back->DataSets()->OwnsItem(i));
    ExpectSameTable(list.DataSet(i), back->DataSet(i));
  }
}

TEST(DataSetListDocument, EmptyListAndNullList) {
  TDataSetList empty;
  empty.AddDataSet("x", SmallTable("x", 0));
  empty.ExtractDataSets();  // present and empty
  const std::string text = Document(empty);
  EXPECT_NE(std::string::npos, text.find(R"("FMembers":[])"));
  auto back = Read(text);
  ASSERT_NE(nullptr, back->DataSets());
  EXPECT_EQ(0, back->Count());

  auto absent =
      Read(R"({"type":"Data.DataSetJSONReflect.TDataSetList","id":1,"fields":{"FDataSets":null}})");
  EXPECT_EQ(nullptr, absent->DataSets());
  EXPECT_TRUE(absent->OwnsDataSets());
}

TEST(DataSetListDocument, AbsentListCannotBeMarshalled) {
  TDataSetList list;
  auto marshal = TJSONConverters::GetJSONMarshaler();
  try {
    marshal->Marshal(&list);
    FAIL() << "no exception";
  } catch (const EConversionError& e) {
    EXPECT_STREQ(
        "Field attribute should provide a field interceptor instead of a type one on field "
        "TDataSetListBase.TItemList",
        e.what());
  }
}

TEST(DataSetListDocument, FDataSetsThatIsNoObjectFormFails) {
  for (const char* value : {"5", "\"text\"", "true", "[]"}) {
    SCOPED_TRACE(value);
    const std::string text =
        std::string(
            R"({"type":"Data.DataSetJSONReflect.TDataSetList","id":1,"fields":{"FDataSets":)") +
        value + "}}";
    try {
      Read(text);
      ADD_FAILURE() << "no exception";
    } catch (const EConversionError& e) {
      EXPECT_EQ("JSON object expected for field FDataSets in JSON " + std::string(value), e.what());
    }
  }
}

TEST(DataSetListDocument, StringBuilderFormOfNamesAndBlobsReadsTheSame) {
  auto table = SmallTable("s", 3);
  const std::string blob = TDataSetListInterceptor::DataSetToBlob(*table);
  auto builder = [](int AId, int ABuilderId, const std::string& AEscaped) {
    return R"({"type":"System.JSON.TJSONString","id":)" + std::to_string(AId) +
           R"(,"fields":{"FStrBuffer":{"type":"System.SysUtils.TStringBuilder","id":)" +
           std::to_string(ABuilderId) + R"(,"fields":{"FData":)" + AEscaped +
           R"(,"FLength":7,"FMaxCapacity":2147483647}},"FOwned":true}})";
  };
  const std::string text =
      R"({"type":"Data.DataSetJSONReflect.TDataSetList","id":1,"fields":{"FDataSets":)"
      R"({"type":"System.JSON.TJSONObject","id":2,"fields":{"FMembers":[)"
      R"({"type":"System.JSON.TJSONPair","id":3,"fields":{"FJsonString":)" +
      builder(4, 5, "\"Relojes\"") + R"(,"FJsonValue":)" + builder(6, 7, Escaped(blob)) +
      R"(,"FOwned":true}}],"FOwned":true}}}})";
  auto back = Read(text);
  ASSERT_EQ((std::vector<std::string>{"Relojes"}), back->Names());
  ExpectSameTable(*table, back->DataSet(0));
}

TEST(DataSetListDocument, FailureWhileReadingLeavesNoObject) {
  TDataSetList list;
  list.AddDataSet("Bueno", SmallTable("b", 2));
  list.AddDataSet("Malo", SmallTable("m", 2));
  std::string text = Document(list);
  // Damage the second blob's zlib header: "eJ" becomes "fJ".
  const std::size_t second = text.find(R"("FValue":"eJ)", text.find("Malo"));
  ASSERT_NE(std::string::npos, second);
  text[second + 10] = 'f';
  EXPECT_THROW(Read(text), EZDecompressionError);
  // LeakSanitizer reports any table or list left alive by the failure.
}

// --- The inflation budget of one call --------------------------------------------

// An unmarshaller whose calls may inflate to ABytes each.
std::unique_ptr<TJSONUnMarshal> UnmarshalWithin(std::size_t ABytes) {
  auto unmarshal = TJSONConverters::GetJSONUnMarshaler();
  unmarshal->SetMaxInflatedBytes(ABytes);
  return unmarshal;
}

// The message of the budget failure that reading AText with AUnmarshal
// raises, or "read" when it reads.
std::string BudgetFailure(std::string_view AText, TJSONUnMarshal& AUnmarshal) {
  try {
    Read(AText, AUnmarshal);
  } catch (const EZInflationBudgetError& e) {
    return e.what();
  }
  return "read";
}

std::string BudgetMessage(std::size_t ABytes) {
  return Format("Inflated data of the dataset list exceeds %d bytes", ABytes);
}

// 40 small blobs, each well under the budgets below, that together exceed
// them: Total is what they inflate to, Each about one of them.
struct TManyBlobs {
  TDataSetList List;
  std::size_t Total = 0;
  std::size_t Each = 0;
  std::string Text;

  TManyBlobs() {
    for (int i = 0; i < 40; ++i) {
      List.AddDataSet(Format("T%d", i), test::MakeMixedTable(100));
      Total += data::TBinStorage::SaveToBytes(List.DataSet(i)).size();
    }
    Each = Total / 40;
    Text = Document(List);
  }
};

TEST(DataSetListDocument, BlobsOfOneListShareTheCallsBudget) {
  const TManyBlobs many;
  EXPECT_FALSE(TJSONConverters::GetJSONUnMarshaler()->MaxInflatedBytes().has_value());
  const auto tight = UnmarshalWithin(many.Total - many.Each / 2);
  EXPECT_EQ(BudgetMessage(many.Total - many.Each / 2), BudgetFailure(many.Text, *tight));
  // The same blobs as a list of 20: every call of the unmarshaller starts
  // from nothing spent.
  TDataSetList half;
  for (int i = 0; i < 20; ++i) half.AddDataSet("T", test::MakeMixedTable(100));
  const std::string halfText = Document(half);
  EXPECT_EQ(20, Read(halfText, *tight)->Count());
  EXPECT_EQ(20, Read(halfText, *tight)->Count());
  // With exactly the total the whole list reads.
  auto back = Read(many.Text, *UnmarshalWithin(many.Total));
  ASSERT_EQ(40, back->Count());
  ExpectSameTable(many.List.DataSet(39), back->DataSet(39));

  // The class functions spend the budget they are handed across calls.
  auto object = std::make_unique<TJSONObject>();
  TDataSetListInterceptor::ItemListToJSONObject(half.DataSets(), *object);
  TInflationBudget budget = TDataSetListInterceptor::NewInflationBudget(many.Total - many.Each / 2);
  TDataSetListBase::TItemList first;
  EXPECT_TRUE(TDataSetListInterceptor::JSONObjectToItemList(*object, first, budget));
  TDataSetList second;
  EXPECT_THROW(TDataSetListInterceptor::JSONObjectToDataSets(*object, second, budget),
               EZInflationBudgetError);
  EXPECT_EQ(nullptr, second.DataSets());
  // One blob alone beyond its budget gives the same failure.
  TInflationBudget tiny = TDataSetListInterceptor::NewInflationBudget(many.Each / 2);
  EXPECT_THROW(TDataSetListInterceptor::BlobToDataSet(
                   TDataSetListInterceptor::DataSetToBlob(many.List.DataSet(0)), tiny),
               EZInflationBudgetError);
}

TEST(DataSetListDocument, UnmarshallersWithDifferentBudgetsDoNotShareThem) {
  const TManyBlobs many;
  const auto tight = UnmarshalWithin(many.Total - 1);
  const auto loose = UnmarshalWithin(many.Total);
  const auto unset = TJSONConverters::GetJSONUnMarshaler();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(BudgetMessage(many.Total - 1), BudgetFailure(many.Text, *tight));
    EXPECT_EQ(40, Read(many.Text, *loose)->Count());
    EXPECT_EQ(40, Read(many.Text, *unset)->Count());
  }
  // A budget changed on one unmarshaller applies to its next call only.
  tight->SetMaxInflatedBytes(many.Total);
  EXPECT_EQ(40, Read(many.Text, *tight)->Count());
  loose->SetMaxInflatedBytes(std::nullopt);
  EXPECT_EQ(40, Read(many.Text, *loose)->Count());
}

TEST(DataSetListDocument, ConcurrentCallsSpendTheirOwnBudgets) {
  const TManyBlobs many;
  constexpr int kThreads = 4;
  constexpr int kRounds = 10;
  // Even threads read within a budget just short of the list, each its own;
  // odd ones within one that fits it.
  std::vector<std::string> failures(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const std::size_t bytes =
            t % 2 == 0 ? many.Total - 1 - static_cast<std::size_t>(t) : many.Total;
        const auto unmarshal = UnmarshalWithin(bytes);
        for (int round = 0; round < kRounds; ++round) {
          const std::string got = t % 2 == 0 ? BudgetFailure(many.Text, *unmarshal)
                                             : Format("%d", Read(many.Text, *unmarshal)->Count());
          const std::string expected = t % 2 == 0 ? BudgetMessage(bytes) : "40";
          if (got != expected) {
            failures[static_cast<std::size_t>(t)] = Format("round %d: %s", round, got);
            return;
          }
        }
      });
    }
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ("", failures[static_cast<std::size_t>(t)]) << t;
}

// Two dataset lists read in one call share the call's budget.
class TTwoLists : public TObject {
 public:
  std::unique_ptr<TDataSetList> FEntrada;
  std::unique_ptr<TDataSetList> FSalida;
};
const TJSONClass<TTwoLists> RegTwoLists{
    "Test.TTwoLists",
    {Field<&TTwoLists::FEntrada>("FEntrada"), Field<&TTwoLists::FSalida>("FSalida")}};

TEST(DataSetListDocument, TheListsOfOneCallShareItsBudget) {
  TTwoLists two;
  two.FEntrada = std::make_unique<TDataSetList>();
  two.FSalida = std::make_unique<TDataSetList>();
  two.FEntrada->AddDataSet("E", test::MakeMixedTable(300));
  two.FSalida->AddDataSet("S", test::MakeMixedTable(300));
  const std::size_t one = data::TBinStorage::SaveToBytes(two.FEntrada->DataSet(0)).size();
  const std::string text = WriteJSON(*TJSONConverters::GetJSONMarshaler()->Marshal(&two));
  const auto doc = ParseJSON(text);
  ASSERT_NE(nullptr, doc);
  // Either list alone fits; both do not.
  const auto tight = UnmarshalWithin(2 * one - 1);
  try {
    tight->Unmarshal(*doc);
    ADD_FAILURE() << "no exception";
  } catch (const EZInflationBudgetError& e) {
    EXPECT_EQ(BudgetMessage(2 * one - 1), e.what());
  }
  const auto object = UnmarshalWithin(2 * one)->Unmarshal(*doc);
  const auto* back = dynamic_cast<const TTwoLists*>(object.get());
  ASSERT_NE(nullptr, back);
  ExpectSameTable(two.FSalida->DataSet(0), back->FSalida->DataSet(0));
}

// --- Stored documents ---------------------------------------------------------

// The tables of the stored documents in tests/rest/datasets/samples: "Personal"
// (every type), "Vacia" (no rows) and "Mixta" (400 mixed rows).
std::unique_ptr<TDataSetList> SampleList() {
  auto list = std::make_unique<TDataSetList>();
  list->AddDataSet("Personal", test::MakeEveryTypeTable());
  auto empty = std::make_unique<TMemTable>();
  empty->FieldDefs().Add("ID", TFieldType::ftInteger);
  empty->CreateDataSet();
  list->AddDataSet("Vacia", std::move(empty));
  list->AddDataSet("Mixta", test::MakeMixedTable(400));
  return list;
}

std::string SampleText(const char* AName) {
  const std::string path = std::string(QVR_DATASET_SAMPLES) + "/" + AName;
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Exception("sample missing: " + path);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// What zlib itself inflates a blob to.
std::string ZlibInflatedBlob(const std::string& ABlob, std::size_t AExpectedSize) {
  const std::string compressed = TBase64Encoding::Base64().Decode(ABlob);
  std::string out(AExpectedSize + 1, '\0');
  uLongf outLen = static_cast<uLongf>(out.size());
  uLong inLen = static_cast<uLong>(compressed.size());
  if (uncompress2(reinterpret_cast<Bytef*>(out.data()), &outLen,
                  reinterpret_cast<const Bytef*>(compressed.data()), &inLen) != Z_OK) {
    return "not a zlib stream";
  }
  out.resize(outLen);
  return out;
}

void ExpectSampleTables(std::string_view AText) {
  const auto sample = SampleList();
  const TDataSetList& expected = *sample;
  const auto back = Read(AText);
  ASSERT_EQ(expected.Names(), back->Names());
  const std::vector<std::string> blobs = test::DocumentBlobs(AText);
  ASSERT_EQ(3u, blobs.size());
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ExpectSameTable(expected.DataSet(i), back->DataSet(i));
    const std::string storage = data::TBinStorage::SaveToBytes(expected.DataSet(i));
    EXPECT_EQ(storage, ZlibInflatedBlob(blobs[static_cast<std::size_t>(i)], storage.size()));
  }
}

TEST(DataSetListDocument, DocumentWrittenWithZlibReadsTheSame) {
  ExpectSampleTables(SampleText("list-zlib.json"));
}

TEST(DataSetListDocument, DocumentsWrittenNowInflateWithZlibAndReadTheSame) {
  const std::string stored = SampleText("list-libdeflate.json");
  ExpectSampleTables(stored);
  const std::string fresh = Document(*SampleList());
  ExpectSampleTables(fresh);
  // Same shape as the stored one; every blob a zlib stream on standard lines.
  const std::vector<std::string> blobs = test::DocumentBlobs(fresh);
  const std::vector<std::string> before = test::DocumentBlobs(SampleText("list-zlib.json"));
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    EXPECT_EQ("eJ", blobs[i].substr(0, 2));
    EXPECT_EQ(TBase64Encoding::Base64().Encode(TBase64Encoding::Base64().Decode(blobs[i])),
              blobs[i]);
    EXPECT_LE(blobs[i].size(), before[i].size() + before[i].size() / 20 + 8);
  }
}

}  // namespace
}  // namespace qvr::rest
