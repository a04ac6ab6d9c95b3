#include "platform/text_codec.h"
#include "platform/win32/wide.h"

namespace zul {
namespace {

class Win32TextCodec : public TextCodec {
 public:
  std::u16string toUtf16(std::string_view gbk) override {
    const std::wstring wide = win32::toWide(gbk);
    return std::u16string(wide.begin(), wide.end());
  }
};

}  // namespace

std::unique_ptr<TextCodec> makeTextCodec() { return std::make_unique<Win32TextCodec>(); }

}  // namespace zul
