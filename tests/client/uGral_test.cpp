// The options record as a marshalled object: its exact object form and how
// the forms the server may send read back.
#include "client/uGral.h"

#include <gtest/gtest.h>

#include "rest/json/JSONReflect.h"
#include "rest/json/JSONText.h"
#include "rest/wire/Envelope.h"

namespace qvr::client {
namespace {

using rest::EConversionError;
using rest::ParseJSON;
using rest::TJSONConverters;
using rest::TJSONUnMarshal;

std::string MarshalText(std::int32_t AValue) {
  TOpciones o;
  o.IDStatusDefault = AValue;
  auto doc = TJSONConverters::GetJSONMarshaler()->Marshal(&o);
  return rest::WriteJSON(*doc);
}

// Unmarshals AText (which must parse) with an unmarshaller of its own, as
// the options call does, and requires a TOpciones.
std::int32_t ReadOpciones(const std::string& AText) {
  auto doc = ParseJSON(AText);
  if (doc == nullptr) throw std::runtime_error("test text does not parse: " + AText);
  TJSONUnMarshal unmarshaller;
  std::unique_ptr<TObject> object = unmarshaller.Unmarshal(doc.get());
  auto* opciones = dynamic_cast<TOpciones*>(object.get());
  if (opciones == nullptr) throw std::runtime_error("not a TOpciones");
  return opciones->IDStatusDefault;
}

TEST(TOpcionesForm, MarshalsExactly) {
  EXPECT_EQ(MarshalText(3), R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3}})");
  EXPECT_EQ(MarshalText(-1),
            R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":-1}})");
  EXPECT_EQ(MarshalText(0), R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":0}})");
}

// The client's registration and the form the server writes come from one
// description of the record (rest/wire/Envelope.h) and must not drift apart.
TEST(TOpcionesForm, IsTheFormTheServerWrites) {
  for (const std::int32_t value : {0, 3, -1, 2147483647}) {
    EXPECT_EQ(MarshalText(value), rest::OpcionesForm(value)) << value;
    EXPECT_EQ(ReadOpciones(rest::OpcionesForm(value)), value) << value;
  }
}

TEST(TOpcionesForm, ReadsWhatTheServerMaySend) {
  struct TCase {
    const char* Note;
    const char* Text;
    std::int32_t Expected;
  };
  const TCase cases[] = {
      {"value", R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3}})", 3},
      {"empty fields keep the constructor's 0", R"({"type":"uGral.TOpciones","id":1,"fields":{}})",
       0},
      {"number as text", R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":"7"}})",
       7},
      {"null gives 0", R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":null}})", 0},
      {"members in another order",
       R"({"fields":{"IDStatusDefault":5},"id":1,"type":"uGral.TOpciones"})", 5},
      {"extremes", R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":-2147483648}})",
       INT32_MIN},
  };
  for (const TCase& c : cases) EXPECT_EQ(ReadOpciones(c.Text), c.Expected) << c.Note;
}

TEST(TOpcionesForm, RoundTripsThroughText) {
  for (std::int32_t v : {0, 1, -1, 42, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(ReadOpciones(MarshalText(v)), v);
  }
}

// Each failure names the exception class and the exact message; the
// sanitizer run shows that no half-read object survives.
TEST(TOpcionesForm, FailsWithTheExactErrors) {
  EXPECT_THROW(
      {
        try {
          ReadOpciones(R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3.5}})");
        } catch (const EConvertError& e) {
          EXPECT_STREQ(e.what(), "'3.5' is not a valid integer value");
          throw;
        }
      },
      EConvertError);
  EXPECT_THROW(
      {
        try {
          ReadOpciones(
              R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":"99999999999"}})");
        } catch (const EConvertError& e) {
          EXPECT_STREQ(e.what(), "'99999999999' is not a valid integer value");
          throw;
        }
      },
      EConvertError);
  struct TCase {
    const char* Text;
    const char* Message;
  };
  const TCase cases[] = {
      {R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3,"Extra":1}})",
       "Internal: Field Extra cannot be found in type TOpciones"},
      {R"({"type":"uGral.TOtra","id":1,"fields":{}})",
       "Internal: Cannot instantiate type uGral.TOtra"},
      {"null", "The input value is not a valid Object"},
      {"[]", "The input value is not a valid Object"},
      {R"("uGral.TOpciones")", "The input value is not a valid Object"},
      {"3", "The input value is not a valid Object"},
      {"true", "The input value is not a valid Object"},
      {R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":true}})",
       "Internal: Value true cannot be converted to be assigned to field IDStatusDefault in type "
       "TOpciones"},
      {R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":[1]}})",
       "Cannot set value for field IDStatusDefault as it is expected to be an array instead of "
       "Integer"},
  };
  for (const TCase& c : cases) {
    try {
      ReadOpciones(c.Text);
      ADD_FAILURE() << "no error for " << c.Text;
    } catch (const EConversionError& e) {
      EXPECT_EQ(e.Message(), c.Message) << c.Text;
    }
  }
  // No value at all is no object either.
  TJSONUnMarshal unmarshaller;
  try {
    unmarshaller.Unmarshal(nullptr);
    ADD_FAILURE() << "no error for no value";
  } catch (const EConversionError& e) {
    EXPECT_EQ(e.Message(), "The input value is not a valid Object");
  }
}

TEST(TOpcionesForm, UnmarshalLeavesTheDocumentAlone) {
  auto doc = ParseJSON(R"({"type":"uGral.TOpciones","id":1,"fields":{"IDStatusDefault":3}})");
  const std::string before = rest::WriteJSON(*doc);
  auto unmarshaller = TJSONConverters::GetJSONUnMarshaler();
  auto object = unmarshaller->Unmarshal(*doc);
  unmarshaller.reset();  // releasing the unmarshaller keeps what it produced
  EXPECT_EQ(dynamic_cast<TOpciones&>(*object).IDStatusDefault, 3);
  EXPECT_EQ(rest::WriteJSON(*doc), before);
}

}  // namespace
}  // namespace qvr::client
