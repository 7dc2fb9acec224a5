// UTF-8 / UTF-16 conversions for the core, which keeps text as UTF-8 in
// std::string but counts characters in UTF-16 code units where the system's
// rules do (INI value cut, JSON escapes). Invalid input never fails: a bad
// UTF-8 sequence or a lone surrogate becomes U+FFFD.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// Decodes one code point starting at AText[APos] and advances APos past it. An
// invalid or truncated sequence yields U+FFFD and advances by the length of the
// maximal invalid prefix (at least one byte), as the Unicode standard advises.
char32_t DecodeUtf8(std::string_view AText, std::size_t& APos) noexcept;

// Appends the UTF-8 form of ACodePoint (surrogates and values above U+10FFFF
// are written as U+FFFD).
void AppendUtf8(std::string& AOut, char32_t ACodePoint);

std::u16string Utf8ToUtf16(std::string_view AText);
std::string Utf16ToUtf8(std::u16string_view AText);

// AText with every invalid sequence replaced by U+FFFD; valid text unchanged.
std::string SanitizeUtf8(std::string_view AText);
bool IsValidUtf8(std::string_view AText) noexcept;
// The length of AText's leading run of ASCII bytes, found eight bytes at a
// time (most text here is ASCII).
std::size_t AsciiPrefixLength(std::string_view AText) noexcept;

// Number of UTF-16 code units of AText.
std::size_t Utf16Length(std::string_view AText) noexcept;

// The longest prefix of AText that holds at most AMaxUnits UTF-16 code units.
// A character that would be split (a surrogate pair at the limit) is left out.
std::string Utf8Prefix(std::string_view AText, std::size_t AMaxUnits);

// ISO-8859-1 bytes to UTF-8 (every byte is the code point of the same value).
std::string Latin1ToUtf8(std::string_view ABytes);

// Windows-1252 bytes to UTF-8. Every byte has a character: the five bytes the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1
// controls of the same value, as the code page's own platform converts them,
// so that no two bytes share a character and the text converts back to the
// very same bytes.
std::string Windows1252ToUtf8(std::string_view ABytes);

// UTF-8 text as Windows-1252 bytes; std::nullopt when a character has no byte
// there (U+0080, U+0141, an emoji) or the text is not valid UTF-8.
std::optional<std::string> Utf8ToWindows1252(std::string_view AText);

}  // namespace qvr
