#include "sevenzip/crc32.h"

#include <array>
#include <cstring>

namespace zul::sevenzip {
namespace {

// Slicing-by-8 tables: table[k][b] is the CRC of byte b followed by k zero
// bytes, so eight input bytes are folded with eight look-ups.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables makeTables() {
  Tables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b;
    for (int i = 0; i < 8; ++i) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    t[0][b] = c;
  }
  for (int k = 1; k < 8; ++k) {
    for (uint32_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
  }
  return t;
}

constexpr Tables kTables = makeTables();

}  // namespace

uint32_t crc32Update(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
  while (size >= 8) {
    const uint32_t lo = c ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    c = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
        kTables[4][lo >> 24] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
    p += 8;
    size -= 8;
  }
  while (size-- > 0) c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xFF];
  return ~c;
}

}  // namespace zul::sevenzip
