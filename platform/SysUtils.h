// The general exception family that every layer of the core raises or derives
// from, and the small message-formatting helper used to fill their texts.
// Exception messages are UTF-8 text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>

namespace qvr {

// The general exception: a message and nothing else. Every error of the system
// derives from it.
class Exception : public std::exception {
 public:
  explicit Exception(std::string AMessage) : FMessage(std::move(AMessage)) {}
  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string AMessage) { FMessage = std::move(AMessage); }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// The silent abort: the application's top-level handler never shows it.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

class EConvertError : public Exception {
  using Exception::Exception;
};

class EArgumentException : public Exception {
  using Exception::Exception;
};

class EArgumentOutOfRangeException : public EArgumentException {
 public:
  EArgumentOutOfRangeException() : EArgumentException("Argument out of range") {}
  using EArgumentException::EArgumentException;
};

// An object is not of the class a caller needs.
class EInvalidCast : public Exception {
 public:
  EInvalidCast() : Exception("Invalid class typecast") {}
};

class EEncodingError : public Exception {
  using Exception::Exception;
};

// An operating-system call failed: ErrorCode is the system's error number and
// the message reads "System Error.  Code: <n>." followed by a line break and
// the system's text for the error.
class EOSError : public Exception {
 public:
  explicit EOSError(int AErrorCode);
  int ErrorCode() const noexcept { return FErrorCode; }

 private:
  int FErrorCode;
};

namespace detail {
inline std::string FormatArg(const std::string& AValue) { return AValue; }
inline std::string FormatArg(std::string_view AValue) { return std::string(AValue); }
inline std::string FormatArg(const char* AValue) { return AValue == nullptr ? "" : AValue; }
template <typename T>
requires std::is_integral_v<T> std::string FormatArg(T AValue) {
  if constexpr (std::is_same_v<T, bool>) {
    return AValue ? "1" : "0";
  } else {
    return std::to_string(AValue);
  }
}
std::string FormatImpl(std::string_view AFormat, const std::string* AArgs, std::size_t ACount);
}  // namespace detail

// Fills "%s" and "%d" placeholders of AFormat in order with the arguments ("%%"
// gives "%"). Missing arguments leave their placeholder empty; extra ones are
// ignored. Only the two plain placeholders are understood, which is all the
// system's messages use.
template <typename... Args>
std::string Format(std::string_view AFormat, const Args&... AArgs) {
  if constexpr (sizeof...(Args) == 0) {
    return detail::FormatImpl(AFormat, nullptr, 0);
  } else {
    const std::string args[] = {detail::FormatArg(AArgs)...};
    return detail::FormatImpl(AFormat, args, sizeof...(Args));
  }
}

}  // namespace qvr

namespace qvr {

// Converts text to a signed 32-bit integer by the system's integer rule:
// optional leading blanks, an optional "+" or "-", then decimal digits, or
// hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow the
// digits and at least one is needed. Decimal values must fit the signed 32-bit
// range; hexadecimal ones may use all 32 bits ($FFFFFFFF is -1). Returns false,
// leaving AValue alone, when the text does not convert.
bool TryStrToInt(std::string_view AText, std::int32_t& AValue) noexcept;

// Equality without regard to ASCII letter case, as names of headers, INI keys,
// charsets and identifiers are compared.
bool SameText(std::string_view A, std::string_view B) noexcept;

}  // namespace qvr
