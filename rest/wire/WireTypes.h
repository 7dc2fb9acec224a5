// The vocabulary of the server's remote interface that the client, the
// server and the tests share: the type codes and directions of parameters,
// and one row of a remote method's parameter table as the interface
// describes it (constant text, so that the whole description is a constant
// table; the client turns a row into its TRestParameterMetaData).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvr::rest {

// The type codes of parameters, and their names in messages
// ("TValueTypes.BOOL").
struct TValueTypes {
  static constexpr std::int32_t BOOL = 4;
  static constexpr std::int32_t INT32 = 6;
  static constexpr std::int32_t TABLE = 23;
  static constexpr std::int32_t WideString = 26;
  static constexpr std::int32_t STREAM = 33;
  static constexpr std::int32_t JSON = 37;

  // "TValueTypes." and the code's name ("TValueTypes.<code>" for a code
  // without one).
  static std::string QualifiedName(std::int32_t AValueType);
};

// The directions of a parameter.
struct TParameterDirections {
  static constexpr std::int32_t In = 1;
  static constexpr std::int32_t Out = 2;
  static constexpr std::int32_t InOut = 3;
  static constexpr std::int32_t Return = 4;

  static constexpr bool IsIn(std::int32_t ADirection) {
    return ADirection == In || ADirection == InOut;
  }
  static constexpr bool IsOut(std::int32_t ADirection) {
    return ADirection == Out || ADirection == InOut || ADirection == Return;
  }
};

// One parameter of a remote method: its name (empty for the return value),
// direction, type code and the type name the server declares ("string",
// "Integer", "TJSONObject", "TDataSetList", ...; letter case as declared).
struct TWireParameter {
  std::string_view Name;
  std::int32_t Direction = TParameterDirections::In;
  std::int32_t ValueType = TValueTypes::WideString;
  std::string_view TypeName;
};

// Whether an in-parameter of this type must travel in the request body
// rather than in a URL path segment: tables, streams, and JSON values other
// than the JSON library's own scalar classes (a "TJSONObject", a
// "TDataSetList"; a "TJSONString" may go in the URL).
bool TravelsInBody(std::int32_t AValueType, std::string_view ATypeName);

// Whether a request with this verb puts every in-parameter in the URL (GET,
// DELETE and the empty verb, in any letter case), because it carries no body.
bool SendsAllInURL(std::string_view AVerb);

}  // namespace qvr::rest
