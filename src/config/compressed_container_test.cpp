#include "config/compressed_container.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace zul {
namespace {

Bytes zlibStream(std::string_view content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  Bytes out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                      reinterpret_cast<const Bytef*>(content.data()), static_cast<uLong>(content.size()), 9),
            Z_OK);
  out.resize(size);
  return out;
}

Bytes container(uint32_t stated, std::string_view stream) {
  Bytes out(kContainerMagic);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(stated >> (8 * i)));
  return out + Bytes(stream);
}

Bytes sample(size_t n) {
  Bytes s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>("REGEDIT4\r\n[HKEY]"[i % 16] + i / 997));
  return s;
}

TEST(CompressedContainerTest, AcceptanceRules) {
  const Bytes content = sample(1000);
  const Bytes stream = zlibStream(content);
  Bytes corrupt = stream;
  corrupt[corrupt.size() / 2] ^= 0x55;
  Bytes badChecksum = stream;
  badChecksum.back() ^= 1;
  const struct {
    const char* what;
    Bytes input;
    ContainerStatus status;
  } cases[] = {
      {"stated length exact", container(1000, stream), ContainerStatus::kOk},
      {"output exactly 2 x N", container(500, stream), ContainerStatus::kOk},
      {"output one byte over 2 x N", container(499, stream), ContainerStatus::kTooLarge},
      {"stated length above the real one", container(1u << 30, stream), ContainerStatus::kOk},
      {"top bit of the length ignored", container(0x80000000u | 1000, stream), ContainerStatus::kOk},
      {"stated length 0", container(0, stream), ContainerStatus::kZeroLength},
      {"only the top bit set", container(0x80000000u, stream), ContainerStatus::kZeroLength},
      {"other magic", "\x0D\x0F\x3E\x04" + container(1000, stream).substr(4), ContainerStatus::kNotContainer},
      {"raw zlib stream", stream, ContainerStatus::kNotContainer},
      {"shorter than the header", container(1000, "").substr(0, 7), ContainerStatus::kNotContainer},
      {"header only", container(1000, ""), ContainerStatus::kCorrupt},
      {"stream cut short", container(1000, stream.substr(0, stream.size() - 5)), ContainerStatus::kCorrupt},
      {"damaged stream", container(1000, corrupt), ContainerStatus::kCorrupt},
      {"bad Adler-32", container(1000, badChecksum), ContainerStatus::kCorrupt},
      {"bytes after the stream", container(1000, stream + "trailing"), ContainerStatus::kOk},
  };
  for (const auto& c : cases) {
    Bytes out = "stale";
    EXPECT_EQ(decompressContainer(c.input, &out), c.status) << c.what;
    EXPECT_EQ(out, c.status == ContainerStatus::kOk ? content : Bytes()) << c.what;
    EXPECT_EQ(decompressBytes(c.input), c.status == ContainerStatus::kOk ? content : Bytes()) << c.what;
  }
}

// The output grows with what the stream produces: a large stated length on a
// stream of zeros is refused at the caller's ceiling, not allocated up front.
TEST(CompressedContainerTest, OutputCeilingHoldsWhateverTheHeaderStates) {
  const Bytes zeros(3 * 1024 * 1024, '\0');
  const Bytes input = container(0x7FFFFFFF, zlibStream(zeros));
  Bytes out;
  EXPECT_EQ(decompressContainer(input, &out, 1024 * 1024), ContainerStatus::kTooLarge);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(decompressContainer(input, &out), ContainerStatus::kOk);
  EXPECT_EQ(out, zeros);
}

}  // namespace
}  // namespace zul
