// Differential test of the LZMA and LZMA2 decoders against liblzma's
// encoders, on random and real data, decoded in one call, byte by byte and in
// uneven pieces through windows small enough to wrap many times.
#include <gtest/gtest.h>
#include <lzma.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sevenzip/lzma2_decoder.h"
#include "sevenzip/lzma_decoder.h"

namespace zul::sevenzip {
namespace {

std::string encode(const std::string& data, lzma_vli filterId, const lzma_options_lzma& options) {
  lzma_filter filters[2] = {{filterId, const_cast<lzma_options_lzma*>(&options)}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::string out(data.size() + data.size() / 2 + 65536, '\0');
  size_t outPos = 0;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                   reinterpret_cast<uint8_t*>(out.data()), &outPos, out.size()),
            LZMA_OK);
  out.resize(outPos);
  return out;
}

// Feeds `packed` in pieces of `inStep` bytes (0: all at once) and takes output
// in pieces of at most `outStep` bytes through a window of `capacity` bytes.
template <typename Decoder>
bool decodeAll(Decoder& decoder, const std::string& packed, size_t inStep, size_t outStep, size_t capacity,
               size_t expected, std::string* out) {
  std::vector<uint8_t> buffer(capacity);
  LzWindow window{buffer.data(), capacity, 0, 0};
  size_t at = 0;
  const auto* src = reinterpret_cast<const uint8_t*>(packed.data());
  size_t stalls = 0;
  while (out->size() < expected) {
    const size_t piece = inStep == 0 ? packed.size() - at : std::min(inStep, packed.size() - at);
    size_t taken = piece;
    if (window.pos == capacity) window.pos = 0;
    const size_t start = window.pos;
    const size_t limit = window.pos + std::min({capacity - window.pos, outStep, expected - out->size()});
    if (decoder.decode(window, limit, src + at, &taken, at + piece == packed.size()) != LzmaResult::kOk) return false;
    at += taken;
    out->append(reinterpret_cast<const char*>(buffer.data() + start), window.pos - start);
    if (taken == 0 && window.pos == start && ++stalls > 2) return false;
    if (taken != 0 || window.pos != start) stalls = 0;
  }
  return true;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::pair<std::string, std::string>> samples() {
  std::mt19937 random(42);
  std::string noise(300000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string text;
  for (const char* f : {"/src/sevenzip/lzma_decoder.cpp", "/src/sevenzip/lzma2_decoder.cpp", "/src/base/text.cpp",
                        "/src/platform/fake/native_file_system.cpp"}) {
    text += readFile(std::string(ZUL_SOURCE_DIR) + f);
  }
  std::string mixed;
  while (mixed.size() < 1500000) {
    mixed += text.substr(random() % text.size() / 2, random() % 5000);
    mixed += noise.substr(random() % 1000, random() % 300);
    mixed += std::string(random() % 700, static_cast<char>(random()));
  }
  std::string binary = readFile("/usr/bin/7zz").substr(0, 2000000);
  return {{"empty", ""}, {"one", "x"}, {"noise", noise}, {"text", text}, {"mixed", mixed}, {"binary", binary}};
}

struct Setting {
  uint32_t lc, lp, pb, dict;
};

TEST(LzmaLiblzmaTest, LzmaAgreesInOneCallAndByteByByte) {
  for (const auto& [name, data] : samples()) {
    for (const Setting s : {Setting{3, 0, 2, 1u << 20}, Setting{0, 2, 0, 4096}, Setting{4, 0, 4, 65536},
                            Setting{0, 4, 1, 1u << 16}, Setting{2, 2, 3, 1u << 22}}) {
      lzma_options_lzma options;
      lzma_lzma_preset(&options, 6);
      options.lc = s.lc;
      options.lp = s.lp;
      options.pb = s.pb;
      options.dict_size = s.dict;
      const std::string packed = encode(data, LZMA_FILTER_LZMA1, options);
      SCOPED_TRACE(name + " lc" + std::to_string(s.lc) + " lp" + std::to_string(s.lp) + " pb" + std::to_string(s.pb));
      const LzmaProperties props{s.lc, s.lp, s.pb, s.dict};
      struct Run {
        size_t in, out, capacity;
      };
      for (const Run run : {Run{0, SIZE_MAX, std::max<size_t>(data.size(), 1)}, Run{1, 1, s.dict},
                            Run{7777, 3001, s.dict}, Run{65536, SIZE_MAX, s.dict}}) {
        if (run.in == 1 && data.size() > 400000) continue;
        LzmaDecoder decoder;
        decoder.reset(props);
        std::string out;
        ASSERT_TRUE(decodeAll(decoder, packed, run.in, run.out, run.capacity, data.size(), &out)) << run.in;
        EXPECT_TRUE(out == data) << run.in << " " << run.out;
      }
    }
  }
}

TEST(LzmaLiblzmaTest, Lzma2AgreesInOneCallAndByteByByte) {
  for (const auto& [name, data] : samples()) {
    for (const Setting s : {Setting{3, 0, 2, 1u << 20}, Setting{0, 4, 0, 4096}, Setting{4, 0, 4, 1u << 16}}) {
      lzma_options_lzma options;
      lzma_lzma_preset(&options, 6);
      options.lc = s.lc;
      options.lp = s.lp;
      options.pb = s.pb;
      options.dict_size = s.dict;
      const std::string packed = encode(data, LZMA_FILTER_LZMA2, options);
      SCOPED_TRACE(name + " dict " + std::to_string(s.dict));
      for (const size_t step : {size_t{0}, size_t{1}, size_t{4099}}) {
        if (step == 1 && data.size() > 400000) continue;
        Lzma2Decoder decoder;
        decoder.reset();
        std::string out;
        ASSERT_TRUE(decodeAll(decoder, packed, step, step == 0 ? SIZE_MAX : step * 3, s.dict, data.size(), &out));
        EXPECT_TRUE(out == data) << step;
        // The end chunk follows the data.
        if (!decoder.finished()) {
          std::vector<uint8_t> buffer(16);
          LzWindow window{buffer.data(), buffer.size(), 0, 0};
          size_t rest = 0;
          EXPECT_EQ(decoder.decode(window, 0, nullptr, &rest, true), LzmaResult::kOk);
        }
      }
    }
  }
}

TEST(LzmaLiblzmaTest, CorruptInputFailsOrDiffersWithoutOverrun) {
  const std::string data = samples()[4].second.substr(0, 200000);
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  const std::string packed = encode(data, LZMA_FILTER_LZMA2, options);
  std::mt19937 random(7);
  for (int i = 0; i < 200; ++i) {
    std::string bad = packed;
    bad[random() % bad.size()] ^= static_cast<char>(1 + random() % 255);
    if (i % 3 == 0) bad.resize(random() % bad.size());
    Lzma2Decoder decoder;
    decoder.reset();
    std::string out;
    decodeAll(decoder, bad, i % 2 ? 1000 : 0, SIZE_MAX, 1u << 16, data.size(), &out);
    EXPECT_LE(out.size(), data.size());
  }
}

}  // namespace
}  // namespace zul::sevenzip
