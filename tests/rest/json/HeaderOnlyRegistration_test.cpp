// A program that knows the marshalled classes only through their headers:
// this test includes the headers of the options record and of the dataset
// list, calls nothing of their units, and reads their documents back. It is
// an executable of its own, so that no other test's references bring the
// units in: a registration that depended on what the linker happens to keep
// from the static core library would be missing here ("Internal: Cannot
// instantiate type ...").
#include <gtest/gtest.h>

#include <string>

#include "client/uGral.h"
#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"

namespace qvr::rest {
namespace {

// A dataset list with one table "Status" (ID Integer required, Nombre
// String; rows 1 "Entrada" and 2 "Salida"), as the marshaller writes it.
const char* const kDataSetList =
    R"({"type":"Data.DataSetJSONReflect.TDataSetList","id":1,"fields":{"FDataSets":{"type":"System.JSON.TJSONObject","id":2,"fields":{"FMembers":[{"type":"System.JSON.TJSONPair","id":3,"fields":{"FJsonString":{"type":"System.JSON.TJSONString","id":4,"fields":{"FValue":"Status","FIsNull":false,"FOwned":true}},"FJsonValue":{"type":"System.JSON.TJSONString","id":5,"fields":{"FValue":"eJxzCnHyEWBgYHBlgAAmIGYEYUYQixXMh4hAWOwgtXklRYkpiWxAZnBiTmZKIg9DMEMJQyIQlzIU\r\nM7AweDK4MPAw+DHkM+QyJDEUMaQyAADUzgw1","FIsNull":false,"FOwned":true}},"FOwned":true}}],"FOwned":true}}}})";

TEST(HeaderOnlyRegistration, EveryMarshalledClassReadsBackFromItsHeaderAlone) {
  struct TCase {
    const char* Type;
    std::string Text;
  };
  const TCase cases[] = {
      {"uGral.TOpciones", R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3}})"},
      {"Data.DataSetJSONReflect.TDataSetList", kDataSetList},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Type);
    const std::unique_ptr<TJSONValue> doc = ParseJSON(c.Text);
    ASSERT_NE(doc, nullptr);
    std::unique_ptr<TObject> object;
    try {
      TJSONUnMarshal unmarshaller;
      object = unmarshaller.Unmarshal(*doc);
    } catch (const EConversionError& e) {
      ADD_FAILURE() << e.Message();
      continue;
    }
    ASSERT_NE(object, nullptr);
    const TClassInfo* cls = TJSONClassRegistry::ClassOf(*object);
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->QualifiedName(), c.Type);
    // Written back, the object gives the same text, but for the compressed
    // bytes of a blob (another compressor may write the same data otherwise):
    // read again, a list gives the same tables.
    TJSONMarshal marshaller;
    const std::unique_ptr<TJSONValue> again = marshaller.Marshal(object.get());
    ASSERT_NE(again, nullptr);
    if (const auto* list = dynamic_cast<const TDataSetList*>(object.get())) {
      const std::unique_ptr<TObject> reread = TJSONUnMarshal().Unmarshal(*again);
      const auto* second = dynamic_cast<const TDataSetList*>(reread.get());
      ASSERT_NE(second, nullptr);
      EXPECT_EQ(second->Names(), list->Names());
      EXPECT_EQ(second->DataSet(0).RecordCount(), 2);
      EXPECT_EQ(WriteJSON(*marshaller.Marshal(second)), WriteJSON(*again));
    } else {
      EXPECT_EQ(WriteJSON(*again), c.Text);
    }
  }
}

}  // namespace
}  // namespace qvr::rest
