// CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320), as 7z stores it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zul::sevenzip {

// Continues `crc` (0 to start) over `size` bytes: crc32Update(crc32Update(0,
// a), b) equals the CRC of a followed by b.
uint32_t crc32Update(uint32_t crc, const void* data, size_t size);

inline uint32_t crc32(const void* data, size_t size) { return crc32Update(0, data, size); }

}  // namespace zul::sevenzip
