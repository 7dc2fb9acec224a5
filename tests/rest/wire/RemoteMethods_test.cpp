// The description of the remote methods: the lookup the server dispatches
// by, and the rows held to the rules the client and the server both rely on
// (names unique, in-parameters before the return, a command text that gives
// the method's own path, POST names quoted, body parameters only where the
// verb carries a body).
#include "rest/wire/RemoteMethods.h"

#include <gtest/gtest.h>

#include <set>

#include "rest/wire/Envelope.h"
#include "rest/wire/RestPaths.h"

namespace qvr::rest {
namespace {

TEST(RemoteMethods, AreFoundWithoutRegardToCaseAndWithQuotedNames) {
  struct TCase {
    const char* Class;
    const char* Method;
    const TRemoteMethod* Found;
  };
  const TCase kCases[] = {
      {"TQVRServerMethods", "EchoString", &remote::EchoString},
      {"tqvrservermethods", "ECHOSTRING", &remote::EchoString},
      {"TQVRServerMethods", "\"SubirAsistencia\"", &remote::SubirAsistencia},
      {"Admin", "GetPlatformName", &remote::GetPlatformName},
      {"admin", "getservermethodparameters", &remote::GetServerMethodParameters},
      {"Admin", "\"ClearSession\"", &remote::ClearSession},
      {"TQVRServerMethods", "\"EchoString", nullptr},
      {"TQVRServerMethods", "GetPlatformName", nullptr},
      {"Admin", "EchoString", nullptr},
      {"", "", nullptr},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(FindRemoteMethod(c.Class, c.Method), c.Found) << c.Class << "." << c.Method;
  }
}

TEST(RemoteMethods, EveryRowKeepsTheRulesOfTheInterface) {
  std::set<std::string> names;
  for (const TRemoteMethod* method : RemoteMethods()) {
    const std::string name = method->QualifiedName();
    SCOPED_TRACE(name);
    EXPECT_TRUE(names.insert(name).second) << "named twice";
    EXPECT_EQ(FindRemoteMethod(method->ClassName, method->MethodName), method);
    // The command text names the method itself; POST methods quote their
    // name, which keeps the client from prefixing it.
    const bool post = method->Verb == "POST";
    EXPECT_TRUE(post || method->Verb == "GET");
    const std::string quote = post ? "%22" : "";
    EXPECT_EQ(MethodPath(method->CommandText), std::string(method->ClassName) + "/" + quote +
                                                   std::string(method->MethodName) + quote);
    // In-parameters first, named; then at most one unnamed return value
    // (ClearSession has none).
    const auto in = method->InParameters();
    ASSERT_EQ(method->Parameters.size(), in.size() + (method->Result() != nullptr ? 1 : 0));
    if (method->Result() != nullptr) {
      EXPECT_EQ(method->Result(), &method->Parameters.back());
      EXPECT_TRUE(method->Result()->Name.empty());
    }
    for (const TWireParameter& parameter : in) {
      EXPECT_FALSE(parameter.Name.empty());
      // A GET carries no body, so nothing it sends may need one.
      if (!post) {
        EXPECT_FALSE(TravelsInBody(parameter.ValueType, parameter.TypeName));
      }
    }
  }
  EXPECT_EQ(names.size(), std::size(remote::kAll));
}

TEST(RemoteMethods, ACachedVariantAnswersTheItemPathInPlaceOfTheResult) {
  const auto parameters = CachedResultParameters(remote::InfoEmpleado);
  ASSERT_EQ(parameters.size(), 2u);
  EXPECT_EQ(parameters[0].Name, "ACodigo");
  EXPECT_EQ(parameters[0].ValueType, TValueTypes::INT32);
  EXPECT_EQ(parameters[1].Name, "");
  EXPECT_EQ(parameters[1].Direction, TParameterDirections::Return);
  EXPECT_EQ(parameters[1].ValueType, TValueTypes::WideString);
  EXPECT_EQ(parameters[1].TypeName, "String");
  EXPECT_EQ(CachedResultParameters(remote::Opciones).size(), 1u);
}

TEST(RemoteMethods, EnvelopesAndTheOptionsForm) {
  EXPECT_EQ(ResultEnvelope("\"a\",1"), R"({"result":["a",1]})");
  EXPECT_EQ(ResultEnvelope(""), R"({"result":[]})");
  EXPECT_EQ(OpcionesForm(-3),
            R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":-3}})");
}

TEST(RemoteMethods, WhereParametersTravel) {
  struct TCase {
    std::int32_t Type;
    const char* TypeName;
    bool InBody;
  };
  const TCase kCases[] = {
      {TValueTypes::WideString, "string", false}, {TValueTypes::INT32, "Integer", false},
      {TValueTypes::BOOL, "Boolean", false},      {TValueTypes::JSON, "TJSONObject", true},
      {TValueTypes::JSON, "TDataSetList", true},  {TValueTypes::JSON, "TJSONString", false},
      {TValueTypes::JSON, "tjsonarray", true},    {TValueTypes::STREAM, "TStream", true},
      {TValueTypes::TABLE, "TDataSet", true},
  };
  for (const auto& c : kCases) EXPECT_EQ(TravelsInBody(c.Type, c.TypeName), c.InBody) << c.TypeName;
  EXPECT_TRUE(SendsAllInURL("get"));
  EXPECT_TRUE(SendsAllInURL(""));
  EXPECT_TRUE(SendsAllInURL("Delete"));
  EXPECT_FALSE(SendsAllInURL("POST"));
  EXPECT_FALSE(SendsAllInURL("PUT"));
}

}  // namespace
}  // namespace qvr::rest
