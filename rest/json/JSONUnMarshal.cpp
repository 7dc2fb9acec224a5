// The unmarshaller; see JSONUnMarshal.h.
#include "rest/json/JSONUnMarshal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "rest/json/JSONClassRegistry.h"
#include "rest/json/JSONConverters.h"
#include "rest/json/JSONExceptions.h"
#include "rest/json/JSONText.h"
#include "rest/json/detail/NotSupported.h"

namespace qvr::rest {

using detail::NotSupported;

namespace {

[[noreturn]] void InvalidForm(const TJSONObject& AForm, std::string_view AMember) {
  throw EConversionError(
      Format("Internal: Invalid object form %s: member %s missing or of the wrong type",
             WriteJSON(AForm), AMember));
}

[[noreturn]] void ObjectExpected(const std::string& AField, const TJSONValue& AValue) {
  throw EConversionError(
      Format("JSON object expected for field %s in JSON %s", AField, WriteJSON(AValue)));
}

[[noreturn]] void ArrayExpected(const std::string& AField, const TJSONValue& AValue) {
  throw EConversionError(
      Format("JSON array expected for field %s in JSON %s", AField, WriteJSON(AValue)));
}

[[noreturn]] void CannotAssign(std::string_view AValue, const std::string& AField,
                               const TClassInfo& AClass) {
  throw EConversionError(
      Format("Internal: Value %s cannot be converted to be assigned to field %s in type %s", AValue,
             AField, AClass.ClassName()));
}

// The text of a scalar used as an id or a number or string field value.
std::optional<std::string> ScalarText(const TJSONValue* AValue) {
  if (AValue == nullptr) return std::nullopt;
  const TJSONString* s = AValue->AsString();
  if (s == nullptr || s->IsNullString()) return std::nullopt;
  return s->Value();
}

// A decimal integer: optional sign and digits only.
std::optional<std::int64_t> ReadInteger(std::string_view AText, std::int64_t AMin,
                                        std::int64_t AMax) {
  std::size_t i = 0;
  bool negative = false;
  if (i < AText.size() && (AText[i] == '-' || AText[i] == '+')) negative = AText[i++] == '-';
  if (i >= AText.size()) return std::nullopt;
  // Accumulated as a negative number so that the minimum of 64 bits fits.
  std::int64_t value = 0;
  for (; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
    value = -value;
  }
  if (value < AMin || value > AMax) return std::nullopt;
  return value;
}

// A decimal number with "." as separator and an optional exponent.
std::optional<double> ReadFloat(std::string_view AText) {
  std::size_t i = 0;
  if (i < AText.size() && (AText[i] == '-' || AText[i] == '+')) ++i;
  std::size_t digits = 0;
  while (i < AText.size() && AText[i] >= '0' && AText[i] <= '9') ++i, ++digits;
  if (i < AText.size() && AText[i] == '.') {
    ++i;
    while (i < AText.size() && AText[i] >= '0' && AText[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  bool negativeExponent = false;
  if (i < AText.size() && (AText[i] == 'e' || AText[i] == 'E')) {
    ++i;
    if (i < AText.size() && (AText[i] == '-' || AText[i] == '+'))
      negativeExponent = AText[i++] == '-';
    std::size_t expDigits = 0;
    while (i < AText.size() && AText[i] >= '0' && AText[i] <= '9') ++i, ++expDigits;
    if (expDigits == 0) return std::nullopt;
  }
  if (i != AText.size()) return std::nullopt;
  // from_chars reads "." as the separator whatever the process's locale
  // (the windowing toolkit sets the user's one, where it may be ",").
  const std::string_view number = AText[0] == '+' ? AText.substr(1) : AText;
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range && negativeExponent) {
    return number[0] == '-' ? -0.0 : 0.0;  // too small for a double: zero
  }
  if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Texts from this length on are moved out of a document the call owns.
constexpr std::size_t kTakenTextSize = 4096;

// Whether any object in AValue is a reference form (has a "ref" member),
// whose object is read again from a form elsewhere in the document.
bool HasReferences(const TJSONValue& AValue) {
  switch (AValue.Kind()) {
    case TJSONValue::TKind::Object:
      for (const TJSONPair& p : static_cast<const TJSONObject&>(AValue).Members()) {
        if (p.Name() == "ref") return true;
        if (p.JsonValue() != nullptr && HasReferences(*p.JsonValue())) return true;
      }
      return false;
    case TJSONValue::TKind::Array:
      for (const TJSONValueRef& e : static_cast<const TJSONArray&>(AValue).Elements()) {
        if (HasReferences(*e.Get())) return true;
      }
      return false;
    default:
      return false;
  }
}

// What reading a document may build beyond the document itself: each value
// counts one and each string its bytes.
std::size_t Cost(const TJSONValue& AValue) {
  switch (AValue.Kind()) {
    case TJSONValue::TKind::Object: {
      std::size_t c = 1;
      for (const TJSONPair& p : static_cast<const TJSONObject&>(AValue).Members()) {
        c += 1 + p.Name().size() + (p.JsonValue() != nullptr ? Cost(*p.JsonValue()) : 0);
      }
      return c;
    }
    case TJSONValue::TKind::Array: {
      std::size_t c = 1;
      for (const TJSONValueRef& e : static_cast<const TJSONArray&>(AValue).Elements()) {
        c += Cost(*e.Get());
      }
      return c;
    }
    case TJSONValue::TKind::String:
    case TJSONValue::TKind::Number:
      return 1 + static_cast<const TJSONString&>(AValue).Value().size();
    default:
      return 1;
  }
}

}  // namespace

class TJSONUnMarshal::TReader {
 public:
  // With ATakeTexts the document belongs to the call and long texts may be
  // moved out of it.
  TReader(TJSONUnMarshal& AOwner, const TJSONValue& ADocument, bool ATakeTexts = false)
      : FOwner(AOwner),
        FDocument(ADocument),
        FContext(AOwner.FMaxInflatedBytes),
        FTakeTexts(ATakeTexts) {}

  // The object an object form or reference form stands for. With
  // ANestedField a type that cannot be instantiated gives nothing and
  // AInstantiated false, so that the caller can keep the field as it is.
  std::unique_ptr<TObject> ReadObject(const TJSONObject& AForm, bool ANestedField = false,
                                      bool* AInstantiated = nullptr) {
    if (AInstantiated != nullptr) *AInstantiated = true;
    if (AForm.Get("id") != nullptr) {
      const std::optional<std::string> id = ScalarText(AForm.GetValue("id"));
      if (!id) InvalidForm(AForm, "id");
      const TJSONValue* typeValue = AForm.GetValue("type");
      if (typeValue == nullptr || typeValue->Kind() != TJSONValue::TKind::String) {
        InvalidForm(AForm, "type");
      }
      const std::string& typeName = typeValue->AsString()->Value();
      const TJSONValue* fieldsValue = AForm.GetValue("fields");
      if (fieldsValue == nullptr || fieldsValue->AsObject() == nullptr) {
        InvalidForm(AForm, "fields");
      }
      const TClassInfo* cls = TJSONClassRegistry::FindByName(typeName);
      if (cls == nullptr || !cls->CanCreate()) {
        if (ANestedField) {
          if (AInstantiated != nullptr) *AInstantiated = false;
          FOwner.FWarnings.push_back({typeName, "", typeName});
          return nullptr;
        }
        throw EConversionError(Format("Internal: Cannot instantiate type %s", typeName));
      }
      std::unique_ptr<TObject> object = cls->Create();
      FIds[*id] = &AForm;
      FBusy.push_back(*id);
      try {
        Fill(*object, *cls, *fieldsValue->AsObject());
      } catch (...) {
        FIds.erase(*id);
        FBusy.pop_back();
        throw;  // the object is released with its unique_ptr
      }
      FBusy.pop_back();
      return object;
    }
    if (AForm.Get("ref") != nullptr) {
      const std::string typeName = ScalarText(AForm.GetValue("type")).value_or("");
      const std::string ref =
          ScalarText(AForm.GetValue("ref")).value_or(WriteJSON(*AForm.GetValue("ref")));
      auto it = FIds.find(ref);
      // An object still being read cannot stand inside itself: its fields own
      // their objects, so a cycle has no form here.
      const bool busy = std::find(FBusy.begin(), FBusy.end(), ref) != FBusy.end();
      if (it == FIds.end() || busy) {
        throw EConversionError(
            Format("Internal: Object type %s not found for id: %s", typeName, ref));
      }
      // Every field owns its object, so a reference gives a copy of the
      // object it names, read again from its form; what copies may add is
      // bounded by the size of the document.
      if (FBudget == 0) FBudget = Cost(FDocument);
      const std::size_t cost = Cost(*it->second);
      if (cost > FBudget - std::min(FBudget, FSpent)) {
        throw EConversionError(
            Format("Internal: References to id %s copy more than the document holds", ref));
      }
      FSpent += cost;
      return ReadObject(*it->second, ANestedField, AInstantiated);
    }
    throw EConversionError(Format("Internal: Invalid pair name %s: expected %s or %s",
                                  WriteJSON(AForm), "type", "ref"));
  }

 private:
  void Fill(TObject& AObject, const TClassInfo& AClass, const TJSONObject& AFields) {
    for (const TJSONPair& member : AFields.Members()) {
      const std::string& name = member.Name();
      const TJSONValue& value = *member.JsonValue();
      if (auto rule = FOwner.FRegistry->Find(AClass, name)) {
        ApplyRule(*rule, AObject, name, value);
        continue;
      }
      const TFieldInfo* field = AClass.FindField(name);
      // A field kept out of the object form is not read either: its value is
      // the object's own business (such as who owns its datasets).
      if (field == nullptr || !field->Marshalled()) {
        throw EConversionError(
            Format("Internal: Field %s cannot be found in type %s", name, AClass.ClassName()));
      }
      void* address = field->Locate(&AObject);
      if (const auto& reflect = field->Reflect()) {
        ApplyInterceptor(*reflect, AObject, AClass, *field, address, value);
        continue;
      }
      ReadInto(field->Type(), field->TypeName(), address, value, name, AClass);
    }
  }

  std::vector<std::unique_ptr<TObject>> ReadObjects(const std::string& AField,
                                                    const TJSONValue& AValue) {
    std::vector<std::unique_ptr<TObject>> out;
    if (AValue.IsNull()) return out;
    const TJSONArray* array = AValue.AsArray();
    if (array == nullptr) ArrayExpected(AField, AValue);
    out.reserve(array->Count());
    for (const TJSONValueRef& e : array->Elements()) {
      if (e.Get()->IsNull()) {
        out.push_back(nullptr);
      } else if (const TJSONObject* form = e.Get()->AsObject()) {
        out.push_back(ReadObject(*form));
      } else {
        ObjectExpected(AField, *e.Get());
      }
    }
    return out;
  }

  static std::vector<std::string> ReadStrings(const std::string& AField, const TJSONValue& AValue) {
    std::vector<std::string> out;
    if (AValue.IsNull()) return out;
    const TJSONArray* array = AValue.AsArray();
    if (array == nullptr) ArrayExpected(AField, AValue);
    for (const TJSONValueRef& e : array->Elements()) {
      const TJSONString* s = e.Get()->AsString();
      if (s == nullptr && !e.Get()->IsNull()) ArrayExpected(AField, AValue);
      out.push_back(s != nullptr ? s->Value() : std::string());
    }
    return out;
  }

  std::unique_ptr<TObject> ReadRequiredObject(const std::string& AField, const TJSONValue& AValue) {
    const TJSONObject* form = AValue.AsObject();
    if (form == nullptr) ObjectExpected(AField, AValue);
    return ReadObject(*form);
  }

  static std::string ReadRequiredString(const std::string& AField, const TJSONValue& AValue) {
    if (AValue.IsNull()) return std::string();
    const TJSONString* s = AValue.AsString();
    if (s == nullptr) ObjectExpected(AField, AValue);
    return s->IsNullString() ? std::string() : s->Value();
  }

  void ApplyRule(const TReverterEvent& ARule, TObject& AObject, const std::string& AField,
                 const TJSONValue& AValue) {
    switch (ARule.ReverterType) {
      case TReverterType::rtObjects:
      case TReverterType::rtTypeObjects: {
        auto objects = ReadObjects(AField, AValue);
        if (ARule.ObjectsReverter) ARule.ObjectsReverter(AObject, AField, std::move(objects));
        break;
      }
      case TReverterType::rtStrings:
      case TReverterType::rtTypeStrings: {
        auto strings = ReadStrings(AField, AValue);
        if (ARule.StringsReverter) ARule.StringsReverter(AObject, AField, std::move(strings));
        break;
      }
      case TReverterType::rtObject:
      case TReverterType::rtTypeObject: {
        auto object = ReadRequiredObject(AField, AValue);
        if (ARule.ObjectReverter) ARule.ObjectReverter(AObject, AField, std::move(object));
        break;
      }
      case TReverterType::rtString:
      case TReverterType::rtTypeString: {
        const std::string text = ReadRequiredString(AField, AValue);
        if (ARule.StringReverter) ARule.StringReverter(AObject, AField, text);
        break;
      }
    }
  }

  void ApplyInterceptor(const TJSONReflectAttribute& AReflect, TObject& AObject,
                        const TClassInfo& AClass, const TFieldInfo& AField, void* AAddress,
                        const TJSONValue& AValue) {
    std::unique_ptr<TJSONInterceptor> interceptor =
        AReflect.Interceptor ? AReflect.Interceptor() : nullptr;
    if (interceptor == nullptr) NotSupported("TJSONInterceptor");
    interceptor->SetConverterType(AReflect.ConverterType);
    interceptor->SetReverterType(AReflect.ReverterType);
    interceptor->SetUnmarshalContext(&FContext);
    const std::string& name = AField.Name();
    const TTypeInfo& type = AField.Type();
    auto store = [&](std::unique_ptr<TObject> AResult) {
      if (type.Kind != TTypeKind::tkClass) CannotAssign(WriteJSON(AValue), name, AClass);
      if (AResult != nullptr && !type.AcceptsObj(*AResult)) {
        CannotAssign(WriteJSON(AValue), name, AClass);
      }
      type.SetObj(AAddress, std::move(AResult));
    };
    const TReverterType kind = AReflect.ReverterType;
    const bool typeKind =
        kind == TReverterType::rtTypeObject || kind == TReverterType::rtTypeObjects ||
        kind == TReverterType::rtTypeString || kind == TReverterType::rtTypeStrings;
    if (typeKind && AValue.IsNull()) {
      store(nullptr);  // the field gets no object
      return;
    }
    switch (kind) {
      case TReverterType::rtTypeObject:
        store(interceptor->TypeObjectReverter(ReadRequiredObject(name, AValue)));
        break;
      case TReverterType::rtTypeObjects:
        store(interceptor->TypeObjectsReverter(ReadObjects(name, AValue)));
        break;
      case TReverterType::rtTypeString:
        store(interceptor->TypeStringReverter(ReadRequiredString(name, AValue)));
        break;
      case TReverterType::rtTypeStrings:
        store(interceptor->TypeStringsReverter(ReadStrings(name, AValue)));
        break;
      case TReverterType::rtObject:
        interceptor->ObjectReverter(AObject, name,
                                    AValue.IsNull() ? nullptr : ReadRequiredObject(name, AValue));
        break;
      case TReverterType::rtObjects:
        interceptor->ObjectsReverter(AObject, name, ReadObjects(name, AValue));
        break;
      case TReverterType::rtString:
        interceptor->StringReverter(AObject, name, ReadRequiredString(name, AValue));
        break;
      case TReverterType::rtStrings:
        interceptor->StringsReverter(AObject, name, ReadStrings(name, AValue));
        break;
    }
  }

  // Reads AValue into the value of type AType at AAddress (a field, an array
  // element or a record field); AField and AClass name the field in errors.
  void ReadInto(const TTypeInfo& AType, const std::string& ATypeName, void* AAddress,
                const TJSONValue& AValue, const std::string& AField, const TClassInfo& AClass) {
    switch (AValue.Kind()) {
      case TJSONValue::TKind::String:
      case TJSONValue::TKind::Number: {
        const TJSONString& s = static_cast<const TJSONString&>(AValue);
        if (s.IsNullString()) {
          if (AType.Clear != nullptr) AType.Clear(AAddress);
          return;
        }
        if (FTakeTexts && AType.Kind == TTypeKind::tkUString &&
            s.Value().size() >= kTakenTextSize) {
          // The document is the call's own (see UnmarshalTaking), so the
          // text moves instead of being copied.
          AType.SetStr(AAddress, std::move(const_cast<std::string&>(s.Value())));
          return;
        }
        ReadText(AType, AAddress, s.Value(), AField, AClass);
        return;
      }
      case TJSONValue::TKind::True:
      case TJSONValue::TKind::False:
        if (!AType.IsBoolean) CannotAssign(WriteJSON(AValue), AField, AClass);
        AType.SetBool(AAddress, AValue.Kind() == TJSONValue::TKind::True);
        return;
      case TJSONValue::TKind::Null:
        if (AType.Clear != nullptr) AType.Clear(AAddress);
        return;
      case TJSONValue::TKind::Object: {
        if (AType.Kind != TTypeKind::tkClass) CannotAssign(WriteJSON(AValue), AField, AClass);
        bool instantiated = true;
        std::unique_ptr<TObject> object =
            ReadObject(static_cast<const TJSONObject&>(AValue), true, &instantiated);
        if (!instantiated) {
          FOwner.FWarnings.back().ClassName = AClass.ClassName();
          FOwner.FWarnings.back().FieldName = AField;
          return;  // the field keeps what it had
        }
        if (object != nullptr && !AType.AcceptsObj(*object)) {
          CannotAssign(WriteJSON(AValue), AField, AClass);
        }
        AType.SetObj(AAddress, std::move(object));
        return;
      }
      case TJSONValue::TKind::Array:
        ReadArray(AType, ATypeName, AAddress, static_cast<const TJSONArray&>(AValue), AField,
                  AClass);
        return;
    }
  }

  void ReadArray(const TTypeInfo& AType, const std::string& ATypeName, void* AAddress,
                 const TJSONArray& AArray, const std::string& AField, const TClassInfo& AClass) {
    const std::size_t n = AArray.Count();
    if (AType.Kind == TTypeKind::tkArray || AType.Kind == TTypeKind::tkDynArray) {
      if (AType.Resize != nullptr) {
        AType.Resize(AAddress, n);
      } else {
        AType.Clear(AAddress);
        if (n > AType.Length(AAddress)) {
          throw EConversionError(Format("Internal: Array %s does not fit field %s of type %s",
                                        WriteJSON(AArray), AField, ATypeName));
        }
      }
      for (std::size_t i = 0; i < n; ++i) {
        ReadInto(*AType.Element, AType.Element->Name, AType.ElementAt(AAddress, i),
                 *AArray.Items(i), AField, AClass);
      }
      return;
    }
    if (AType.Kind == TTypeKind::tkRecord) {
      const std::vector<TFieldInfo> fields = AType.RecordFields();
      AType.Clear(AAddress);
      if (n > fields.size()) {
        throw EConversionError(Format("Internal: Array %s does not fit field %s of type %s",
                                      WriteJSON(AArray), AField, ATypeName));
      }
      for (std::size_t i = 0; i < n; ++i) {
        ReadInto(fields[i].Type(), fields[i].TypeName(), fields[i].Locate(AAddress),
                 *AArray.Items(i), AField, AClass);
      }
      return;
    }
    throw EConversionError(
        Format("Cannot set value for field %s as it is expected to be an array instead of %s",
               AField, ATypeName));
  }

  static void ReadText(const TTypeInfo& AType, void* AAddress, const std::string& AText,
                       const std::string& AField, const TClassInfo& AClass) {
    switch (AType.Kind) {
      case TTypeKind::tkInteger:
      case TTypeKind::tkInt64: {
        const auto v = ReadInteger(AText, AType.Min, AType.Max);
        if (!v) throw EConvertError(Format("'%s' is not a valid integer value", AText));
        AType.SetInt(AAddress, *v);
        return;
      }
      case TTypeKind::tkFloat: {
        const auto v = ReadFloat(AText);
        if (!v) throw EConvertError(Format("'%s' is not a valid floating point value", AText));
        AType.SetFloat(AAddress, *v);
        return;
      }
      case TTypeKind::tkUString:
        AType.SetStr(AAddress, AText);
        return;
      case TTypeKind::tkWChar: {
        std::size_t pos = 0;
        std::int64_t unit = 0;
        if (!AText.empty()) {
          const char32_t cp = DecodeUtf8(AText, pos);
          unit = cp >= 0x10000 ? 0xD800 + ((cp - 0x10000) >> 10) : cp;  // the first code unit
        }
        AType.SetInt(AAddress, unit);
        return;
      }
      case TTypeKind::tkEnumeration:
        for (std::size_t i = 0; i < AType.EnumNames.size(); ++i) {
          if (SameText(AType.EnumNames[i], AText)) {
            if (AType.IsBoolean) {
              AType.SetBool(AAddress, i == 1);
            } else {
              AType.SetInt(AAddress, static_cast<std::int64_t>(i));
            }
            return;
          }
        }
        CannotAssign(AText, AField, AClass);
      default:
        CannotAssign(AText, AField, AClass);
    }
  }

  TJSONUnMarshal& FOwner;
  const TJSONValue& FDocument;
  // Ids read in this call, with the form each stands for (forms live in the
  // document, which outlives the call).
  std::unordered_map<std::string, const TJSONObject*> FIds;
  std::vector<std::string> FBusy;  // ids whose objects are being filled
  std::size_t FBudget = 0;
  std::size_t FSpent = 0;
  // Shared by every interceptor of the call (see TUnmarshalContext).
  TUnmarshalContext FContext;
  const bool FTakeTexts;
};

TJSONUnMarshal::TJSONUnMarshal() : FRegistry(std::make_shared<TReverterRegistry>()) {
  TJSONConverters::AddDefaultReverters(*FRegistry);
  FRegistry->FDefaultsRegistered = true;
}

TJSONUnMarshal::TJSONUnMarshal(std::shared_ptr<TReverterRegistry> ARegistry)
    : FRegistry(std::move(ARegistry)) {}

std::unique_ptr<TObject> TJSONUnMarshal::Read(const TJSONValue* AData, bool ATakeTexts) {
  if (AData == nullptr || AData->AsObject() == nullptr) {
    throw EConversionError("The input value is not a valid Object");
  }
  FWarnings.clear();
  // The table of ids lives for this call only. A form that a reference names
  // is read again later, so it must stay whole.
  TReader reader(*this, *AData, ATakeTexts && !HasReferences(*AData));
  return reader.ReadObject(*AData->AsObject());
}

std::unique_ptr<TObject> TJSONUnMarshal::Unmarshal(const TJSONValue* AData) {
  return Read(AData, false);
}

std::unique_ptr<TObject> TJSONUnMarshal::UnmarshalTaking(std::unique_ptr<TJSONValue> AData) {
  return Read(AData.get(), true);
}

void TJSONUnMarshal::RegisterReverter(const std::string& AQualifiedClass, const std::string& AField,
                                      TReverterEvent AEvent) {
  FRegistry->Register(AQualifiedClass, AField, std::move(AEvent));
}

}  // namespace qvr::rest
