// Columns and fields: how a column stores each type and converts what it is
// given, and how a field reads and writes the dataset's current record; see
// Fields.h.
#include "data/Fields.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <type_traits>

#include "data/DataSet.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"

namespace qvr::data {

namespace {

[[noreturn]] void RaiseCannotAccess(const std::string& AField, const char* AType) {
  throw EDataSetError(Format("Cannot access field '%s' as type %s", AField, AType));
}

[[noreturn]] void RaiseDoesNotFit(const std::string& AField, TFieldType AType) {
  throw EDataSetError(
      Format("Value does not fit field '%s' of type %s", AField, FieldTypeName(AType)));
}

std::string FloatText(double AValue) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", AValue);
  return buf;
}

// Days since 1899-12-30 to "YYYY-MM-DD HH:MM:SS" (proleptic Gregorian calendar).
std::string DateTimeText(TDateTime AValue) {
  if (!std::isfinite(AValue) || std::fabs(AValue) > 3.0e6) return FloatText(AValue);
  double days = std::floor(AValue);
  // Round to whole seconds, carrying into the day.
  auto secs = static_cast<std::int64_t>(std::llround((AValue - days) * 86400.0));
  if (secs >= 86400) {
    secs -= 86400;
    days += 1;
  }
  // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
  std::int64_t z = static_cast<std::int64_t>(days) - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = yoe + era * 400;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[160];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                static_cast<long long>(secs % 60));
  return buf;
}

std::optional<std::int64_t> ParseInt(std::string_view AText) {
  std::int64_t v = 0;
  const auto* end = AText.data() + AText.size();
  auto [p, ec] = std::from_chars(AText.data(), end, v);
  if (ec != std::errc() || p != end || AText.empty()) return std::nullopt;
  return v;
}

std::optional<double> ParseFloat(std::string_view AText) {
  double v = 0;
  const auto* end = AText.data() + AText.size();
  auto [p, ec] = std::from_chars(AText.data(), end, v);
  if (ec != std::errc() || p != end || AText.empty()) return std::nullopt;
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------
// TColumn

TColumn::TColumn(TFieldType AType) : FType(AType) {
  switch (AType) {
    case TFieldType::ftInteger:
      FValues.emplace<std::vector<std::int32_t>>();
      break;
    case TFieldType::ftLargeint:
      FValues.emplace<std::vector<std::int64_t>>();
      break;
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime:
      FValues.emplace<std::vector<double>>();
      break;
    case TFieldType::ftBoolean:
      FValues.emplace<std::vector<std::uint8_t>>();
      break;
    case TFieldType::ftString:
    case TFieldType::ftBytes:
      FValues.emplace<TTextStore>();
      break;
  }
}

void TColumn::Reserve(std::size_t ACount) {
  FNulls.reserve(ACount);
  std::visit(
      [ACount](auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, TTextStore>) {
          v.Ends.reserve(ACount);
        } else {
          v.reserve(ACount);
        }
      },
      FValues);
}

void TColumn::Clear() {
  FNulls.clear();
  std::visit(
      [](auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, TTextStore>) {
          v.Buffer.clear();
          v.Ends.clear();
        } else {
          v.clear();
        }
      },
      FValues);
}

void TColumn::PopBack() {
  if (FNulls.empty()) return;
  FNulls.pop_back();
  std::visit(
      [](auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, TTextStore>) {
          v.Ends.pop_back();
          v.Buffer.resize(v.Ends.empty() ? 0 : v.Ends.back());
        } else {
          v.pop_back();
        }
      },
      FValues);
}

std::string_view TColumn::Text(std::size_t ARow) const {
  const TTextStore& t = Texts();
  const std::size_t end = t.Ends.at(ARow);
  const std::size_t begin = ARow == 0 ? 0 : t.Ends[ARow - 1];
  return std::string_view(t.Buffer).substr(begin, end - begin);
}

void TColumn::AppendText(std::string_view AValue) {
  TTextStore& t = Texts();
  t.Buffer.append(AValue);
  t.Ends.push_back(t.Buffer.size());
  FNulls.push_back(0);
}

void TColumn::AssignText(std::vector<std::uint8_t> ANulls, std::string ABuffer,
                         std::vector<std::size_t> AEnds) {
  TTextStore& t = Texts();
  bool fits = ANulls.size() == AEnds.size() &&
              (AEnds.empty() ? ABuffer.empty() : AEnds.back() == ABuffer.size());
  std::size_t begin = 0;
  for (std::size_t r = 0; fits && r < AEnds.size(); ++r) {
    fits = AEnds[r] >= begin && (ANulls[r] == 0 || (ANulls[r] == 1 && AEnds[r] == begin));
    begin = AEnds[r];
  }
  if (!fits) throw EDataSetError("Column does not match its definition");
  FNulls = std::move(ANulls);
  t.Buffer = std::move(ABuffer);
  t.Ends = std::move(AEnds);
}

TValue TColumn::Get(std::size_t ARow) const {
  if (FNulls.at(ARow) != 0) return TValue();
  switch (FType) {
    case TFieldType::ftInteger:
      return TValue(std::int64_t{Int32s()[ARow]});
    case TFieldType::ftLargeint:
      return TValue(Int64s()[ARow]);
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime:
      return TValue(Doubles()[ARow]);
    case TFieldType::ftBoolean:
      return TValue(Booleans()[ARow] != 0);
    case TFieldType::ftString:
      return TValue(Text(ARow));
    case TFieldType::ftBytes: {
      const std::string_view s = Text(ARow);
      return TValue(TBytes(s.begin(), s.end()));
    }
  }
  return TValue();
}

void TColumn::AppendNull() {
  std::visit(
      [](auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, TTextStore>) {
          v.Ends.push_back(v.Buffer.size());
        } else {
          v.emplace_back();
        }
      },
      FValues);
  FNulls.push_back(1);
}

void TColumn::Append(const TValue& AValue, const std::string& AFieldName) {
  if (AValue.IsNull()) {
    AppendNull();
    return;
  }
  const auto& d = AValue.Data();
  switch (FType) {
    case TFieldType::ftInteger: {
      std::int64_t v = 0;
      if (const auto* i = std::get_if<std::int64_t>(&d)) {
        v = *i;
      } else if (const auto* s = std::get_if<std::string>(&d)) {
        auto p = ParseInt(*s);
        if (!p) RaiseDoesNotFit(AFieldName, FType);
        v = *p;
      } else {
        RaiseDoesNotFit(AFieldName, FType);
      }
      if (v < std::numeric_limits<std::int32_t>::min() ||
          v > std::numeric_limits<std::int32_t>::max()) {
        RaiseDoesNotFit(AFieldName, FType);
      }
      Int32s().push_back(static_cast<std::int32_t>(v));
      break;
    }
    case TFieldType::ftLargeint: {
      if (const auto* i = std::get_if<std::int64_t>(&d)) {
        Int64s().push_back(*i);
      } else if (const auto* s = std::get_if<std::string>(&d); s != nullptr && ParseInt(*s)) {
        Int64s().push_back(*ParseInt(*s));
      } else {
        RaiseDoesNotFit(AFieldName, FType);
      }
      break;
    }
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime: {
      if (const auto* f = std::get_if<double>(&d)) {
        Doubles().push_back(*f);
      } else if (const auto* i = std::get_if<std::int64_t>(&d)) {
        Doubles().push_back(static_cast<double>(*i));
      } else if (const auto* s = std::get_if<std::string>(&d); s != nullptr && ParseFloat(*s)) {
        Doubles().push_back(*ParseFloat(*s));
      } else {
        RaiseDoesNotFit(AFieldName, FType);
      }
      break;
    }
    case TFieldType::ftBoolean: {
      if (const auto* b = std::get_if<bool>(&d)) {
        Booleans().push_back(*b ? 1 : 0);
      } else {
        RaiseDoesNotFit(AFieldName, FType);
      }
      break;
    }
    case TFieldType::ftString:
    case TFieldType::ftBytes: {
      if (const auto* s = std::get_if<std::string>(&d)) {
        // Text from callers may be anything; the column keeps valid UTF-8.
        if (FType == TFieldType::ftString && !IsValidUtf8(*s)) {
          AppendText(SanitizeUtf8(*s));
        } else {
          AppendText(*s);
        }
      } else if (const auto* b = std::get_if<TBytes>(&d)) {
        const std::string_view bytes(reinterpret_cast<const char*>(b->data()), b->size());
        if (FType == TFieldType::ftString && !IsValidUtf8(bytes)) {
          AppendText(SanitizeUtf8(bytes));
        } else {
          AppendText(bytes);
        }
      } else if (FType == TFieldType::ftString) {
        // Numbers and Booleans given to a text column keep their text form.
        if (const auto* i = std::get_if<std::int64_t>(&d)) {
          AppendText(std::to_string(*i));
        } else if (const auto* f = std::get_if<double>(&d)) {
          AppendText(FloatText(*f));
        } else {
          AppendText(std::get<bool>(d) ? "True" : "False");
        }
      } else {
        RaiseDoesNotFit(AFieldName, FType);
      }
      return;  // AppendText recorded the row as not null
    }
  }
  FNulls.push_back(0);
}

// ---------------------------------------------------------------------------
// TField

const std::string& TField::FieldName() const {
  return FDataSet->FColumnDefs.at(static_cast<std::size_t>(FIndex)).Name;
}

TFieldType TField::DataType() const {
  return FDataSet->FColumnDefs.at(static_cast<std::size_t>(FIndex)).DataType;
}

TValue TField::Value() const { return FDataSet->CurrentValue(FIndex); }

bool TField::IsNull() const { return Value().IsNull(); }

std::int64_t TField::AsLargeInt() const {
  const TValue v = Value();
  const auto& d = v.Data();
  if (v.IsNull()) return 0;
  if (const auto* i = std::get_if<std::int64_t>(&d)) return *i;
  if (const auto* b = std::get_if<bool>(&d)) return *b ? 1 : 0;
  if (const auto* s = std::get_if<std::string>(&d);
      s != nullptr && DataType() == TFieldType::ftString) {
    if (auto p = ParseInt(*s)) return *p;
    throw EConvertError(Format("'%s' is not a valid integer value", *s));
  }
  RaiseCannotAccess(FieldName(), "Largeint");
}

std::int32_t TField::AsInteger() const {
  const std::int64_t v = AsLargeInt();
  if (v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max()) {
    RaiseCannotAccess(FieldName(), "Integer");
  }
  return static_cast<std::int32_t>(v);
}

double TField::AsFloat() const {
  const TValue v = Value();
  const auto& d = v.Data();
  if (v.IsNull()) return 0;
  if (const auto* f = std::get_if<double>(&d)) return *f;
  if (const auto* i = std::get_if<std::int64_t>(&d)) return static_cast<double>(*i);
  if (const auto* s = std::get_if<std::string>(&d);
      s != nullptr && DataType() == TFieldType::ftString) {
    if (auto p = ParseFloat(*s)) return *p;
    throw EConvertError(Format("'%s' is not a valid floating point value", *s));
  }
  RaiseCannotAccess(FieldName(), "Float");
}

bool TField::AsBoolean() const {
  const TValue v = Value();
  const auto& d = v.Data();
  if (v.IsNull()) return false;
  if (const auto* b = std::get_if<bool>(&d)) return *b;
  if (const auto* i = std::get_if<std::int64_t>(&d)) return *i != 0;
  RaiseCannotAccess(FieldName(), "Boolean");
}

std::string TField::AsString() const {
  const TValue v = Value();
  const auto& d = v.Data();
  if (v.IsNull()) return {};
  if (const auto* s = std::get_if<std::string>(&d)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&d)) return std::to_string(*i);
  if (const auto* b = std::get_if<bool>(&d)) return *b ? "True" : "False";
  if (const auto* f = std::get_if<double>(&d)) {
    return DataType() == TFieldType::ftDateTime ? DateTimeText(*f) : FloatText(*f);
  }
  const auto& bytes = std::get<TBytes>(d);
  return std::string(bytes.begin(), bytes.end());
}

TDateTime TField::AsDateTime() const {
  if (DataType() != TFieldType::ftDateTime && DataType() != TFieldType::ftFloat) {
    RaiseCannotAccess(FieldName(), "DateTime");
  }
  return AsFloat();
}

TBytes TField::AsBytes() const {
  const TValue v = Value();
  const auto& d = v.Data();
  if (v.IsNull()) return {};
  if (const auto* b = std::get_if<TBytes>(&d)) return *b;
  if (const auto* s = std::get_if<std::string>(&d)) return TBytes(s->begin(), s->end());
  RaiseCannotAccess(FieldName(), "Bytes");
}

void TField::SetValue(const TValue& AValue) { FDataSet->SetBufferValue(FIndex, AValue); }

}  // namespace qvr::data
