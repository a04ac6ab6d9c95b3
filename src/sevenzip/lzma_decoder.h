// LZMA decoding, written from the format's public description: a range
// decoder driving literal, match and repeated-match symbols over a sliding
// dictionary.
//
// The decoder is resumable: it keeps its whole state between calls and takes
// input and output in pieces of any size, so decoding in one call and byte by
// byte give the same result. Input the decoder has taken but not yet used is
// held inside it (at most kMaxSymbolInput bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sevenzip/lz_window.h"

namespace zul::sevenzip {

struct LzmaProperties {
  unsigned lc = 3;  // literal context bits, 0..8
  unsigned lp = 0;  // literal position bits, 0..4
  unsigned pb = 2;  // position bits, 0..4
  uint32_t dictionarySize = 0;  // bytes, as stored; the window may be smaller

  // Decodes the 5-byte property block of a 7z LZMA coder (lc/lp/pb byte and
  // little-endian dictionary size). False on a bad byte.
  [[nodiscard]] bool parse(const uint8_t* bytes, size_t size);
  // Only the lc/lp/pb byte (pb * 45 + lp * 9 + lc). False when out of range.
  [[nodiscard]] bool parseByte(uint8_t b);
};

enum class LzmaResult {
  kOk,         // progress made or more input/output needed; see the accessors
  kDataError,  // corrupt input: bad first byte, distance beyond the history, input overrun
};

class LzmaDecoder {
 public:
  // Bytes one symbol may need at most: one per decoded bit, with room to spare.
  static constexpr size_t kMaxSymbolInput = 64;

  // Sets lc/lp/pb and resets the probabilities and the coder state. The
  // next decode() starts a new range-coder stream (5 init bytes).
  void reset(const LzmaProperties& properties);
  // LZMA2: new state and probabilities (optionally new lc/lp/pb), same window.
  void resetState(const LzmaProperties& properties);
  // LZMA2: the next decode() starts a new range-coder stream.
  void resetRangeCoder();

  // Decodes into `window` until `window.pos` reaches `outLimit`
  // (<= window.capacity), the input runs out, or an end marker is read.
  // `*srcSize` is in bytes: what is available before the call, what was taken
  // after it. `srcFinal` says no input follows `src`; only then does the
  // decoder use a symbol whose bytes it cannot all see, and reading past the
  // end becomes kDataError.
  [[nodiscard]] LzmaResult decode(LzWindow& window, size_t outLimit, const uint8_t* src, size_t* srcSize, bool srcFinal);

  // LZMA2: `size` bytes were stored uncompressed in the window; they count
  // for the literal and position contexts.
  void addUncompressed(size_t size) { position_ += size; }
  // LZMA2: a dictionary reset also restarts the position count.
  void resetPosition() { position_ = 0; }

  bool sawEndMarker() const { return endMarker_; }
  // Bytes of a match that did not fit below the last output limit.
  size_t pendingMatchBytes() const { return remainLen_; }
  // Memory the probability tables of these properties need, in bytes.
  static size_t tableBytes(const LzmaProperties& properties);

 private:
  // Decodes symbols from `in` while output space remains and, unless
  // `oneSymbol`, while at least kMaxSymbolInput bytes remain before `end`.
  LzmaResult decodeSymbols(LzWindow& window, size_t outLimit, const uint8_t*& in, const uint8_t* end, bool oneSymbol);
  void copyPendingMatch(LzWindow& window, size_t outLimit);

  LzmaProperties props_;
  std::vector<uint16_t> probs_;  // every probability model, one array
  uint32_t range_ = 0;
  uint32_t code_ = 0;
  unsigned state_ = 0;           // the 12-state symbol history
  uint32_t reps_[4] = {};        // the last four match distances, minus one
  uint64_t position_ = 0;        // bytes decoded since the last reset (for posState and lp)
  size_t remainLen_ = 0;         // bytes of a match still to be copied
  bool needInit_ = true;         // the next 5 input bytes initialise the range coder
  bool endMarker_ = false;
  uint8_t init_[5] = {};
  size_t initSize_ = 0;
  uint8_t tail_[2 * kMaxSymbolInput] = {};  // taken input not yet used
  size_t tailSize_ = 0;
};

}  // namespace zul::sevenzip
