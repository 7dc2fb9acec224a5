// Decoding of byte strings that name their character set (HTTP bodies with a
// Content-Type charset) into the core's UTF-8 text. The operating system's
// converter (iconv) does the work for every set it knows; UTF-8, ISO-8859-1
// and UTF-16 are handled directly because they are the common case.
#pragma once

#include <string>
#include <string_view>

namespace qvr {

// ABytes, written in the character set ACharSetName, as UTF-8 text.
// The name is matched without regard to letter case and to blanks around it;
// every name the system's converter knows is accepted ("ISO-8859-1",
// "latin1", "UTF-8", "windows-1252", "UTF-16", "UTF-16LE", ...). "UTF-16"
// follows a byte-order mark and is little-endian without one.
// A byte sequence that is not valid in the set becomes U+FFFD; decoding never
// fails on content. Raises EEncodingError "Invalid encoding name" for an empty
// or unknown name, or one that carries converter options ("//").
std::string DecodeCharset(std::string_view ABytes, std::string_view ACharSetName);

// True when DecodeCharset(ABytes, ACharSetName) would give ABytes unchanged
// and cannot fail: valid UTF-8 named as UTF-8, or ASCII named as ISO-8859-1
// (or an empty name, taken as ISO-8859-1). False otherwise, also for names
// DecodeCharset refuses. Lets a caller keep the bytes instead of a copy.
bool DecodesUnchanged(std::string_view ABytes, std::string_view ACharSetName);

// True when DecodeCharset accepts ACharSetName.
bool IsKnownCharset(std::string_view ACharSetName);

}  // namespace qvr
