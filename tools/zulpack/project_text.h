// The project's text files as the stub reads them: GBK with CR LF.
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

namespace zul::pack {

// Converts a project text file to GBK. UTF-8 (with or without a byte-order
// mark) is converted; a file that is not valid UTF-8 is taken as GBK
// already. Lone LF line ends become CR LF. False with `*error` naming the
// line (1-based) when a character has no GBK form.
[[nodiscard]] bool toPackageText(std::string_view bytes, Text* gbk, std::string* error);

// True when `bytes` is well-formed UTF-8.
bool isUtf8(std::string_view bytes);

// The value of a hexadecimal digit (either case); -1 for any other byte.
int hexDigit(char c);

}  // namespace zul::pack
