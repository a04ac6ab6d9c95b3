// Byte strings and GBK texts.
//
// Inside the program every text is a GBK (code page 936) byte string and every
// binary blob is a length-counted byte string; both are std::string. Lengths
// are in bytes. Conversion to UTF-16 happens only at the Win32 boundary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zul {

using Text = std::string;   // GBK bytes, no terminator inside
using Bytes = std::string;  // arbitrary bytes; empty stands for "missing"

// True when `b` starts a double-byte GBK character (0x81..0xFE). The byte
// after a lead byte is its trail byte and never a separator, even when it is
// '\\', '[', ']' or '='.
constexpr bool isGbkLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

// Splits `s` at every ASCII `sep` byte that is not the trail byte of a
// double-byte character. Empty parts are kept.
std::vector<Text> splitGbk(std::string_view s, char sep);

// Splits at every occurrence of the byte string `sep` (no DBCS rule: used for
// multi-byte separators such as the full-width comma). Empty parts are kept.
std::vector<Bytes> splitBytes(std::string_view s, std::string_view sep);

// Decimal text to integer the way the package's keys are read: leading blanks
// skipped, an optional sign, digits up to the first non-digit; no digits
// gives 0. Saturates instead of overflowing.
int32_t toInt(std::string_view s);

// Offset of the last `separator` byte that is not the trail byte of a
// double-byte character, or npos.
size_t lastSeparatorGbk(std::string_view s, char separator = '\\');

// The bytes before the first NUL: a stored value read as text.
Text textUpToNul(std::string_view bytes);

// ASCII-only case folding; GBK trail bytes are left alone.
Text asciiLower(std::string_view s);

}  // namespace zul
