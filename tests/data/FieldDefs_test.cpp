// Column definitions: what Add refuses, with which message, and that a refused
// definition leaves the others as they were, both for free-standing
// definitions and for those of a closed dataset.
#include "data/FieldDefs.h"

#include <gtest/gtest.h>

#include <string>

#include "data/DataSet.h"

namespace qvr::data {
namespace {

void AddThree(TFieldDefs& ADefs) {
  ADefs.Add("ID", TFieldType::ftInteger, true);
  ADefs.Add("Name", TFieldType::ftString);
  ADefs.Add("Big", TFieldType::ftLargeint);
}

TEST(FieldDefs, DefinitionErrors) {
  struct TCase {
    const char* Name;
    TFieldType Type;
    const char* Message;
  };
  const TCase cases[] = {
      {"id", TFieldType::ftString, "Duplicate field name 'id'"},  // case ignored
      {"NAME", TFieldType::ftBytes, "Duplicate field name 'NAME'"},
      {"", TFieldType::ftString, "Field name is empty"},
      {"X", static_cast<TFieldType>(0), "Field 'X' has an unknown type"},
      {"X", static_cast<TFieldType>(8), "Field 'X' has an unknown type"},
  };
  TFieldDefs freeStanding;
  AddThree(freeStanding);
  TAdaptedDataSet ds;
  AddThree(ds.FieldDefs());
  for (TFieldDefs* defs : {&freeStanding, &ds.FieldDefs()}) {
    for (const TCase& c : cases) {
      try {
        defs->Add(c.Name, c.Type);
        ADD_FAILURE() << "no exception for " << c.Message;
      } catch (const EDataSetError& e) {
        EXPECT_STREQ(c.Message, e.what());
      }
    }
    ASSERT_EQ(3, defs->Count());
    EXPECT_EQ(1, defs->IndexOf("nAmE"));
    EXPECT_EQ(-1, defs->IndexOf("X"));
  }
}

}  // namespace
}  // namespace qvr::data
