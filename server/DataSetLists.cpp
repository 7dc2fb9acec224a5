// Building, encoding and caching the list answers; see DataSetLists.h.
#include "server/DataSetLists.h"

#include "rest/json/JSONReflect.h"

namespace qvr::server {

std::unique_ptr<rest::TDataSetList> BuildDataSetList(TListKind AKind, TAttendanceStore& AStore) {
  auto list = std::make_unique<rest::TDataSetList>();
  switch (AKind) {
    case TListKind::Relojes:
      list->AddDataSet("Relojes", AStore.Relojes());
      break;
    case TListKind::Empresas:
      list->AddDataSet("Empresas", AStore.Empresas());
      break;
    case TListKind::PersonalParcial:
      list->AddDataSet("Personal", AStore.PersonalParcial());
      break;
    case TListKind::PersonalCompleta:
      list->AddDataSet("Personal", AStore.PersonalCompleta());
      list->AddDataSet("Status", AStore.Status());
      break;
  }
  return list;
}

TMethodAnswer TListAnswerCache::Get(TListKind AKind) {
  TEntry& entry = FEntries[static_cast<std::size_t>(AKind)];
  // Read before building: a change that lands while the list is being built
  // leaves the entry stale, so the next call builds again. Read before the
  // lock too: in a shared database it is a round trip, which callers of a
  // list that is up to date need not take one after another. An entry built
  // at a later version than the one read is as good.
  const std::uint64_t version = FStore.DataVersion();
  std::scoped_lock lock(entry.Lock);
  if (entry.Answer.Body && entry.Version >= version) return entry.Answer;
  const auto list = BuildDataSetList(AKind, FStore);
  const auto document = rest::TJSONConverters::GetJSONMarshaler()->Marshal(list.get());
  entry.Answer = MakeAnswer(*document);
  entry.Version = version;
  return entry.Answer;
}

}  // namespace qvr::server
