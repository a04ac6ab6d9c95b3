#include "sevenzip/lzma_decoder.h"

#include <algorithm>
#include <cstring>

namespace zul::sevenzip {
namespace {

constexpr unsigned kNumStates = 12;
constexpr unsigned kPosStatesMax = 16;
constexpr unsigned kEndPosModelIndex = 14;  // distance slots below this use tree-coded extra bits
constexpr unsigned kNumAlignBits = 4;
constexpr unsigned kMatchMinLen = 2;
constexpr uint32_t kTopValue = 1u << 24;
constexpr unsigned kProbBits = 11;
constexpr uint16_t kProbInit = 1u << (kProbBits - 1);
constexpr unsigned kMoveBits = 5;

// Offsets of the probability models inside the one array.
constexpr size_t kIsMatch = 0;
constexpr size_t kIsRep = kIsMatch + kNumStates * kPosStatesMax;
constexpr size_t kIsRepG0 = kIsRep + kNumStates;
constexpr size_t kIsRepG1 = kIsRepG0 + kNumStates;
constexpr size_t kIsRepG2 = kIsRepG1 + kNumStates;
constexpr size_t kIsRep0Long = kIsRepG2 + kNumStates;
constexpr size_t kPosSlot = kIsRep0Long + kNumStates * kPosStatesMax;  // 4 trees of 64
constexpr size_t kSpecPos = kPosSlot + 4 * 64;
constexpr size_t kAlign = kSpecPos + 115;
// A length coder: choice, choice2, 16 low trees of 8, 16 mid trees of 8, one high tree of 256.
constexpr size_t kLenChoice = 0;
constexpr size_t kLenChoice2 = 1;
constexpr size_t kLenLow = 2;
constexpr size_t kLenMid = kLenLow + kPosStatesMax * 8;
constexpr size_t kLenHigh = kLenMid + kPosStatesMax * 8;
constexpr size_t kLenCoderSize = kLenHigh + 256;
constexpr size_t kLenCoder = kAlign + 16;
constexpr size_t kRepLenCoder = kLenCoder + kLenCoderSize;
constexpr size_t kLiteral = kRepLenCoder + kLenCoderSize;
constexpr size_t kLiteralCoderSize = 0x300;

// Inlined into the symbol loop: the decoder's time is spent here.
#if defined(__GNUC__)
#define ZUL_HOT inline __attribute__((always_inline))
#else
#define ZUL_HOT inline
#endif

// The range decoder over an input that is known to hold enough bytes.
struct RangeDecoder {
  uint32_t range;
  uint32_t code;
  const uint8_t* in;

  ZUL_HOT void normalize() {
    if (range < kTopValue) {
      range <<= 8;
      code = (code << 8) | *in++;
    }
  }
  ZUL_HOT unsigned bit(uint16_t& p) {
    normalize();
    const uint32_t bound = (range >> kProbBits) * p;
    if (code < bound) {
      range = bound;
      p = static_cast<uint16_t>(p + (((1u << kProbBits) - p) >> kMoveBits));
      return 0;
    }
    range -= bound;
    code -= bound;
    p = static_cast<uint16_t>(p - (p >> kMoveBits));
    return 1;
  }
  // A bit tree of `numBits` levels, most significant bit first.
  ZUL_HOT unsigned tree(uint16_t* probs, unsigned numBits) {
    unsigned m = 1;
    for (unsigned i = 0; i < numBits; ++i) m = (m << 1) | bit(probs[m]);
    return m - (1u << numBits);
  }
  // A bit tree read least significant bit first.
  ZUL_HOT unsigned reverseTree(uint16_t* probs, unsigned numBits) {
    unsigned m = 1, symbol = 0;
    for (unsigned i = 0; i < numBits; ++i) {
      const unsigned b = bit(probs[m]);
      m = (m << 1) | b;
      symbol |= b << i;
    }
    return symbol;
  }
  ZUL_HOT uint32_t direct(unsigned numBits) {
    uint32_t result = 0;
    for (unsigned i = 0; i < numBits; ++i) {
      normalize();
      range >>= 1;
      const uint32_t b = code >= range ? 1 : 0;
      code -= range & (0u - b);
      result = (result << 1) | b;
    }
    return result;
  }
  ZUL_HOT unsigned length(uint16_t* coder, unsigned posState) {
    if (bit(coder[kLenChoice]) == 0) return tree(coder + kLenLow + posState * 8, 3);
    if (bit(coder[kLenChoice2]) == 0) return 8 + tree(coder + kLenMid + posState * 8, 3);
    return 16 + tree(coder + kLenHigh, 8);
  }
};

}  // namespace

bool LzmaProperties::parseByte(uint8_t b) {
  if (b >= 9 * 5 * 5) return false;
  lc = b % 9;
  lp = (b / 9) % 5;
  pb = b / 45;
  return true;
}

bool LzmaProperties::parse(const uint8_t* bytes, size_t size) {
  if (size < 5 || !parseByte(bytes[0])) return false;
  dictionarySize = uint32_t{bytes[1]} | uint32_t{bytes[2]} << 8 | uint32_t{bytes[3]} << 16 | uint32_t{bytes[4]} << 24;
  return true;
}

size_t LzmaDecoder::tableBytes(const LzmaProperties& properties) {
  return (kLiteral + (kLiteralCoderSize << (properties.lc + properties.lp))) * sizeof(uint16_t);
}

void LzmaDecoder::reset(const LzmaProperties& properties) {
  resetState(properties);
  resetRangeCoder();
  position_ = 0;
  remainLen_ = 0;
  endMarker_ = false;
}

void LzmaDecoder::resetState(const LzmaProperties& properties) {
  props_ = properties;
  probs_.assign(tableBytes(properties) / sizeof(uint16_t), kProbInit);
  state_ = 0;
  std::fill(std::begin(reps_), std::end(reps_), 0);
  remainLen_ = 0;
}

void LzmaDecoder::resetRangeCoder() {
  needInit_ = true;
  initSize_ = 0;
  tailSize_ = 0;
}

void LzmaDecoder::copyPendingMatch(LzWindow& window, size_t outLimit) {
  const size_t distance = size_t{reps_[0]} + 1;
  size_t src = window.pos >= distance ? window.pos - distance : window.pos + window.capacity - distance;
  while (remainLen_ > 0 && window.pos < outLimit) {
    window.put(window.buffer[src]);
    if (++src == window.capacity) src = 0;
    --remainLen_;
    ++position_;
  }
}

LzmaResult LzmaDecoder::decodeSymbols(LzWindow& window, size_t outLimit, const uint8_t*& in, const uint8_t* end,
                                      bool oneSymbol) {
  RangeDecoder rc{range_, code_, in};
  uint16_t* const probs = probs_.data();
  uint8_t* const buf = window.buffer;
  const size_t cap = window.capacity;
  size_t pos = window.pos;
  size_t filled = window.filled;
  unsigned state = state_;
  uint32_t rep0 = reps_[0], rep1 = reps_[1], rep2 = reps_[2], rep3 = reps_[3];
  uint64_t position = position_;
  const unsigned pbMask = (1u << props_.pb) - 1;
  const unsigned lpMask = (1u << props_.lp) - 1;
  const unsigned lc = props_.lc;
  LzmaResult result = LzmaResult::kOk;

  while (pos < outLimit && (oneSymbol || static_cast<size_t>(end - rc.in) >= kMaxSymbolInput)) {
    const unsigned posState = static_cast<unsigned>(position) & pbMask;
    if (rc.bit(probs[kIsMatch + state * kPosStatesMax + posState]) == 0) {
      const unsigned prev = filled > 0 ? buf[pos == 0 ? cap - 1 : pos - 1] : 0;
      uint16_t* lit = probs + kLiteral +
                      kLiteralCoderSize * (((static_cast<unsigned>(position) & lpMask) << lc) + (prev >> (8 - lc)));
      unsigned symbol = 1;
      if (state >= 7) {
        if (rep0 >= filled) {
          result = LzmaResult::kDataError;
          break;
        }
        const size_t from = pos > rep0 ? pos - rep0 - 1 : pos + cap - rep0 - 1;
        unsigned matchByte = buf[from];
        do {
          const unsigned matchBit = (matchByte >> 7) & 1;
          matchByte <<= 1;
          const unsigned b = rc.bit(lit[((1 + matchBit) << 8) + symbol]);
          symbol = (symbol << 1) | b;
          if (matchBit != b) break;
        } while (symbol < 0x100);
      }
      while (symbol < 0x100) symbol = (symbol << 1) | rc.bit(lit[symbol]);
      buf[pos++] = static_cast<uint8_t>(symbol);
      if (filled < cap) ++filled;
      ++position;
      state = state < 4 ? 0 : (state < 10 ? state - 3 : state - 6);
      if (oneSymbol) break;
      continue;
    }

    unsigned len;
    if (rc.bit(probs[kIsRep + state]) != 0) {
      if (filled == 0) {
        result = LzmaResult::kDataError;
        break;
      }
      if (rc.bit(probs[kIsRepG0 + state]) == 0) {
        if (rc.bit(probs[kIsRep0Long + state * kPosStatesMax + posState]) == 0) {
          if (rep0 >= filled) {
            result = LzmaResult::kDataError;
            break;
          }
          const size_t from = pos > rep0 ? pos - rep0 - 1 : pos + cap - rep0 - 1;
          buf[pos] = buf[from];
          ++pos;
          if (filled < cap) ++filled;
          ++position;
          state = state < 7 ? 9 : 11;
          if (oneSymbol) break;
          continue;
        }
      } else {
        uint32_t dist;
        if (rc.bit(probs[kIsRepG1 + state]) == 0) {
          dist = rep1;
        } else {
          if (rc.bit(probs[kIsRepG2 + state]) == 0) {
            dist = rep2;
          } else {
            dist = rep3;
            rep3 = rep2;
          }
          rep2 = rep1;
        }
        rep1 = rep0;
        rep0 = dist;
      }
      len = rc.length(probs + kRepLenCoder, posState);
      state = state < 7 ? 8 : 11;
    } else {
      rep3 = rep2;
      rep2 = rep1;
      rep1 = rep0;
      len = rc.length(probs + kLenCoder, posState);
      state = state < 7 ? 7 : 10;
      const unsigned lenState = len < 3 ? len : 3;
      const unsigned slot = rc.tree(probs + kPosSlot + lenState * 64, 6);
      if (slot < 4) {
        rep0 = slot;
      } else {
        const unsigned directBits = (slot >> 1) - 1;
        uint32_t dist = (2 | (slot & 1)) << directBits;
        if (slot < kEndPosModelIndex) {
          dist += rc.reverseTree(probs + kSpecPos + dist - slot, directBits);
        } else {
          dist += rc.direct(directBits - kNumAlignBits) << kNumAlignBits;
          dist += rc.reverseTree(probs + kAlign, kNumAlignBits);
        }
        rep0 = dist;
      }
      if (rep0 == 0xFFFFFFFFu) {
        endMarker_ = true;
        break;
      }
    }
    if (rep0 >= filled) {
      result = LzmaResult::kDataError;
      break;
    }
    len += kMatchMinLen;
    const size_t distance = size_t{rep0} + 1;
    const size_t now = std::min<size_t>(len, outLimit - pos);
    const size_t from = pos >= distance ? pos - distance : pos + cap - distance;
    if (from + now <= cap && (now <= 32 || distance < now)) {
      // Short or overlapping: a forward byte copy repeats the pattern as LZ requires.
      uint8_t* dst = buf + pos;
      const uint8_t* src = buf + from;
      for (size_t i = 0; i < now; ++i) dst[i] = src[i];
    } else if (distance >= now && from + now <= cap) {
      memmove(buf + pos, buf + from, now);
    } else {
      size_t s = from;
      for (size_t i = 0; i < now; ++i) {
        buf[pos + i] = buf[s];
        if (++s == cap) s = 0;
      }
    }
    pos += now;
    filled = std::min(cap, filled + now);
    position += now;
    remainLen_ = len - now;
    if (oneSymbol) break;
  }

  range_ = rc.range;
  code_ = rc.code;
  in = rc.in;
  window.pos = pos;
  window.filled = filled;
  state_ = state;
  reps_[0] = rep0;
  reps_[1] = rep1;
  reps_[2] = rep2;
  reps_[3] = rep3;
  position_ = position;
  return result;
}

LzmaResult LzmaDecoder::decode(LzWindow& window, size_t outLimit, const uint8_t* src, size_t* srcSize, bool srcFinal) {
  const uint8_t* in = src;
  const uint8_t* const end = src + *srcSize;
  LzmaResult result = LzmaResult::kOk;

  while (result == LzmaResult::kOk) {
    if (remainLen_ > 0) copyPendingMatch(window, outLimit);
    if (window.pos >= outLimit || endMarker_ || remainLen_ > 0) break;

    if (needInit_) {
      while (initSize_ < 5 && in < end) init_[initSize_++] = *in++;
      if (initSize_ < 5) {
        if (srcFinal) result = LzmaResult::kDataError;
        break;
      }
      if (init_[0] != 0) {
        result = LzmaResult::kDataError;
        break;
      }
      code_ = uint32_t{init_[1]} << 24 | uint32_t{init_[2]} << 16 | uint32_t{init_[3]} << 8 | init_[4];
      range_ = 0xFFFFFFFFu;
      needInit_ = false;
      // A code at or above the range cannot come from an encoder.
      if (code_ == 0xFFFFFFFFu) {
        result = LzmaResult::kDataError;
        break;
      }
    }

    if (tailSize_ == 0 && static_cast<size_t>(end - in) >= kMaxSymbolInput) {
      result = decodeSymbols(window, outLimit, in, end, false);
      continue;
    }

    // Too little input for a symbol to be sure of its bytes: work on a copy
    // that holds what was kept back plus the head of the new input.
    const size_t available = static_cast<size_t>(end - in);
    if (tailSize_ + available < kMaxSymbolInput && !srcFinal) {
      memcpy(tail_ + tailSize_, in, available);
      tailSize_ += available;
      in = end;
      break;
    }
    const size_t added = std::min(kMaxSymbolInput, available);
    memcpy(tail_ + tailSize_, in, added);
    const size_t have = tailSize_ + added;
    memset(tail_ + have, 0, sizeof tail_ - have);
    const uint8_t* t = tail_;
    result = decodeSymbols(window, outLimit, t, tail_ + have, true);
    const size_t used = static_cast<size_t>(t - tail_);
    if (used > have) {
      result = LzmaResult::kDataError;  // the symbol ran past the end of the input
      break;
    }
    if (used >= tailSize_) {
      in += used - tailSize_;
      tailSize_ = 0;
    } else {
      memmove(tail_, tail_ + used, tailSize_ - used);
      tailSize_ -= used;
    }
  }
  *srcSize = static_cast<size_t>(in - src);
  return result;
}

}  // namespace zul::sevenzip
