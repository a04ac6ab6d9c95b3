// GBK <-> UTF-16 at the Win32 boundary. The code page is always 936, never
// the system's ANSI code page, so a Chinese package behaves the same on any
// Windows locale.
#pragma once

#include <string>
#include <string_view>

#include "base/text.h"

namespace zul::win32 {

std::wstring toWide(std::string_view gbk);
Text fromWide(std::wstring_view wide);

}  // namespace zul::win32
