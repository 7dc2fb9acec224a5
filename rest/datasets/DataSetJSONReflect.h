// Dataset lists: an ordered list of named datasets that travels between the
// client core and the server as one marshalled object
// ("Data.DataSetJSONReflect.TDataSetList"). Its one marshalled field,
// FDataSets, is written through TDataSetListInterceptor, which turns the list
// into a JSON object whose members carry the datasets as blobs: each dataset
// in the binary storage format, compressed with zlib, encoded in base64 with
// line breaks; and reads such an object back into new in-memory tables.
//
// Ownership. Every entry of a TItemList either owns its dataset (released with
// the list, entries first to last) or borrows it (never released by the list),
// decided when the entry is added, so no dataset can leak or be released
// twice. TDataSetList's OwnsDataSets flag says which kind of entry it takes:
// true (the default, and always after reading) means it owns and releases its
// datasets; false means the caller keeps them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/DataSet.h"
#include "data/MemTable.h"
#include "platform/Classes.h"
#include "rest/datasets/DataSetListExceptions.h"
#include "rest/datasets/ZLibStreams.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONValues.h"

namespace qvr::rest {

class TDataSetList;

class TDataSetListBase : public TObject {
 public:
  // The list: ordered pairs of Key (the dataset's name; names may repeat) and
  // Value (the dataset).
  class TItemList : public TObject {
   public:
    struct TPair {
      std::string Key;
      data::TAdaptedDataSet* Value = nullptr;
    };

    TItemList() = default;
    // Releases the datasets it owns, first to last.
    ~TItemList() override;
    TItemList(const TItemList&) = delete;
    TItemList& operator=(const TItemList&) = delete;

    int Count() const { return static_cast<int>(FPairs.size()); }
    const std::vector<TPair>& Pairs() const { return FPairs; }
    const TPair& operator[](int AIndex) const {
      return FPairs.at(static_cast<std::size_t>(AIndex));
    }
    // Whether the entry at AIndex owns its dataset.
    bool OwnsItem(int AIndex) const {
      return FOwned.at(static_cast<std::size_t>(AIndex)) != nullptr;
    }

    // Appends an entry that owns ADataSet (which must not be null).
    void Add(std::string AKey, std::unique_ptr<data::TAdaptedDataSet> ADataSet);
    // Appends an entry that borrows ADataSet: it must outlive the list.
    void AddBorrowed(std::string AKey, data::TAdaptedDataSet& ADataSet);
    // Takes every entry out, in order; owned datasets come with their
    // ownership, borrowed ones as null.
    std::vector<std::pair<std::string, std::unique_ptr<data::TAdaptedDataSet>>> Extract();

   private:
    std::vector<TPair> FPairs;
    // Parallel to FPairs: the owned dataset, or null for a borrowed one.
    std::vector<std::unique_ptr<data::TAdaptedDataSet>> FOwned;
  };

  TDataSetListBase() = default;
  ~TDataSetListBase() override = default;
  TDataSetListBase(const TDataSetListBase&) = delete;
  TDataSetListBase& operator=(const TDataSetListBase&) = delete;

 protected:
  friend class TDataSetListInterceptor;
  // The class registration reaches the fields through member pointers.
  friend struct TDataSetListRegistration;

  // Absent after construction.
  std::unique_ptr<TItemList> FDataSets;
  // Never marshalled.
  bool FOwnsDataSets = true;
};

class TDataSetList : public TDataSetListBase {
 public:
  TDataSetList() = default;

  // The list, or null while it is absent.
  const TItemList* DataSets() const { return FDataSets.get(); }
  bool OwnsDataSets() const { return FOwnsDataSets; }
  // Changes which kind of entry the list takes. Allowed while the list is
  // absent or empty; otherwise raises EDataSetListError, because the datasets
  // already held would change hands (use ExtractDataSets to take them out).
  void SetOwnsDataSets(bool AValue);

  // Appends ADataSet under AName, creating the list on first use; the list
  // owns it. Raises EDataSetListError when the list does not own its datasets.
  void AddDataSet(const std::string& AName, std::unique_ptr<data::TAdaptedDataSet> ADataSet);
  // Appends ADataSet under AName, creating the list on first use; the caller
  // keeps it. Raises EDataSetListError when the list owns its datasets.
  void AddDataSet(const std::string& AName, data::TAdaptedDataSet& ADataSet);

  // Number of datasets (0 while the list is absent).
  int Count() const { return FDataSets ? FDataSets->Count() : 0; }
  // The names in list order.
  std::vector<std::string> Names() const;
  // The dataset at AIndex (0-based); raises EArgumentOutOfRangeException.
  data::TAdaptedDataSet& DataSet(int AIndex) const;
  // The first dataset named AName (exact match), or null.
  data::TAdaptedDataSet* FindDataSet(std::string_view AName) const;
  // Takes every dataset out with its ownership, in order, leaving the list
  // present and empty. Only for a list that owns its datasets
  // (EDataSetListError otherwise).
  std::vector<std::pair<std::string, std::unique_ptr<data::TAdaptedDataSet>>> ExtractDataSets();

 private:
  friend class TDataSetListInterceptor;
  TItemList& EnsureList();
};

// Stands in for FDataSets in both directions (converter kind ctTypeObject,
// reverter kind rtTypeObject). One instance serves one field of one call and
// keeps in FFreeObjects the JSON object it built or was handed, which it
// releases with itself.
//
// Reading inflates every blob, so a document of a few megabytes can stand
// for gigabytes. The blobs that one unmarshalling call reads share that
// call's inflation budget: TJSONUnMarshal::MaxInflatedBytes (1 GiB,
// kZMaxInflatedSize, when the caller sets none), spent across every dataset
// list of the call. Beyond it reading raises EZInflationBudgetError
// "Inflated data of the dataset list exceeds %d bytes" with the bound.
class TDataSetListInterceptor : public TJSONInterceptor {
 public:
  TDataSetListInterceptor();

  // AData is the list; returns a new TJSONObject built by
  // ItemListToJSONObject, kept (and later released) by the interceptor.
  const TObject* TypeObjectConverter(const TObject& AData) override;
  // AData is the TJSONObject read from "FDataSets", which the interceptor
  // keeps whether reading succeeds or fails; returns a new list filled by
  // JSONObjectToItemList within what is left of the call's inflation budget
  // (UnmarshalContext; outside a call, a default budget of its own). Raises
  // EConversionError when AData is not a TJSONObject.
  std::unique_ptr<TObject> TypeObjectReverter(std::unique_ptr<TObject> AData) override;

  // Appends one member per pair of AList to AJSONObject: the pair's key as
  // name, a new string holding the dataset blob as value. A dataset that is
  // not open is opened for this and closed again, also on failure. Returns
  // true when AList is present and has a pair. On failure (the dataset
  // library's error, EZCompressionError) the members of the pairs already
  // done stay in AJSONObject and every dataset is open or closed as before.
  static bool ItemListToJSONObject(const TDataSetListBase::TItemList* AList,
                                   TJSONObject& AJSONObject);
  // Decodes every member of AJSONObject whose value is a string or a number
  // (others are skipped) into a new in-memory table, and appends the pairs,
  // in member order and owned, to AList once all are decoded. Returns true.
  // Every blob spends ABudget (a default budget of its own when none is
  // given). Raises EZDecompressionError for a blob that is not valid zlib
  // data, the storage error (code 710) for bytes that are not a stored
  // dataset, and EZInflationBudgetError when the blobs inflate beyond the
  // budget; then no table decoded in this call survives and AList is
  // unchanged.
  static bool JSONObjectToItemList(const TJSONObject& AJSONObject,
                                   TDataSetListBase::TItemList& AList);
  static bool JSONObjectToItemList(const TJSONObject& AJSONObject,
                                   TDataSetListBase::TItemList& AList, TInflationBudget& ABudget);
  // ItemListToJSONObject on ADataSets' list (absent: adds nothing, false).
  static bool DataSetsToJSONObject(const TDataSetList& ADataSets, TJSONObject& AJSONObject);
  // Fills a new list with JSONObjectToItemList and installs it as ADataSets'
  // list with OwnsDataSets true. The list it held before is released by its
  // own entries' ownership (owned datasets released, borrowed ones left to
  // their owner). On failure ADataSets is unchanged.
  static bool JSONObjectToDataSets(const TJSONObject& AJSONObject, TDataSetList& ADataSets);
  static bool JSONObjectToDataSets(const TJSONObject& AJSONObject, TDataSetList& ADataSets,
                                   TInflationBudget& ABudget);

  // The blob of one dataset (open, as ItemListToJSONObject leaves it), and
  // the dataset that a blob holds, as the two methods above make and read
  // them. BlobToDataSet spends ABudget, or a default budget of its own when
  // none is given.
  static std::string DataSetToBlob(const data::TAdaptedDataSet& ADataSet);
  static std::unique_ptr<data::TMemTable> BlobToDataSet(std::string_view ABlob);
  static std::unique_ptr<data::TMemTable> BlobToDataSet(std::string_view ABlob,
                                                        TInflationBudget& ABudget);

  // A budget of ABytes with the message above, for the blobs of one call.
  static TInflationBudget NewInflationBudget(std::size_t ABytes = kZMaxInflatedSize);

 private:
  std::vector<std::unique_ptr<TObject>> FFreeObjects;
};

// Registers TDataSetListBase and TDataSetList with the class registry, once
// (later calls only return true). Every translation unit that includes this
// header calls it while the program starts (the hook below), so the two
// classes are registered in every program that can name them, whatever the
// linker keeps of the static core library: the call itself makes the linker
// take the unit that holds the registration (docs/json.md).
bool RegisterDataSetListClasses();

namespace detail {
inline const bool kDataSetListClassesRegistered = RegisterDataSetListClasses();
}  // namespace detail

}  // namespace qvr::rest
