// The compressed container on arbitrary bytes: never a crash, and accepted
// output stays within 2 x the stated length and the caller's ceiling.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/compressed_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  constexpr size_t kCeiling = 1 << 20;
  zul::Bytes out;
  const zul::ContainerStatus status = zul::decompressContainer(input, &out, kCeiling);
  if (status != zul::ContainerStatus::kOk) {
    if (!out.empty()) abort();
    return 0;
  }
  uint32_t stated = 0;
  for (int i = 3; i >= 0; --i) stated = (stated << 8) | static_cast<uint8_t>(input[4 + i]);
  stated &= 0x7FFFFFFFu;
  if (stated == 0 || out.size() > 2ull * stated || out.size() > kCeiling) abort();
  return 0;
}
