#include "config/compressed_container.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace zul {
namespace {

constexpr size_t kGrowStep = 64 * 1024;
constexpr size_t kInputSlice = 1u << 30;

uint32_t readLittleEndian32(std::string_view data) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
  return v;
}

class Inflater {
 public:
  Inflater() = default;
  ~Inflater() {
    if (started_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool start() { return started_ = inflateInit(&stream_) == Z_OK; }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};
  bool started_ = false;
};

ContainerStatus inflateBounded(std::string_view input, size_t bound, Bytes* out) {
  Inflater inflater;
  if (!inflater.start()) return ContainerStatus::kOutOfMemory;
  z_stream& zs = inflater.stream();
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  size_t produced = 0;
  for (;;) {
    // zlib counts input in 32-bit units; hand it over in slices.
    if (zs.avail_in == 0) {
      const size_t consumed = static_cast<size_t>(reinterpret_cast<const char*>(zs.next_in) - input.data());
      zs.avail_in = static_cast<uInt>(std::min<size_t>(input.size() - consumed, kInputSlice));
    }
    // One byte beyond the bound shows whether the stream would exceed it.
    const size_t room = std::min(bound + 1, produced + kGrowStep);
    out->resize(room);
    zs.next_out = reinterpret_cast<Bytef*>(out->data() + produced);
    zs.avail_out = static_cast<uInt>(room - produced);
    const int rc = inflate(&zs, Z_NO_FLUSH);
    produced = room - zs.avail_out;
    if (produced > bound) return ContainerStatus::kTooLarge;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_MEM_ERROR) return ContainerStatus::kOutOfMemory;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return ContainerStatus::kCorrupt;
    // Output room left after all input: the input ended inside the stream.
    if (zs.avail_out != 0 && zs.avail_in == 0 &&
        reinterpret_cast<const char*>(zs.next_in) == input.data() + input.size()) {
      return ContainerStatus::kCorrupt;
    }
  }
  out->resize(produced);
  return ContainerStatus::kOk;
}

}  // namespace

ContainerStatus decompressContainer(std::string_view data, Bytes* out, size_t outputLimit) {
  out->clear();
  if (data.size() < kContainerHeaderSize || data.substr(0, 4) != kContainerMagic) {
    return ContainerStatus::kNotContainer;
  }
  const uint64_t stated = readLittleEndian32(data.substr(4)) & 0x7FFFFFFFu;
  if (stated == 0) return ContainerStatus::kZeroLength;
  const size_t bound = static_cast<size_t>(std::min<uint64_t>({2 * stated, outputLimit, SIZE_MAX - 1}));
  const std::string_view stream = data.substr(kContainerHeaderSize);
  ContainerStatus status;
  try {
    status = inflateBounded(stream, bound, out);
  } catch (const std::bad_alloc&) {
    status = ContainerStatus::kOutOfMemory;
  }
  if (status != ContainerStatus::kOk) out->clear();
  return status;
}

Bytes decompressBytes(std::string_view data) {
  Bytes out;
  if (decompressContainer(data, &out) != ContainerStatus::kOk) return {};
  return out;
}

}  // namespace zul
