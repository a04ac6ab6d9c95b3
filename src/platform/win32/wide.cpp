#include "platform/win32/wide.h"

#include <windows.h>

namespace zul::win32 {

constexpr UINT kGbk = 936;

std::wstring toWide(std::string_view gbk) {
  if (gbk.empty()) return {};
  const int n = MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(kGbk, 0, gbk.data(), static_cast<int>(gbk.size()), out.data(), n);
  return out;
}

namespace {

// Without WC_NO_BEST_FIT_CHARS the system would write a similar-looking
// character for one that GBK lacks. `*usedDefault` tells whether any
// character became the default "?".
Text convert(std::wstring_view wide, bool* usedDefault) {
  BOOL used = FALSE;
  *usedDefault = false;
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());  // wchar_t units
  const int n = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) {
    *usedDefault = true;
    return {};
  }
  Text out(static_cast<size_t>(n), '\0');  // bytes
  if (WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), length, out.data(), n, nullptr, &used) != n) {
    *usedDefault = true;
    return {};
  }
  *usedDefault = used != FALSE;
  return out;
}

}  // namespace

Text fromWide(std::wstring_view wide) {
  bool usedDefault = false;
  return convert(wide, &usedDefault);
}

bool fromWideExact(std::wstring_view wide, Text* gbk) {
  bool usedDefault = false;
  Text out = convert(wide, &usedDefault);
  if (usedDefault || toWide(out) != wide) return false;
  *gbk = std::move(out);
  return true;
}

}  // namespace zul::win32
