// Marshalled objects: an object of a registered class written as JSON that
// names its class ("type"), numbers itself ("id") and lists its fields
// ("fields"), and read back into a new object of that class.
//
// C++ has no reflection, so every marshalled class registers, beside its
// declaration, its qualified type name, its base class and an explicit field
// table with literal wire names (renaming a C++ member never changes the JSON).
// Field kinds come from the member's C++ type (see TypeInfoOf). Creating an
// object from a "type" only ever instantiates registered classes.
//
// Registration example (in the unit's registration function, see below):
//
//   // class TItemList : public TObject { ... };      // the list, a TObject
//   // class TDataSetListBase : public TObject {
//   //  public:
//   //   std::unique_ptr<TItemList> FDataSets;        // absent after construction
//   //   bool FOwnsDataSets = true;
//   // };
//   // class TDataSetList : public TDataSetListBase {};
//   static const qvr::rest::TJSONClass<TDataSetListBase> RegBase{
//       "Data.DataSetJSONReflect.TDataSetListBase",
//       {qvr::rest::Field<&TDataSetListBase::FDataSets>("FDataSets")
//            .DeclaredType("TDataSetListBase.TItemList")
//            .JSONReflect(qvr::rest::TConverterType::ctTypeObject,
//                         qvr::rest::TReverterType::rtTypeObject,
//                         [] { return std::make_unique<TDataSetListInterceptor>(); })
//            .JSONOwned(false),
//        qvr::rest::Field<&TDataSetListBase::FOwnsDataSets>("FOwnsDataSets")
//            .JSONMarshalled(false)}};
//   static const qvr::rest::TJSONClass<TDataSetList, TDataSetListBase> RegList{
//       "Data.DataSetJSONReflect.TDataSetList", {}};
//
// where TDataSetListInterceptor derives from TJSONInterceptor and overrides
// TypeObjectConverter (list -> new TJSONObject it keeps alive) and
// TypeObjectReverter (TJSONObject it takes -> new list).
//
// The core is a static library, whose units a program links only when it
// refers to them. So the registrations of a unit go into one function,
// declared in its header and defined in its .cpp, and the header calls it
// from an inline variable that every includer initialises at start-up:
//
//   bool RegisterDataSetListClasses();                  // the header
//   namespace detail {
//   inline const bool kDataSetListClassesRegistered = RegisterDataSetListClasses();
//   }
//
// Every program that can name the classes then links and runs their
// registration (docs/json.md).
//
// This header gathers the marshalling library; each part has a header of its
// own: TypeInfo (type descriptions), JSONInterceptor, FieldInfo (field tables),
// JSONClassRegistry (classes), RuleRegistry (converter and reverter rules),
// JSONMarshal, JSONUnMarshal, JSONConverters (ready instances and the default
// rules), StringBuilder and JSONExceptions.
#pragma once

#include "rest/json/FieldInfo.h"
#include "rest/json/JSONClassRegistry.h"
#include "rest/json/JSONConverters.h"
#include "rest/json/JSONExceptions.h"
#include "rest/json/JSONInterceptor.h"
#include "rest/json/JSONMarshal.h"
#include "rest/json/JSONUnMarshal.h"
#include "rest/json/JSONValues.h"
#include "rest/json/RuleRegistry.h"
#include "rest/json/StringBuilder.h"
#include "rest/json/TypeInfo.h"
