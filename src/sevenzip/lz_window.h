// The sliding dictionary that LZ decoders write into. The buffer belongs to
// the caller, who drains the bytes between its own read mark and `pos` and
// sets `pos` back to 0 once it reaches `capacity`.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zul::sevenzip {

struct LzWindow {
  uint8_t* buffer = nullptr;  // caller-owned, `capacity` bytes
  size_t capacity = 0;        // bytes; the largest distance a match may reach
  size_t pos = 0;             // where the next decoded byte goes
  size_t filled = 0;          // bytes of history a match may refer to (<= capacity)

  // Forgets the history (a dictionary reset); `pos` stays.
  void resetHistory() { filled = 0; }
  void put(uint8_t b) {
    buffer[pos++] = b;
    if (filled < capacity) ++filled;
  }
};

}  // namespace zul::sevenzip
