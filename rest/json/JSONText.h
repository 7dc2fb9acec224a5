// The text form of JSON values: the compact writer used for every request body
// and JSON text the client produces, its unescaped variant for error messages,
// and the parser that turns the server's answers into JSON values.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "rest/json/JSONValues.h"

namespace qvr::rest {

// Compact JSON text of AValue: no whitespace, ":" after names, "," between
// members and elements. In strings and names: \b \t \n \f \r, \" \\ \/, and
// every other UTF-16 code unit below 0x20 or above 0x7F as \u and four
// uppercase hex digits (a character outside the basic plane gives two). A
// number is its kept text; a null string is null. The result is pure ASCII.
std::string WriteJSON(const TJSONValue& AValue);
// Appends the same text to AOut.
void WriteJSON(const TJSONValue& AValue, std::string& AOut);

// Appends AText as a JSON string literal, escaped as WriteJSON escapes strings.
void WriteJSONString(std::string_view AText, std::string& AOut);

// As WriteJSON, but every character below 0x20 or above 0x7F other than the
// five named control characters is left as it is (UTF-8). For error messages.
std::string WriteJSONUnescaped(const TJSONValue& AValue);

// Parses UTF-8 JSON text. Returns null ("no JSON") for a syntax error, text
// left over after the value (whitespace excepted), no value at all, or
// nesting deeper than 512 levels; never raises for bad text. Numbers keep
// their text, duplicate names are kept in order, invalid UTF-8 sequences and
// \u escapes of lone surrogates are read as U+FFFD.
std::unique_ptr<TJSONValue> ParseJSON(std::string_view AText);
// The same, for callers holding a std::string or a C string.
std::unique_ptr<TJSONValue> ParseJSON(const std::string& AText);
std::unique_ptr<TJSONValue> ParseJSON(const char* AText);

// The same, giving no JSON for a text of more than AMaxValues values (every
// scalar, array and object counts), for readers of untrusted text that know
// how many values they can need: many tiny values cost many times their
// text in memory.
std::unique_ptr<TJSONValue> ParseJSON(std::string_view AText, std::size_t AMaxValues);

// The deepest nesting of arrays and objects that ParseJSON accepts.
inline constexpr int kMaxJSONDepth = 512;

}  // namespace qvr::rest
