// GBK to UTF-16, for data that Windows stores in UTF-16 (resource texts).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zul {

class TextCodec {
 public:
  virtual ~TextCodec() = default;
  // `gbk` (code page 936) as UTF-16 code units, without a terminator. Bytes
  // that are not valid GBK become a replacement character; the result is
  // never shorter than the number of valid characters.
  virtual std::u16string toUtf16(std::string_view gbk) = 0;
};

// The tree's implementation: MultiByteToWideChar with code page 936 in the
// Windows tree, iconv in the native test support.
std::unique_ptr<TextCodec> makeTextCodec();

}  // namespace zul
