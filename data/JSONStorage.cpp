// Saving and loading the JSON storage format; see JSONStorage.h.
#include "data/JSONStorage.h"

#include <rapidjson/document.h>
#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>
#include <vector>

#include "data/FieldDefs.h"
#include "data/FieldValues.h"
#include "data/Fields.h"
#include "platform/StrUtils.h"
#include "platform/Utf.h"

namespace qvr::data {

namespace {

constexpr const char* kHex = "0123456789abcdef";

bool TypeFromName(std::string_view AName, TFieldType& AType) {
  for (std::uint8_t t = 1; t <= 7; ++t) {
    if (FieldTypeName(static_cast<TFieldType>(t)) == AName) {
      AType = static_cast<TFieldType>(t);
      return true;
    }
  }
  return false;
}

using TJsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteDouble(TJsonWriter& AOut, double AValue) {
  // JSON has no form for these; they travel as text.
  if (std::isnan(AValue)) {
    AOut.String("NaN");
  } else if (std::isinf(AValue)) {
    AOut.String(AValue > 0 ? "Infinity" : "-Infinity");
  } else {
    AOut.Double(AValue);
  }
}

void WriteCell(TJsonWriter& AOut, const TColumn& AColumn, std::size_t ARow) {
  if (AColumn.Nulls()[ARow] != 0) {
    AOut.Null();
    return;
  }
  switch (AColumn.DataType()) {
    case TFieldType::ftInteger:
      AOut.Int(AColumn.Int32s()[ARow]);
      break;
    case TFieldType::ftLargeint:
      AOut.Int64(AColumn.Int64s()[ARow]);
      break;
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime:
      WriteDouble(AOut, AColumn.Doubles()[ARow]);
      break;
    case TFieldType::ftBoolean:
      AOut.Bool(AColumn.Booleans()[ARow] != 0);
      break;
    case TFieldType::ftString: {
      const std::string_view t = AColumn.Text(ARow);
      AOut.String(t.data(), static_cast<rapidjson::SizeType>(t.size()));
      break;
    }
    case TFieldType::ftBytes: {
      const std::string_view t = AColumn.Text(ARow);
      std::string hex;
      hex.reserve(t.size() * 2);
      for (unsigned char c : t) {
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
      }
      AOut.String(hex.data(), static_cast<rapidjson::SizeType>(hex.size()));
      break;
    }
  }
}

TValue ReadCell(const rapidjson::Value& AValue, TFieldType AType) {
  if (AValue.IsNull()) return TValue();
  switch (AType) {
    case TFieldType::ftInteger:
      if (!AValue.IsInt()) throw EJSONStorageError();
      return TValue(std::int64_t{AValue.GetInt()});
    case TFieldType::ftLargeint:
      if (!AValue.IsInt64()) throw EJSONStorageError();
      return TValue(AValue.GetInt64());
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime:
      if (AValue.IsNumber()) return TValue(AValue.GetDouble());
      if (AValue.IsString()) {
        const std::string_view s(AValue.GetString(), AValue.GetStringLength());
        if (s == "NaN") return TValue(std::nan(""));
        if (s == "Infinity") return TValue(HUGE_VAL);
        if (s == "-Infinity") return TValue(-HUGE_VAL);
      }
      throw EJSONStorageError();
    case TFieldType::ftBoolean:
      if (!AValue.IsBool()) throw EJSONStorageError();
      return TValue(AValue.GetBool());
    case TFieldType::ftString:
      if (!AValue.IsString()) throw EJSONStorageError();
      return TValue(std::string(AValue.GetString(), AValue.GetStringLength()));
    case TFieldType::ftBytes: {
      if (!AValue.IsString() || AValue.GetStringLength() % 2 != 0) throw EJSONStorageError();
      const char* s = AValue.GetString();
      TBytes bytes(AValue.GetStringLength() / 2);
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int hi = HexDigit(s[2 * i]), lo = HexDigit(s[2 * i + 1]);
        if (hi < 0 || lo < 0) throw EJSONStorageError();
        bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
      }
      return TValue(std::move(bytes));
    }
  }
  throw EJSONStorageError();
}

// True when the number text (JSON grammar) has a magnitude below 1, for a
// text that does not fit a double: then it is too small rather than too
// large. Exponents saturate, so no text can overflow the count.
bool BelowOne(std::string_view ANumber) {
  std::size_t i = ANumber.starts_with('-') ? 1 : 0;
  // Below this, ten times a count plus a digit still fits 64 bits.
  constexpr std::int64_t kLimit = 100'000'000'000'000'000;
  std::int64_t position = 0;  // decimal exponent of the first non-zero digit, plus one
  bool nonZero = false;
  bool fraction = false;
  for (; i < ANumber.size() && ANumber[i] != 'e' && ANumber[i] != 'E'; ++i) {
    if (ANumber[i] == '.') {
      fraction = true;
    } else if (!nonZero && ANumber[i] == '0') {
      if (fraction && position > -kLimit) --position;
    } else if (!nonZero) {
      nonZero = true;
      if (!fraction) position = 1;
    } else if (!fraction && position < kLimit) {
      ++position;
    }
  }
  std::int64_t exponent = 0;
  bool negative = false;
  if (i < ANumber.size()) {
    ++i;
    if (i < ANumber.size() && (ANumber[i] == '-' || ANumber[i] == '+'))
      negative = ANumber[i++] == '-';
    for (; i < ANumber.size(); ++i) {
      if (exponent < kLimit) exponent = exponent * 10 + (ANumber[i] - '0');
    }
  }
  return position + (negative ? -exponent : exponent) <= 0;
}

// Forwards the reader's events to a document, turning each number's text into
// its value: integers exactly, other numbers correctly rounded (std::from_chars),
// so that the text the saver writes for a double gives that double again.
// RapidJSON's own conversions are either not correctly rounded or, in its
// full-precision mode, undefined for some texts.
class TPreciseNumbers {
 public:
  explicit TPreciseNumbers(rapidjson::Document& ADocument) : FDoc(ADocument) {}

  bool RawNumber(const char* AText, rapidjson::SizeType ALength, bool) {
    const char* end = AText + ALength;
    if (std::find_if(AText, end, [](char c) { return c == '.' || c == 'e' || c == 'E'; }) == end) {
      std::int64_t i = 0;
      if (std::from_chars(AText, end, i).ec == std::errc()) return FDoc.Int64(i);
      std::uint64_t u = 0;
      if (std::from_chars(AText, end, u).ec == std::errc()) return FDoc.Uint64(u);
    }
    double d = 0;
    const auto [ptr, ec] = std::from_chars(AText, end, d);
    if (ec == std::errc() && ptr == end) return FDoc.Double(d);
    // Too small for a double: zero, with its sign. Too large: not a number
    // this format can hold.
    if (ec == std::errc::result_out_of_range && BelowOne(std::string_view(AText, ALength))) {
      return FDoc.Double(*AText == '-' ? -0.0 : 0.0);
    }
    return false;
  }
  bool Null() { return FDoc.Null(); }
  bool Bool(bool AValue) { return FDoc.Bool(AValue); }
  // Numbers arrive as text (kParseNumbersAsStringsFlag); these are not called.
  bool Int(int AValue) { return FDoc.Int(AValue); }
  bool Uint(unsigned AValue) { return FDoc.Uint(AValue); }
  bool Int64(std::int64_t AValue) { return FDoc.Int64(AValue); }
  bool Uint64(std::uint64_t AValue) { return FDoc.Uint64(AValue); }
  bool Double(double AValue) { return FDoc.Double(AValue); }
  bool String(const char* AText, rapidjson::SizeType ALength, bool ACopy) {
    return FDoc.String(AText, ALength, ACopy);
  }
  bool StartObject() { return FDoc.StartObject(); }
  bool Key(const char* AText, rapidjson::SizeType ALength, bool ACopy) {
    return FDoc.Key(AText, ALength, ACopy);
  }
  bool EndObject(rapidjson::SizeType ACount) { return FDoc.EndObject(ACount); }
  bool StartArray() { return FDoc.StartArray(); }
  bool EndArray(rapidjson::SizeType ACount) { return FDoc.EndArray(ACount); }

 private:
  rapidjson::Document& FDoc;
};

// Parses AText into ADoc; false for text that is not one whole JSON value.
bool ParseDocument(rapidjson::Document& ADoc, std::string_view AText) {
  bool parsed = false;
  auto generate = [&](rapidjson::Document& AHandler) {
    rapidjson::MemoryStream memory(AText.data(), AText.size());
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> in(memory);
    TPreciseNumbers handler(AHandler);
    rapidjson::Reader reader;
    // The iterative parser keeps deeply nested input from exhausting the stack.
    reader.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag |
                 rapidjson::kParseNumbersAsStringsFlag>(in, handler);
    parsed = !reader.HasParseError();
    return parsed;
  };
  ADoc.Populate(generate);
  return parsed;
}

}  // namespace

std::string TJSONStorage::SaveToText(const TAdaptedDataSet& ADataSet) {
  const auto rows = static_cast<std::size_t>(ADataSet.RecordCount());
  const auto& defs = ADataSet.ColumnDefs();
  rapidjson::StringBuffer buffer;
  TJsonWriter out(buffer);
  out.StartObject();
  out.Key("name");
  out.String(ADataSet.Name().c_str(), static_cast<rapidjson::SizeType>(ADataSet.Name().size()));
  out.Key("fields");
  out.StartArray();
  for (const auto& def : defs) {
    out.StartObject();
    out.Key("name");
    out.String(def.Name.c_str(), static_cast<rapidjson::SizeType>(def.Name.size()));
    out.Key("type");
    out.String(FieldTypeName(def.DataType).c_str());
    out.Key("required");
    out.Bool(def.Required);
    out.EndObject();
  }
  out.EndArray();
  out.Key("rows");
  out.StartArray();
  for (std::size_t r = 0; r < rows; ++r) {
    out.StartArray();
    for (std::size_t c = 0; c < defs.size(); ++c) {
      WriteCell(out, ADataSet.Column(static_cast<int>(c)), r);
    }
    out.EndArray();
  }
  out.EndArray();
  out.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

void TJSONStorage::Save(const TAdaptedDataSet& ADataSet, TStream& AStream) {
  AStream.Write(SaveToText(ADataSet));
}

void TJSONStorage::Load(TAdaptedDataSet& ADataSet, std::string_view AText) {
  rapidjson::Document doc;
  if (!ParseDocument(doc, AText) || !doc.IsObject()) throw EJSONStorageError();
  const auto name = doc.FindMember("name");
  const auto fields = doc.FindMember("fields");
  const auto rows = doc.FindMember("rows");
  if (fields == doc.MemberEnd() || !fields->value.IsArray() || rows == doc.MemberEnd() ||
      !rows->value.IsArray() || (name != doc.MemberEnd() && !name->value.IsString())) {
    throw EJSONStorageError();
  }
  TFieldDefs defs;
  for (const auto& f : fields->value.GetArray()) {
    if (!f.IsObject()) throw EJSONStorageError();
    const auto n = f.FindMember("name");
    const auto t = f.FindMember("type");
    const auto q = f.FindMember("required");
    TFieldType type{};
    if (n == f.MemberEnd() || !n->value.IsString() || n->value.GetStringLength() == 0 ||
        t == f.MemberEnd() || !t->value.IsString() ||
        !TypeFromName(std::string_view(t->value.GetString(), t->value.GetStringLength()), type) ||
        (q != f.MemberEnd() && !q->value.IsBool())) {
      throw EJSONStorageError();
    }
    // An escaped lone surrogate decodes to bytes that are no UTF-8; names
    // keep U+FFFD instead, as text values do, so that they can be saved.
    const std::string fieldName =
        SanitizeUtf8(std::string_view(n->value.GetString(), n->value.GetStringLength()));
    if (defs.IndexOf(fieldName) >= 0) throw EJSONStorageError();
    defs.Add(fieldName, type, q != f.MemberEnd() && q->value.GetBool());
  }
  std::vector<TColumn> columns;
  // Nothing is reserved from the counts: columns times rows could far exceed
  // what the text holds, while values appended one by one never do.
  for (const auto& def : defs.Items()) columns.emplace_back(def.DataType);
  if (defs.Count() == 0 && !rows->value.Empty()) throw EJSONStorageError();
  for (const auto& row : rows->value.GetArray()) {
    if (!row.IsArray() || row.Size() != static_cast<rapidjson::SizeType>(defs.Count())) {
      throw EJSONStorageError();
    }
    for (int c = 0; c < defs.Count(); ++c) {
      const TValue v = ReadCell(row[static_cast<rapidjson::SizeType>(c)], defs[c].DataType);
      if (v.IsNull() && defs[c].Required) throw EJSONStorageError();
      columns[static_cast<std::size_t>(c)].Append(v, defs[c].Name);
    }
  }
  ADataSet.Close();
  ADataSet.SetName(
      name == doc.MemberEnd()
          ? std::string()
          : SanitizeUtf8(std::string_view(name->value.GetString(), name->value.GetStringLength())));
  ADataSet.LoadData(defs.Items(), std::move(columns));
}

void TJSONStorage::Load(TAdaptedDataSet& ADataSet, TStream& AStream) {
  Load(ADataSet, ReadToEnd(AStream));
}

}  // namespace qvr::data
