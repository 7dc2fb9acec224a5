// Parameter tables, parameters and their value slots; see RestParameters.h.
#include "rest/RestParameters.h"

#include <charconv>
#include <system_error>

#include "platform/SysUtils.h"
#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"

namespace qvr::rest {

std::vector<TRestParameterMetaData> MetaDataOf(std::span<const TWireParameter> AParameters) {
  std::vector<TRestParameterMetaData> rows;
  rows.reserve(AParameters.size());
  for (const TWireParameter& parameter : AParameters) {
    rows.push_back({std::string(parameter.Name), parameter.Direction, parameter.ValueType,
                    std::string(parameter.TypeName)});
  }
  return rows;
}

namespace {

TParameterValue::TKind KindOf(std::int32_t AValueType) {
  switch (AValueType) {
    case TValueTypes::BOOL:
      return TParameterValue::TKind::Boolean;
    case TValueTypes::INT32:
      return TParameterValue::TKind::Int32;
    case TValueTypes::WideString:
      return TParameterValue::TKind::Text;
    case TValueTypes::JSON:
      return TParameterValue::TKind::JSON;
    case TValueTypes::STREAM:
      return TParameterValue::TKind::Stream;
    default:
      return TParameterValue::TKind::None;
  }
}

std::int32_t TypeOfKind(TParameterValue::TKind AKind) {
  switch (AKind) {
    case TParameterValue::TKind::Boolean:
      return TValueTypes::BOOL;
    case TParameterValue::TKind::Int32:
      return TValueTypes::INT32;
    case TParameterValue::TKind::Text:
      return TValueTypes::WideString;
    case TParameterValue::TKind::JSON:
      return TValueTypes::JSON;
    case TParameterValue::TKind::Stream:
      return TValueTypes::STREAM;
    case TParameterValue::TKind::None:
      break;
  }
  return 0;
}

// A string or number element's text read as an integer slot reads it: "True"
// and "False" in any letter case (strings only), else the integer rule.
std::int32_t IntegerOf(const std::string& AText, bool AAllowBooleanNames) {
  if (AAllowBooleanNames) {
    if (SameText(AText, "True")) return 1;
    if (SameText(AText, "False")) return 0;
  }
  std::int32_t value = 0;
  if (!TryStrToInt(AText, value))
    throw EConvertError(Format("'%s' is not a valid integer value", AText));
  return value;
}

// A string element read into a Boolean slot: a number text is true when it is
// not zero; otherwise "True" or "False" in any letter case.
bool BooleanOfString(const std::string& AText) {
  double number = 0;
  const char* end = AText.data() + AText.size();
  const auto [ptr, error] = std::from_chars(AText.data(), end, number);
  if (error == std::errc() && ptr == end && !AText.empty()) return number != 0;
  // A number too large for a double is still a number, and not zero.
  if (error == std::errc::result_out_of_range && ptr == end) return true;
  if (SameText(AText, "True")) return true;
  if (SameText(AText, "False")) return false;
  throw EConvertError(Format("'%s' is not a valid boolean value", AText));
}

[[noreturn]] void CannotConvert(const TJSONValue& AElement, std::int32_t ASlotType) {
  throw TValueError(Format("Cannot convert JSON value %s input into %s",
                           WriteJSONUnescaped(AElement), TValueTypes::QualifiedName(ASlotType)));
}

}  // namespace

TParameterValue::TParameterValue(std::int32_t AValueType)
    : FValueType(AValueType), FKind(KindOf(AValueType)) {}

TParameterValue::~TParameterValue() = default;

void TParameterValue::Expect(TKind AKind, std::int32_t AAsType) const {
  if (FKind != AKind)
    throw TValueError(Format("Cannot access a %s value as %s",
                             TValueTypes::QualifiedName(FValueType),
                             TValueTypes::QualifiedName(AAsType)));
}

void TParameterValue::SetWideString(std::string AValue) {
  Expect(TKind::Text, TValueTypes::WideString);
  FText = std::move(AValue);
  FIsNull = false;
}

void TParameterValue::SetInt32(std::int32_t AValue) {
  Expect(TKind::Int32, TValueTypes::INT32);
  FInt32 = AValue;
  FIsNull = false;
}

void TParameterValue::SetBoolean(bool AValue) {
  Expect(TKind::Boolean, TValueTypes::BOOL);
  FBoolean = AValue;
  FIsNull = false;
}

void TParameterValue::SetJSONValue(TMaybeOwned<TJSONValue> AValue) {
  Expect(TKind::JSON, TValueTypes::JSON);
  if (!AValue) {
    FJSON.Reset();
    return;
  }
  if (AValue.get() == FJSON.get()) {
    // The value the slot already holds: it stays owned if it was, and
    // becomes owned if the new handle owns it. Two owning handles on one
    // object cannot both release it; the slot keeps one.
    if (AValue.IsOwned()) {
      std::unique_ptr<TJSONValue> handed = AValue.TakeOwnership();
      if (FJSON.IsOwned()) {
        (void)handed.release();
      } else {
        FJSON = TMaybeOwned<TJSONValue>(std::move(handed));
      }
    }
    return;
  }
  FJSON = std::move(AValue);
}

void TParameterValue::SetStream(std::unique_ptr<TStream> AValue) {
  Expect(TKind::Stream, TValueTypes::STREAM);
  FStream = std::move(AValue);
}

void TParameterValue::SetNull() {
  switch (FKind) {
    case TKind::JSON:
      FJSON.Reset();
      break;
    case TKind::Stream:
      FStream.reset();
      break;
    default:
      FIsNull = true;
      break;
  }
}

const std::string& TParameterValue::GetWideString() const {
  Expect(TKind::Text, TValueTypes::WideString);
  return FText;
}

std::int32_t TParameterValue::GetInt32() const {
  Expect(TKind::Int32, TValueTypes::INT32);
  return FInt32;
}

bool TParameterValue::GetBoolean() const {
  Expect(TKind::Boolean, TValueTypes::BOOL);
  return FBoolean;
}

TMaybeOwned<TJSONValue> TParameterValue::GetJSONValue(bool AOwns) {
  Expect(TKind::JSON, TValueTypes::JSON);
  if (!AOwns) {
    if (std::unique_ptr<TJSONValue> handed = FJSON.TakeOwnership())
      return TMaybeOwned<TJSONValue>(std::move(handed));
  }
  return TMaybeOwned<TJSONValue>::Borrow(FJSON.get());
}

TStream* TParameterValue::GetStream() const {
  Expect(TKind::Stream, TValueTypes::STREAM);
  return FStream.get();
}

std::unique_ptr<TStream> TParameterValue::TakeStream() {
  Expect(TKind::Stream, TValueTypes::STREAM);
  return std::move(FStream);
}

bool TParameterValue::IsNull() const noexcept {
  switch (FKind) {
    case TKind::JSON:
      return !FJSON;
    case TKind::Stream:
      return FStream == nullptr;
    default:
      return FIsNull;
  }
}

void TParameterValue::StoreResult(std::unique_ptr<TJSONValue> AElement) {
  const TJSONValue& element = *AElement;
  const TJSONValue::TKind kind = element.Kind();
  if (FKind == TKind::JSON) {
    // A copy of the answer's element, owned, also for a JSON null.
    SetJSONValue(TMaybeOwned<TJSONValue>(std::move(AElement)));
    return;
  }
  if (kind == TJSONValue::TKind::Null) {
    SetNull();
    return;
  }
  const bool scalar = kind != TJSONValue::TKind::Object && kind != TJSONValue::TKind::Array;
  switch (FKind) {
    case TKind::Text:
      if (kind == TJSONValue::TKind::True) {
        SetWideString("-1");
      } else if (kind == TJSONValue::TKind::False) {
        SetWideString("0");
      } else if (scalar) {
        SetWideString(element.AsString()->Value());
      } else {
        SetWideString(WriteJSON(element));
      }
      return;
    case TKind::Boolean:
      if (!scalar) CannotConvert(element, FValueType);
      if (kind == TJSONValue::TKind::String) {
        SetBoolean(BooleanOfString(element.AsString()->Value()));
      } else if (kind == TJSONValue::TKind::Number) {
        SetBoolean(IntegerOf(element.AsString()->Value(), false) == 1);
      } else {
        SetBoolean(kind == TJSONValue::TKind::True);
      }
      return;
    case TKind::Int32:
      if (!scalar) CannotConvert(element, FValueType);
      if (kind == TJSONValue::TKind::String || kind == TJSONValue::TKind::Number) {
        SetInt32(IntegerOf(element.AsString()->Value(), kind == TJSONValue::TKind::String));
      } else {
        SetInt32(kind == TJSONValue::TKind::True ? 1 : 0);
      }
      return;
    case TKind::Stream:
      // A stream slot keeps the element's bytes: a string's text, else its JSON.
      SetStream(std::make_unique<TMemoryStream>(
          kind == TJSONValue::TKind::String ? element.AsString()->Value() : WriteJSON(element)));
      return;
    case TKind::JSON:
    case TKind::None:
      break;
  }
  CannotConvert(element, TypeOfKind(FKind) != 0 ? TypeOfKind(FKind) : FValueType);
}

TParameter::TParameter(TRestCommand& AConnectionHandler, const TRestParameterMetaData& ARow,
                       std::int32_t AOrdinal)
    : FName(ARow.Name),
      FDirection(ARow.Direction),
      FDataType(ARow.ValueType),
      FOrdinal(AOrdinal),
      FTypeName(ARow.TypeName),
      FConnectionHandler(&AConnectionHandler) {}

TParameterValue& TParameter::Value() {
  if (!FValue) FValue = std::make_unique<TParameterValue>(FDataType);
  return *FValue;
}

bool TParameter::IsBodyOnly() const { return TravelsInBody(FDataType, FTypeName); }

TParameter& TParameterList::GetParameterByOrdinal(std::int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) throw EArgumentOutOfRangeException();
  return *FItems[static_cast<std::size_t>(AIndex)];
}

}  // namespace qvr::rest
