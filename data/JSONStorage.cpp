// Saving and loading the JSON storage format; see JSONStorage.h.
#include "data/JSONStorage.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace qvr::data {

namespace {

constexpr const char* kHex = "0123456789abcdef";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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
  // The iterative parser keeps deeply nested input from exhausting the stack.
  // Full precision: numbers correctly rounded, so that the text the saver
  // writes for a double (which reads back to it only when rounded correctly)
  // gives that double again.
  doc.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag |
            rapidjson::kParseFullPrecisionFlag>(AText.data(), AText.size());
  if (doc.HasParseError() || !doc.IsObject()) throw EJSONStorageError();
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
    const std::string fieldName(n->value.GetString(), n->value.GetStringLength());
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
  ADataSet.SetName(name == doc.MemberEnd()
                       ? std::string()
                       : std::string(name->value.GetString(), name->value.GetStringLength()));
  ADataSet.LoadData(defs.Items(), std::move(columns));
}

void TJSONStorage::Load(TAdaptedDataSet& ADataSet, TStream& AStream) {
  Load(ADataSet, ReadToEnd(AStream));
}

}  // namespace qvr::data
