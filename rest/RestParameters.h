// The parameters of a REST command: the constant table row that describes one
// parameter of a remote method (TRestParameterMetaData), the parameter built
// from it (TParameter), the ordered list of them (TParameterList) and the
// value slot each parameter owns (TParameterValue).
//
// A slot has the kind of its parameter's type code: text, 32-bit integer,
// Boolean, JSON value, or byte stream. It keeps its state from one execution
// of the command to the next until something stores into it. Text, integer
// and Boolean slots have a null flag beside their content; setting null keeps
// the content, and the getters return the content whatever the flag says.
//
// JSON slots and ownership. A JSON slot holds a JSON value either owned
// (released when the slot stores another value, is set null, or goes with its
// parameter) or borrowed (its owner keeps it and must keep it alive while the
// slot holds it). The handle type TMaybeOwned makes the two cases visible:
// SetJSONValue takes ownership exactly when it is given an owning handle, and
// GetJSONValue(false) hands an owned value to the caller as an owning handle,
// after which the slot only borrows it. A slot never takes ownership of a
// value it was not given, so no value is leaked or released twice.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/MaybeOwned.h"
#include "platform/Streams.h"
#include "rest/json/JSONValues.h"
#include "rest/wire/WireTypes.h"

namespace qvr::rest {

class TRestCommand;

// One row of a remote method's parameter table.
struct TRestParameterMetaData {
  // Empty for the return value.
  std::string Name;
  // TParameterDirections.
  std::int32_t Direction = TParameterDirections::In;
  // TValueTypes.
  std::int32_t ValueType = TValueTypes::WideString;
  // The server method's declared type ("string", "Integer", "TJSONObject",
  // "TDataSetList", ...); it decides where a JSON value travels.
  std::string TypeName;
};

// The rows of a parameter table as the remote interface describes them.
std::vector<TRestParameterMetaData> MetaDataOf(std::span<const TWireParameter> AParameters);

// A parameter's value slot. Every operation belongs to one kind of slot;
// using one on a slot of another kind raises TValueError.
class TParameterValue {
 public:
  enum class TKind : std::uint8_t { Text, Int32, Boolean, JSON, Stream, None };

  // A slot in its initial state for the type code: null with empty text, 0
  // or false; a JSON slot holding nothing; a stream slot holding nothing. A
  // code without a value form gives a slot that is always null.
  explicit TParameterValue(std::int32_t AValueType);
  TParameterValue(const TParameterValue&) = delete;
  TParameterValue& operator=(const TParameterValue&) = delete;
  ~TParameterValue();

  std::int32_t ValueType() const noexcept { return FValueType; }
  TKind Kind() const noexcept { return FKind; }

  // Store the content and clear the null flag.
  void SetWideString(std::string AValue);
  void SetString(std::string AValue) { SetWideString(std::move(AValue)); }
  void SetInt32(std::int32_t AValue);
  void SetBoolean(bool AValue);
  // Holds AValue: owned when the handle owns it, borrowed otherwise. A value
  // held before is released if the slot owned it, unless it is AValue itself
  // (which then stays owned if it was). An empty handle acts as SetNull.
  void SetJSONValue(TMaybeOwned<TJSONValue> AValue);
  // A stream slot owns AValue (null acts as SetNull).
  void SetStream(std::unique_ptr<TStream> AValue);
  // Text, integer, Boolean: sets the null flag, keeps the content. JSON and
  // stream: releases an owned value and then holds none.
  void SetNull();

  // The stored content, whatever the null flag says.
  const std::string& GetWideString() const;
  const std::string& GetString() const { return GetWideString(); }
  std::int32_t GetInt32() const;
  bool GetBoolean() const;
  // The held value (an empty handle when there is none). With AOwns true
  // the slot keeps it and the handle borrows it: it lives until the slot
  // stores another value, the command is prepared again or destroyed. With
  // AOwns false an owned value is handed over in an owning handle and the
  // slot keeps only a borrowed view of it, never releasing it; a value the
  // slot only borrows is answered borrowed either way.
  TMaybeOwned<TJSONValue> GetJSONValue(bool AOwns);
  // The held value without changing who owns it (null when none).
  TJSONValue* JSONValue() const noexcept { return FJSON.get(); }
  // Whether the slot releases its JSON value itself.
  bool OwnsJSONValue() const noexcept { return FJSON.IsOwned(); }
  // The held stream (null when none); the slot keeps it.
  TStream* GetStream() const;
  // Hands the held stream over; the slot then holds none.
  std::unique_ptr<TStream> TakeStream();

  // Text, integer, Boolean: the null flag. JSON: true exactly when no value
  // is held (a held JSON null is not null). Stream: no stream held.
  bool IsNull() const noexcept;

  // Stores an element of a server answer's "result" array as the command
  // layer converts it for this slot's kind. A JSON slot takes AElement
  // itself (owned); the other kinds read it. Raises EConvertError or
  // TValueError with the conversion's message, leaving the slot unchanged.
  void StoreResult(std::unique_ptr<TJSONValue> AElement);

 private:
  void Expect(TKind AKind, std::int32_t AAsType) const;

  std::int32_t FValueType;
  TKind FKind;
  bool FIsNull = true;
  std::string FText;
  std::int32_t FInt32 = 0;
  bool FBoolean = false;
  TMaybeOwned<TJSONValue> FJSON;
  std::unique_ptr<TStream> FStream;
};

// One parameter of a prepared command.
class TParameter {
 public:
  TParameter(TRestCommand& AConnectionHandler, const TRestParameterMetaData& ARow,
             std::int32_t AOrdinal);
  TParameter(const TParameter&) = delete;
  TParameter& operator=(const TParameter&) = delete;

  const std::string& Name() const noexcept { return FName; }
  std::int32_t ParameterDirection() const noexcept { return FDirection; }
  std::int32_t DataType() const noexcept { return FDataType; }
  // The position in the parameter table, from 0.
  std::int32_t Ordinal() const noexcept { return FOrdinal; }
  const std::string& TypeName() const noexcept { return FTypeName; }
  // The command that built the parameter.
  TRestCommand& ConnectionHandler() const noexcept { return *FConnectionHandler; }
  // The value slot, created with the kind of DataType on first access.
  TParameterValue& Value();

  // Whether this in-parameter must travel in the body: a table or stream, or
  // a JSON value whose TypeName does not begin with "TJSON" or is
  // "TJSONValue", "TJSONObject" or "TJSONArray" (letter case ignored).
  bool IsBodyOnly() const;

 private:
  std::string FName;
  std::int32_t FDirection;
  std::int32_t FDataType;
  std::int32_t FOrdinal;
  std::string FTypeName;
  TRestCommand* FConnectionHandler;
  std::unique_ptr<TParameterValue> FValue;
};

// The parameters of a command in table order.
class TParameterList {
 public:
  TParameterList() = default;
  TParameterList(const TParameterList&) = delete;
  TParameterList& operator=(const TParameterList&) = delete;

  std::int32_t Count() const noexcept { return static_cast<std::int32_t>(FItems.size()); }
  // The parameter at AIndex (from 0); raises EArgumentOutOfRangeException.
  TParameter& GetParameterByOrdinal(std::int32_t AIndex) const;
  void Add(std::unique_ptr<TParameter> AParameter) { FItems.push_back(std::move(AParameter)); }

 private:
  std::vector<std::unique_ptr<TParameter>> FItems;
};

}  // namespace qvr::rest
