// The answers of the four list methods: dataset lists built from the
// database, marshalled by the core's marshaller (so every blob is in exactly
// the form the client reads) and kept encoded until the data they show
// changes, so that a list of 200,000 employees is encoded once, not per call.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "rest/datasets/DataSetJSONReflect.h"
#include "server/AttendanceStore.h"
#include "server/MethodAnswer.h"

namespace qvr::server {

enum class TListKind { Relojes, Empresas, PersonalParcial, PersonalCompleta };

// The dataset list of AKind, fresh from the store (dataset names and columns
// in docs/server.md).
std::unique_ptr<rest::TDataSetList> BuildDataSetList(TListKind AKind, TAttendanceStore& AStore);

class TListAnswerCache {
 public:
  explicit TListAnswerCache(TAttendanceStore& AStore) : FStore(AStore) {}

  // The answer of AKind: the one encoded earlier while the store's data
  // version has not moved since, otherwise a new one. Callers asking at the
  // same time for a stale list wait for one encoding rather than each make
  // their own. Thread-safe.
  TMethodAnswer Get(TListKind AKind);

 private:
  struct TEntry {
    std::mutex Lock;
    std::uint64_t Version = 0;
    TMethodAnswer Answer;
  };
  TAttendanceStore& FStore;
  std::array<TEntry, 4> FEntries;
};

}  // namespace qvr::server
