// The cached dataset list: a cached item whose value unmarshals into a
// TDataSetList, reached through IRestCachedDataSetList (which offers GetValue
// alone and has no identifier).
#pragma once

#include "rest/DataSetJSONReflect.h"
#include "rest/RestCachedItem.h"

namespace qvr::rest {

class IRestCachedDataSetList : public virtual IRestCachedObject<TDataSetList> {};

class TRestCachedDataSetList : public TRestCachedObject<TDataSetList>,
                               public virtual IRestCachedDataSetList {
 public:
  using TRestCachedObject<TDataSetList>::TRestCachedObject;
};

}  // namespace qvr::rest
