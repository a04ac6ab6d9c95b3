#include "sevenzip/branch_filters.h"

namespace zul::sevenzip {
namespace {

// The high byte of a plausible near x86 displacement: 0x00 or 0xFF.
bool isNearHighByte(uint8_t b) { return ((b + 1) & 0xFE) == 0; }

uint32_t le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
void putLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

// E8 (call) and E9 (jmp) with a 32-bit displacement. `state` remembers
// which of the previous three bytes were E8/E9 opcodes, so that a byte that
// is itself part of a just-seen candidate's operand is not converted twice.
size_t x86Decode(uint8_t* data, size_t size, uint32_t ip, uint32_t* state) {
  uint32_t mask = *state & 7;
  if (size < 5) return 0;
  const size_t limit = size - 4;
  size_t pos = 0;
  ip += 5;
  for (;;) {
    size_t p = pos;
    while (p < limit && (data[p] & 0xFE) != 0xE8) ++p;
    const size_t skipped = p - pos;
    pos = p;
    if (p >= limit) {
      *state = skipped > 2 ? 0 : mask >> skipped;
      return pos;
    }
    if (skipped > 2) {
      mask = 0;
    } else {
      mask >>= skipped;
      if (mask != 0 && (mask > 4 || mask == 3 || isNearHighByte(data[p + (mask >> 1) + 1]))) {
        mask = (mask >> 1) | 4;
        ++pos;
        continue;
      }
    }
    if (isNearHighByte(data[p + 4])) {
      uint32_t v = le32(data + p + 1);
      const uint32_t cur = ip + static_cast<uint32_t>(pos);
      pos += 5;
      v -= cur;
      if (mask != 0) {
        const unsigned shift = (mask & 6) << 2;
        if (isNearHighByte(static_cast<uint8_t>(v >> shift))) {
          v ^= (uint32_t{0x100} << shift) - 1;
          v -= cur;
        }
        mask = 0;
      }
      data[p + 1] = static_cast<uint8_t>(v);
      data[p + 2] = static_cast<uint8_t>(v >> 8);
      data[p + 3] = static_cast<uint8_t>(v >> 16);
      data[p + 4] = static_cast<uint8_t>(0 - ((v >> 24) & 1));
    } else {
      mask = (mask >> 1) | 4;
      ++pos;
    }
  }
}

// ARM BL: a 24-bit word offset in the low bytes of an EB-tagged word.
size_t armDecode(uint8_t* data, size_t size, uint32_t ip) {
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    if (data[i + 3] != 0xEB) continue;
    uint32_t src = (uint32_t{data[i + 2]} << 16 | uint32_t{data[i + 1]} << 8 | data[i]) << 2;
    const uint32_t dest = (src - (ip + static_cast<uint32_t>(i) + 8)) >> 2;
    data[i + 2] = static_cast<uint8_t>(dest >> 16);
    data[i + 1] = static_cast<uint8_t>(dest >> 8);
    data[i] = static_cast<uint8_t>(dest);
  }
  return i;
}

// Thumb BL: a pair of 16-bit halves (F000 and F800 prefixes) holding 22 bits.
size_t armThumbDecode(uint8_t* data, size_t size, uint32_t ip) {
  size_t i = 0;
  for (; i + 4 <= size; i += 2) {
    if ((data[i + 1] & 0xF8) != 0xF0 || (data[i + 3] & 0xF8) != 0xF8) continue;
    uint32_t src = ((uint32_t{data[i + 1]} & 7) << 19) | (uint32_t{data[i]} << 11) | ((uint32_t{data[i + 3]} & 7) << 8) |
                   data[i + 2];
    src <<= 1;
    const uint32_t dest = (src - (ip + static_cast<uint32_t>(i) + 4)) >> 1;
    data[i + 1] = static_cast<uint8_t>(0xF0 | ((dest >> 19) & 7));
    data[i] = static_cast<uint8_t>(dest >> 11);
    data[i + 3] = static_cast<uint8_t>(0xF8 | ((dest >> 8) & 7));
    data[i + 2] = static_cast<uint8_t>(dest);
    i += 2;
  }
  return i;
}

// ARM64: BL (26-bit word offset) and ADRP (21-bit page offset, converted only
// within +-512 MiB so that data words rarely match).
size_t arm64Decode(uint8_t* data, size_t size, uint32_t ip) {
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    uint32_t instr = le32(data + i);
    const uint32_t pc = ip + static_cast<uint32_t>(i);
    if ((instr >> 26) == 0x25) {
      instr = 0x94000000u | ((instr - (pc >> 2)) & 0x03FFFFFFu);
      putLe32(data + i, instr);
    } else if ((instr & 0x9F000000u) == 0x90000000u) {
      const uint32_t src = ((instr >> 29) & 3) | ((instr >> 3) & 0x001FFFFCu);
      if ((src + 0x00020000u) & 0x001C0000u) continue;
      const uint32_t dest = src - (pc >> 12);
      instr &= 0x9000001Fu;
      instr |= (dest & 3) << 29;
      instr |= (dest & 0x0003FFFCu) << 3;
      instr |= (0u - (dest & 0x00020000u)) & 0x00E00000u;
      putLe32(data + i, instr);
    }
  }
  return i;
}

void deltaDecode(uint8_t* data, size_t size, unsigned distance, uint8_t history[256], uint8_t* pos) {
  uint8_t at = *pos;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = static_cast<uint8_t>(data[i] + history[static_cast<uint8_t>(at - distance)]);
    data[i] = b;
    history[at++] = b;
  }
  *pos = at;
}

}  // namespace zul::sevenzip
