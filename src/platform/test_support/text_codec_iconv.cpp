// The native TextCodec: glibc's iconv, which knows code page 936 as "CP936".
#include <errno.h>
#include <iconv.h>

#include "platform/text_codec.h"

namespace zul {
namespace {

class IconvTextCodec : public TextCodec {
 public:
  std::u16string toUtf16(std::string_view gbk) override {
    std::u16string out;
    iconv_t cd = iconv_open("UTF-16LE", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    char* src = const_cast<char*>(gbk.data());
    size_t srcLeft = gbk.size();
    while (srcLeft > 0) {
      char buffer[256];
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
      for (char* p = buffer; p + 1 < dst; p += 2) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8));
      }
      if (r == static_cast<size_t>(-1) && errno != E2BIG) {
        out.push_back(u'\uFFFD');  // an invalid or cut byte
        ++src;
        --srcLeft;
      }
    }
    iconv_close(cd);
    return out;
  }
};

}  // namespace

std::unique_ptr<TextCodec> makeTextCodec() { return std::make_unique<IconvTextCodec>(); }

}  // namespace zul
