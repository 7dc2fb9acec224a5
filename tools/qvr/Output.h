// What a command prints on standard output, in the format --format chose:
// - table (the default, for a terminal): a dataset list as aligned tables,
//   one per dataset under its name; an object as name/value lines;
// - json: the JSON as the server sent it, indented;
// - csv (for scripts): each dataset as a header line and one line per row,
//   datasets one after another with an empty line between them; an object
//   as a header line and one line of values.
// Texts and Booleans are one plain line in every format but json, where
// they are JSON values.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "rest/datasets/DataSetJSONReflect.h"
#include "rest/json/JSONValues.h"
#include "tools/qvr/Arguments.h"

namespace qvr::cli {

// The call was made, but its answer does not hold what the command prints:
// no JSON result, no dataset of the name --dataset gives, no employee of the
// code. A failed call (exit status 1), not a usage error: something was sent.
class EResultError : public Exception {
 public:
  using Exception::Exception;
};

// "the server's answer is not a JSON result": a 200 whose body the command
// layer read as no result at all (not JSON, no "result", a "result" that is
// no array), which is no error there.
inline constexpr const char* kNoJSONResult = "the server's answer is not a JSON result";

class TOutput {
 public:
  // ADataSet (--dataset) limits dataset lists to the dataset of that name.
  TOutput(std::ostream& AOut, TFormat AFormat, std::optional<std::string> ADataSet = {});

  TFormat Format() const { return FFormat; }

  void Text(const std::string& AText);
  // "true" or "false".
  void Boolean(bool AValue);
  // A dataset list; nothing for an absent one ("null" in json). In json the
  // list's marshalled form, as the server sends it. Raises EResultError when
  // --dataset names a dataset the list does not hold.
  void DataSetList(const rest::TDataSetList* AList);
  // An object of named values (an employee, the settings). Values that are
  // objects or arrays show as compact JSON in table and csv.
  void Object(const rest::TJSONObject& AObject);
  // Any JSON value as the server left it (a cached value or command): a
  // marshalled dataset list as DataSetList, an object as Object, an array
  // one element a line, other values as a line; nothing for none.
  void Value(const rest::TJSONValue* AValue);

 private:
  void WriteCsvRow(const std::vector<std::string>& ACells);

  std::ostream& FOut;
  TFormat FFormat;
  std::optional<std::string> FDataSet;
};

// The dataset list that the marshalled value AValue holds. Raises
// EInvalidCast for a value that holds none.
std::unique_ptr<rest::TDataSetList> UnmarshalList(const rest::TJSONValue& AValue);

}  // namespace qvr::cli
