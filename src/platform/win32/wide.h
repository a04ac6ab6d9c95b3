// GBK <-> UTF-16 at the Win32 boundary. The code page is always 936, never
// the system's ANSI code page, so a Chinese package behaves the same on any
// Windows locale.
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

namespace zul::win32 {

std::wstring toWide(std::string_view gbk);

// A character GBK cannot hold becomes "?", never a look-alike ("2" for
// "\u00B2"): the text then names no existing file, rather than another one.
Text fromWide(std::wstring_view wide);
// The GBK form of `wide` when every character has one, so that the result
// converts back to exactly `wide`. False, with `*gbk` unchanged, otherwise.
[[nodiscard]] bool fromWideExact(std::wstring_view wide, Text* gbk);

}  // namespace zul::win32
