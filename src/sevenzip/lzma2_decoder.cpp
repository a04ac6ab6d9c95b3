#include "sevenzip/lzma2_decoder.h"

#include <algorithm>
#include <cstring>

namespace zul::sevenzip {

bool lzma2DictionarySize(uint8_t property, uint32_t* bytes) {
  if (property > 40) return false;
  *bytes = property == 40 ? 0xFFFFFFFFu : (2u | (property & 1u)) << (property / 2 + 11);
  return true;
}

void Lzma2Decoder::reset() {
  phase_ = Phase::kControl;
  headerSize_ = 0;
  needDictionaryReset_ = true;
  needProperties_ = true;
}

LzmaResult Lzma2Decoder::decode(LzWindow& window, size_t outLimit, const uint8_t* src, size_t* srcSize,
                                bool srcFinal) {
  const uint8_t* in = src;
  const uint8_t* const end = src + *srcSize;
  LzmaResult result = LzmaResult::kOk;

  while (result == LzmaResult::kOk && phase_ != Phase::kFinished) {
    if (phase_ == Phase::kControl) {
      if (in == end) break;
      control_ = *in++;
      if (control_ == 0) {
        phase_ = Phase::kFinished;
        break;
      }
      if (control_ >= 0x03 && control_ < 0x80) {
        result = LzmaResult::kDataError;
        break;
      }
      // A dictionary reset comes with stored chunk 1 and LZMA chunks E0..FF.
      if (control_ == 0x01 || control_ >= 0xE0) {
        needProperties_ = true;
        needDictionaryReset_ = false;
        window.resetHistory();
        lzma_.resetPosition();
      } else if (needDictionaryReset_) {
        result = LzmaResult::kDataError;
        break;
      }
      headerNeeded_ = control_ >= 0x80 ? (control_ >= 0xC0 ? 5 : 4) : 2;
      headerSize_ = 0;
      phase_ = Phase::kHeader;
      continue;
    }

    if (phase_ == Phase::kHeader) {
      while (headerSize_ < headerNeeded_ && in < end) header_[headerSize_++] = *in++;
      if (headerSize_ < headerNeeded_) break;
      if (control_ < 0x80) {
        unpackLeft_ = (uint32_t{header_[0]} << 8 | header_[1]) + 1;
        phase_ = Phase::kStored;
        continue;
      }
      unpackLeft_ = ((uint32_t{control_} & 0x1F) << 16 | uint32_t{header_[0]} << 8 | header_[1]) + 1;
      packLeft_ = (uint32_t{header_[2]} << 8 | header_[3]) + 1;
      if (control_ >= 0xC0) {
        LzmaProperties p;
        if (!p.parseByte(header_[4]) || p.lc + p.lp > 4) {
          result = LzmaResult::kDataError;
          break;
        }
        props_ = p;
        needProperties_ = false;
        lzma_.resetState(props_);
      } else if (needProperties_) {
        result = LzmaResult::kDataError;
        break;
      } else if (control_ >= 0xA0) {
        lzma_.resetState(props_);
      }
      lzma_.resetRangeCoder();
      phase_ = Phase::kLzma;
      continue;
    }

    if (window.pos >= outLimit) break;

    if (phase_ == Phase::kStored) {
      const size_t n = std::min({static_cast<size_t>(unpackLeft_), outLimit - window.pos, static_cast<size_t>(end - in)});
      if (n == 0) break;
      memcpy(window.buffer + window.pos, in, n);
      window.pos += n;
      window.filled = std::min(window.capacity, window.filled + n);
      lzma_.addUncompressed(n);
      in += n;
      unpackLeft_ -= static_cast<uint32_t>(n);
      if (unpackLeft_ == 0) phase_ = Phase::kControl;
      continue;
    }

    // An LZMA chunk: its input ends after packLeft_ bytes, its output after unpackLeft_.
    const size_t available = std::min(static_cast<size_t>(packLeft_), static_cast<size_t>(end - in));
    const bool chunkInputComplete = available == packLeft_;
    const size_t limit = std::min(outLimit, window.pos + unpackLeft_);
    const size_t before = window.pos;
    size_t taken = available;
    result = lzma_.decode(window, limit, in, &taken, chunkInputComplete);
    in += taken;
    packLeft_ -= static_cast<uint32_t>(taken);
    unpackLeft_ -= static_cast<uint32_t>(window.pos - before);
    if (result != LzmaResult::kOk) break;
    if (lzma_.sawEndMarker()) {
      result = LzmaResult::kDataError;  // LZMA2 chunks carry no end marker
      break;
    }
    if (unpackLeft_ == 0) {
      // The chunk's flush bytes that the range decoder did not need.
      const size_t skip = std::min(static_cast<size_t>(packLeft_), static_cast<size_t>(end - in));
      in += skip;
      packLeft_ -= static_cast<uint32_t>(skip);
      if (packLeft_ > 0) {
        if (in == end) break;
      }
      lzma_.resetRangeCoder();
      phase_ = Phase::kControl;
      continue;
    }
    if (chunkInputComplete && window.pos < limit) {
      result = LzmaResult::kDataError;  // the chunk's input ended before its output
      break;
    }
    if (window.pos == before && taken == 0) break;
  }
  if (result == LzmaResult::kOk && srcFinal && in == end && phase_ != Phase::kFinished && window.pos < outLimit) {
    result = LzmaResult::kDataError;  // the stream ends inside a chunk or without its end chunk
  }
  *srcSize = static_cast<size_t>(in - src);
  return result;
}

}  // namespace zul::sevenzip
