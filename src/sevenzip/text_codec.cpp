#include "sevenzip/text_codec.h"

#ifdef _WIN32
#include "platform/win32/wide.h"
#else
#include "platform/fake/native_file_system.h"
#endif

namespace zul::sevenzip {

#ifdef _WIN32

Text gbkFromUtf16(std::u16string_view utf16, bool* lossless) {
  const std::wstring wide(utf16.begin(), utf16.end());
  const Text gbk = win32::fromWide(wide);
  *lossless = win32::toWide(gbk) == wide;
  return gbk;
}

std::u16string utf16FromGbk(std::string_view gbk) {
  const std::wstring wide = win32::toWide(gbk);
  return std::u16string(wide.begin(), wide.end());
}

#else

namespace {

std::string utf8FromUtf16(std::u16string_view s, bool* valid) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      *valid = false;
      c = '?';
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string utf16FromUtf8(std::string_view s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    uint32_t c = b;
    size_t n = 1;
    if (b >= 0xF0 && i + 3 < s.size()) {
      c = (b & 7u) << 18 | (s[i + 1] & 0x3Fu) << 12 | (s[i + 2] & 0x3Fu) << 6 | (s[i + 3] & 0x3Fu);
      n = 4;
    } else if (b >= 0xE0 && i + 2 < s.size()) {
      c = (b & 15u) << 12 | (s[i + 1] & 0x3Fu) << 6 | (s[i + 2] & 0x3Fu);
      n = 3;
    } else if (b >= 0xC0 && i + 1 < s.size()) {
      c = (b & 31u) << 6 | (s[i + 1] & 0x3Fu);
      n = 2;
    }
    i += n;
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

}  // namespace

Text gbkFromUtf16(std::u16string_view utf16, bool* lossless) {
  bool valid = true;
  const std::string utf8 = utf8FromUtf16(utf16, &valid);
  const Text gbk = utf8ToGbk(utf8);
  *lossless = valid && gbkToUtf8(gbk) == utf8;
  return gbk;
}

std::u16string utf16FromGbk(std::string_view gbk) { return utf16FromUtf8(gbkToUtf8(gbk)); }

#endif

}  // namespace zul::sevenzip
