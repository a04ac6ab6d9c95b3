// Branch-call-jump filters: executable code had its relative branch targets
// made absolute before compression (they repeat better); these turn them
// back. Each works in place on a buffer and returns how many leading bytes
// are final; the rest (a possible instruction cut by the buffer end) must be
// given again with the bytes that follow. `ip` is the stream offset of
// data[0]; the x86 filter also carries `state` between calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zul::sevenzip {

size_t x86Decode(uint8_t* data, size_t size, uint32_t ip, uint32_t* state);
size_t armDecode(uint8_t* data, size_t size, uint32_t ip);
size_t armThumbDecode(uint8_t* data, size_t size, uint32_t ip);
size_t arm64Decode(uint8_t* data, size_t size, uint32_t ip);

// Delta: each byte is the difference to the byte `distance` (1..256) before
// it. `history` holds the last 256 output bytes, `*pos` counts them mod 256.
void deltaDecode(uint8_t* data, size_t size, unsigned distance, uint8_t history[256], uint8_t* pos);

}  // namespace zul::sevenzip
