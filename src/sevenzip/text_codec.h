// UTF-16 (how 7z stores names and how its key derivation sees a password)
// to and from GBK (how the program holds texts), code page 936 in both trees.
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

namespace zul::sevenzip {

// GBK of `utf16`; `*lossless` is false when a character has no GBK form (it
// becomes '?').
Text gbkFromUtf16(std::u16string_view utf16, bool* lossless);
std::u16string utf16FromGbk(std::string_view gbk);

}  // namespace zul::sevenzip
