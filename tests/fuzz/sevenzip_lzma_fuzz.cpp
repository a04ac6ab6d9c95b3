// LZMA and LZMA2 on arbitrary bytes, decoded in one call and again in small
// uneven pieces: both must agree on the result and the output, and neither
// may crash or read or write out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sevenzip/lzma2_decoder.h"
#include "sevenzip/lzma_decoder.h"

namespace {

using zul::sevenzip::LzmaResult;
using zul::sevenzip::LzWindow;

template <typename Decoder>
bool run(Decoder& decoder, const uint8_t* in, size_t size, size_t step, size_t capacity, std::vector<uint8_t>* out) {
  std::vector<uint8_t> buffer(capacity);
  LzWindow window{buffer.data(), capacity, 0, 0};
  size_t at = 0;
  for (int rounds = 0; rounds < 100000 && out->size() < (1u << 20); ++rounds) {
    if (window.pos == capacity) window.pos = 0;
    const size_t piece = std::min(step, size - at);
    size_t taken = piece;
    const size_t start = window.pos;
    const size_t limit = window.pos + std::min<size_t>(capacity - window.pos, step * 3 + 1);
    if (decoder.decode(window, limit, in + at, &taken, at + piece == size) != LzmaResult::kOk) return false;
    if (taken > piece) abort();
    at += taken;
    out->insert(out->end(), buffer.begin() + start, buffer.begin() + window.pos);
    if (taken == 0 && window.pos == start && at == size) break;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool lzma2 = data[0] & 1;
  const size_t capacity = size_t{1} << (8 + (data[0] >> 1) % 10);
  data += 1;
  size -= 1;
  std::vector<uint8_t> whole, pieces;
  bool okWhole, okPieces;
  if (lzma2) {
    zul::sevenzip::Lzma2Decoder a, b;
    a.reset();
    b.reset();
    okWhole = run(a, data, size, size, capacity, &whole);
    okPieces = run(b, data, size, 7, capacity, &pieces);
  } else {
    zul::sevenzip::LzmaProperties props;
    if (!props.parseByte(data[0])) return 0;
    props.dictionarySize = static_cast<uint32_t>(capacity);
    zul::sevenzip::LzmaDecoder a, b;
    a.reset(props);
    b.reset(props);
    okWhole = run(a, data + 1, size - 1, size, capacity, &whole);
    okPieces = run(b, data + 1, size - 1, 7, capacity, &pieces);
  }
  // Output limits differ between the runs, so compare the common prefix.
  const size_t common = std::min(whole.size(), pieces.size());
  if (okWhole && okPieces && common > 0 && memcmp(whole.data(), pieces.data(), common) != 0) abort();
  return 0;
}
