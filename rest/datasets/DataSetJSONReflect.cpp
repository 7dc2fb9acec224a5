// Dataset lists and their interceptor; see DataSetJSONReflect.h. The blob of
// a dataset goes through three stages, each held whole in memory and each
// released as soon as the next one exists: storage bytes, zlib bytes, base64
// text (which moves into the JSON string without a copy).
#include "rest/datasets/DataSetJSONReflect.h"

#include "data/BinStorage.h"
#include "platform/Base64Encoding.h"
#include "rest/datasets/ZLibStreams.h"

namespace qvr::rest {

using data::TAdaptedDataSet;
using data::TMemTable;

// ---------------------------------------------------------------------------
// Class registration: the wire names and attributes of the fields.

struct TDataSetListRegistration {
  static std::vector<TFieldInfo> BaseFields() {
    std::vector<TFieldInfo> fields;
    fields.push_back(Field<&TDataSetListBase::FDataSets>("FDataSets")
                         .DeclaredType("TDataSetListBase.TItemList")
                         .JSONReflect(TConverterType::ctTypeObject, TReverterType::rtTypeObject,
                                      [] { return std::make_unique<TDataSetListInterceptor>(); })
                         .JSONOwned(false));
    fields.push_back(
        Field<&TDataSetListBase::FOwnsDataSets>("FOwnsDataSets").JSONMarshalled(false));
    return fields;
  }
};

bool RegisterDataSetListClasses() {
  static const TJSONClass<TDataSetListBase> base{"Data.DataSetJSONReflect.TDataSetListBase",
                                                 TDataSetListRegistration::BaseFields()};
  static const TJSONClass<TDataSetList, TDataSetListBase> list{
      "Data.DataSetJSONReflect.TDataSetList", {}};
  return true;
}

// ---------------------------------------------------------------------------
// TItemList

TDataSetListBase::TItemList::~TItemList() {
  for (auto& owned : FOwned) owned.reset();
}

void TDataSetListBase::TItemList::Add(std::string AKey, std::unique_ptr<TAdaptedDataSet> ADataSet) {
  if (!ADataSet) throw EArgumentException("A dataset list entry needs a dataset");
  FPairs.reserve(FPairs.size() + 1);
  FOwned.reserve(FOwned.size() + 1);
  FPairs.push_back(TPair{std::move(AKey), ADataSet.get()});
  FOwned.push_back(std::move(ADataSet));
}

void TDataSetListBase::TItemList::AddBorrowed(std::string AKey, TAdaptedDataSet& ADataSet) {
  FPairs.reserve(FPairs.size() + 1);
  FOwned.reserve(FOwned.size() + 1);
  FPairs.push_back(TPair{std::move(AKey), &ADataSet});
  FOwned.push_back(nullptr);
}

std::vector<std::pair<std::string, std::unique_ptr<TAdaptedDataSet>>>
TDataSetListBase::TItemList::Extract() {
  std::vector<std::pair<std::string, std::unique_ptr<TAdaptedDataSet>>> out;
  out.reserve(FPairs.size());
  for (std::size_t i = 0; i < FPairs.size(); ++i) {
    out.emplace_back(std::move(FPairs[i].Key), std::move(FOwned[i]));
  }
  FPairs.clear();
  FOwned.clear();
  return out;
}

// ---------------------------------------------------------------------------
// TDataSetList

TDataSetListBase::TItemList& TDataSetList::EnsureList() {
  if (!FDataSets) FDataSets = std::make_unique<TItemList>();
  return *FDataSets;
}

void TDataSetList::SetOwnsDataSets(bool AValue) {
  if (AValue != FOwnsDataSets && Count() > 0) {
    throw EDataSetListError("Cannot change the ownership of datasets already in the list");
  }
  FOwnsDataSets = AValue;
}

void TDataSetList::AddDataSet(const std::string& AName, std::unique_ptr<TAdaptedDataSet> ADataSet) {
  if (!FOwnsDataSets) {
    throw EDataSetListError("This dataset list does not own its datasets; add a reference");
  }
  EnsureList().Add(AName, std::move(ADataSet));
}

void TDataSetList::AddDataSet(const std::string& AName, TAdaptedDataSet& ADataSet) {
  if (FOwnsDataSets) {
    throw EDataSetListError("This dataset list owns its datasets; hand it over");
  }
  EnsureList().AddBorrowed(AName, ADataSet);
}

std::vector<std::string> TDataSetList::Names() const {
  std::vector<std::string> names;
  if (FDataSets) {
    for (const auto& p : FDataSets->Pairs()) names.push_back(p.Key);
  }
  return names;
}

TAdaptedDataSet& TDataSetList::DataSet(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) throw EArgumentOutOfRangeException();
  return *(*FDataSets)[AIndex].Value;
}

TAdaptedDataSet* TDataSetList::FindDataSet(std::string_view AName) const {
  if (FDataSets) {
    for (const auto& p : FDataSets->Pairs()) {
      if (p.Key == AName) return p.Value;
    }
  }
  return nullptr;
}

std::vector<std::pair<std::string, std::unique_ptr<TAdaptedDataSet>>>
TDataSetList::ExtractDataSets() {
  if (!FOwnsDataSets) {
    throw EDataSetListError("This dataset list does not own its datasets");
  }
  return EnsureList().Extract();
}

// ---------------------------------------------------------------------------
// TDataSetListInterceptor

TDataSetListInterceptor::TDataSetListInterceptor() {
  FConverterType = TConverterType::ctTypeObject;
  FReverterType = TReverterType::rtTypeObject;
  FObjectType = true;
}

TInflationBudget TDataSetListInterceptor::NewInflationBudget(std::size_t ABytes) {
  return TInflationBudget(ABytes, "Inflated data of the dataset list exceeds %d bytes");
}

std::string TDataSetListInterceptor::DataSetToBlob(const TAdaptedDataSet& ADataSet) {
  TZBytes compressed;
  {
    const std::string storage = data::TBinStorage::SaveToBytes(ADataSet);
    compressed = ZCompressBytes(storage);
  }
  return TBase64Encoding::Base64().Encode(compressed.View());
}

std::unique_ptr<TMemTable> TDataSetListInterceptor::BlobToDataSet(std::string_view ABlob) {
  TInflationBudget budget = NewInflationBudget();
  return BlobToDataSet(ABlob, budget);
}

std::unique_ptr<TMemTable> TDataSetListInterceptor::BlobToDataSet(std::string_view ABlob,
                                                                  TInflationBudget& ABudget) {
  TZBytes storage;
  {
    // Not cleared first: the decoder writes every byte that counts.
    const auto compressed =
        std::make_unique_for_overwrite<char[]>(TBase64Encoding::DecodedCapacity(ABlob.size()));
    const std::size_t size = TBase64Encoding::Base64().DecodeTo(ABlob, compressed.get());
    storage = ZDecompressBytes(std::string_view(compressed.get(), size), ABudget);
  }
  auto table = std::make_unique<TMemTable>();
  data::TBinStorage::Load(*table, storage.View());
  return table;
}

bool TDataSetListInterceptor::ItemListToJSONObject(const TDataSetListBase::TItemList* AList,
                                                   TJSONObject& AJSONObject) {
  if (AList == nullptr) return false;
  for (const auto& pair : AList->Pairs()) {
    TAdaptedDataSet& ds = *pair.Value;
    const bool opened = !ds.Active();
    if (opened) ds.Open();
    std::string blob;
    try {
      blob = DataSetToBlob(ds);
    } catch (...) {
      // The dataset goes back to closed; the original failure is what the
      // caller needs to see, so a failure to close is not allowed to replace it.
      if (opened) {
        try {
          ds.Close();
        } catch (...) {
        }
      }
      throw;
    }
    if (opened) ds.Close();
    AJSONObject.AddPair(pair.Key, std::make_unique<TJSONString>(std::move(blob)));
  }
  return AList->Count() > 0;
}

bool TDataSetListInterceptor::JSONObjectToItemList(const TJSONObject& AJSONObject,
                                                   TDataSetListBase::TItemList& AList) {
  TInflationBudget budget = NewInflationBudget();
  return JSONObjectToItemList(AJSONObject, AList, budget);
}

bool TDataSetListInterceptor::JSONObjectToItemList(const TJSONObject& AJSONObject,
                                                   TDataSetListBase::TItemList& AList,
                                                   TInflationBudget& ABudget) {
  // Decoded tables wait here until every member is done, so a failure
  // releases exactly the tables of this call and leaves AList as it was.
  std::vector<std::pair<std::string, std::unique_ptr<TMemTable>>> decoded;
  for (const TJSONPair& member : AJSONObject.Members()) {
    const TJSONValue* value = member.JsonValue();
    const TJSONString* text = value != nullptr ? value->AsString() : nullptr;
    if (text == nullptr) continue;  // not a string or a number
    decoded.emplace_back(member.Name(), BlobToDataSet(text->Value(), ABudget));
  }
  for (auto& [name, table] : decoded) AList.Add(std::move(name), std::move(table));
  return true;
}

bool TDataSetListInterceptor::DataSetsToJSONObject(const TDataSetList& ADataSets,
                                                   TJSONObject& AJSONObject) {
  return ItemListToJSONObject(ADataSets.DataSets(), AJSONObject);
}

bool TDataSetListInterceptor::JSONObjectToDataSets(const TJSONObject& AJSONObject,
                                                   TDataSetList& ADataSets) {
  TInflationBudget budget = NewInflationBudget();
  return JSONObjectToDataSets(AJSONObject, ADataSets, budget);
}

bool TDataSetListInterceptor::JSONObjectToDataSets(const TJSONObject& AJSONObject,
                                                   TDataSetList& ADataSets,
                                                   TInflationBudget& ABudget) {
  auto list = std::make_unique<TDataSetListBase::TItemList>();
  const bool ok = JSONObjectToItemList(AJSONObject, *list, ABudget);
  ADataSets.FDataSets = std::move(list);
  ADataSets.FOwnsDataSets = true;
  return ok;
}

const TObject* TDataSetListInterceptor::TypeObjectConverter(const TObject& AData) {
  const auto* list = dynamic_cast<const TDataSetListBase::TItemList*>(&AData);
  if (list == nullptr) {
    throw EConversionError(Format(
        "Field attribute should provide a field interceptor instead of a type one on field %s",
        "TDataSetListBase.TItemList"));
  }
  // Released at once if building fails; kept until the interceptor goes otherwise.
  auto object = std::make_unique<TJSONObject>();
  ItemListToJSONObject(list, *object);
  FFreeObjects.push_back(std::move(object));
  return FFreeObjects.back().get();
}

std::unique_ptr<TObject> TDataSetListInterceptor::TypeObjectReverter(
    std::unique_ptr<TObject> AData) {
  TObject* data = AData.get();
  FFreeObjects.push_back(std::move(AData));
  const auto* object = dynamic_cast<const TJSONObject*>(data);
  if (object == nullptr) {
    const TClassInfo* cls = data != nullptr ? TJSONClassRegistry::ClassOf(*data) : nullptr;
    throw EConversionError(Format("JSON object expected for field %s in JSON %s", "FDataSets",
                                  cls != nullptr ? cls->QualifiedName() : std::string("null")));
  }
  // The call's budget as far as earlier fields of the call left it; what
  // this list inflates to is recorded only once it has read, since a
  // failure ends the whole call.
  TUnmarshalContext own;
  TUnmarshalContext& call = UnmarshalContext() != nullptr ? *UnmarshalContext() : own;
  TInflationBudget budget = NewInflationBudget(call.MaxInflatedBytes().value_or(kZMaxInflatedSize));
  budget.Spend(call.InflatedBytes());
  auto list = std::make_unique<TDataSetListBase::TItemList>();
  JSONObjectToItemList(*object, *list, budget);
  call.SetInflatedBytes(budget.Spent());
  return list;
}

}  // namespace qvr::rest
