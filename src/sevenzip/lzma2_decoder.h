// LZMA2: a sequence of chunks, each either stored or LZMA-coded, that may
// reset the dictionary, the coder state or the lc/lp/pb properties.
// Resumable on caller-owned buffers like LzmaDecoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sevenzip/lzma_decoder.h"

namespace zul::sevenzip {

// The dictionary size that the one-byte LZMA2 property stands for; false
// when the byte is above 40.
[[nodiscard]] bool lzma2DictionarySize(uint8_t property, uint32_t* bytes);

class Lzma2Decoder {
 public:
  void reset();

  // Decodes into `window` until `window.pos` reaches `outLimit`, the input
  // runs out or the end chunk is read. `*srcSize`: bytes available before,
  // bytes taken after. `srcFinal`: no input follows.
  [[nodiscard]] LzmaResult decode(LzWindow& window, size_t outLimit, const uint8_t* src, size_t* srcSize, bool srcFinal);

  bool finished() const { return phase_ == Phase::kFinished; }

 private:
  enum class Phase { kControl, kHeader, kStored, kLzma, kFinished };

  LzmaDecoder lzma_;
  Phase phase_ = Phase::kControl;
  uint8_t control_ = 0;
  uint8_t header_[5] = {};    // size and property bytes after the control byte
  size_t headerSize_ = 0;     // bytes of header_ read
  size_t headerNeeded_ = 0;   // bytes of header_ this chunk has
  uint32_t unpackLeft_ = 0;   // bytes of the chunk still to produce
  uint32_t packLeft_ = 0;     // compressed bytes of the chunk still to read
  bool needDictionaryReset_ = true;
  bool needProperties_ = true;
  LzmaProperties props_;
};

}  // namespace zul::sevenzip
