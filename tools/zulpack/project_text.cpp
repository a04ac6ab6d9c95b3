#include "project_text.h"

#include <iconv.h>

#include <cerrno>

namespace zul::pack {
namespace {

// One line UTF-8 -> GBK; false when a character does not convert.
bool convertLine(iconv_t cd, std::string_view line, Text* out) {
  char* in = const_cast<char*>(line.data());
  size_t inLeft = line.size();
  std::string buffer(line.size() * 2 + 4, '\0');
  char* dst = buffer.data();
  size_t dstLeft = buffer.size();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in, &inLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
  out->append(buffer.data(), dst - buffer.data());
  return true;
}

}  // namespace

bool isUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t trail;
    if (b < 0x80) {
      trail = 0;
    } else if (b >= 0xC2 && b <= 0xDF) {
      trail = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      trail = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      trail = 3;
    } else {
      return false;
    }
    if (trail > s.size() - i - 1) return false;
    for (size_t k = 1; k <= trail; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += trail + 1;
  }
  return true;
}

bool toPackageText(std::string_view bytes, Text* gbk, std::string* error) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  const bool utf8 = isUtf8(bytes);
  iconv_t cd = utf8 ? iconv_open("GBK", "UTF-8") : reinterpret_cast<iconv_t>(-1);
  if (utf8 && cd == reinterpret_cast<iconv_t>(-1)) {
    *error = "cannot convert UTF-8 to GBK on this system";
    return false;
  }
  Text out;
  size_t lineNumber = 1;
  for (size_t start = 0; start < bytes.size(); ++lineNumber) {
    size_t end = bytes.find('\n', start);
    const bool hasBreak = end != std::string_view::npos;
    if (!hasBreak) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (utf8) {
      if (!convertLine(cd, line, &out)) {
        iconv_close(cd);
        *error = "line " + std::to_string(lineNumber) + ": a character that GBK cannot hold";
        return false;
      }
    } else {
      out.append(line);
    }
    if (hasBreak) out += "\r\n";
    start = end + 1;
  }
  if (utf8) iconv_close(cd);
  *gbk = std::move(out);
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace zul::pack
