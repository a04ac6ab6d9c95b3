// The LZMA and LZMA2 decoders on the packed streams of 7zz fixtures, in both
// trees: one call, and one input byte at a time into output steps of 1..3
// bytes, must give the same bytes with the stored CRC. (Windows that wrap
// are covered by the native test against liblzma.)
#include <gtest/gtest.h>

#include <vector>

#include "sevenzip/archive.h"
#include "sevenzip/crc32.h"
#include "sevenzip/lzma2_decoder.h"
#include "sevenzip/lzma_decoder.h"
#include "sevenzip/test_support.h"

namespace zul::sevenzip {
namespace {

template <typename Decoder>
std::string decode(Decoder& decoder, const std::string& packed, size_t inStep, size_t capacity, uint64_t size) {
  std::vector<uint8_t> buffer(capacity);
  LzWindow window{buffer.data(), capacity, 0, 0};
  std::string out;
  size_t at = 0, step = 0;
  while (out.size() < size) {
    if (window.pos == capacity) window.pos = 0;
    const size_t piece = std::min(inStep, packed.size() - at);
    size_t taken = piece;
    const size_t start = window.pos;
    const size_t want = inStep == 1 ? 1 + step++ % 3 : capacity;
    const size_t limit = window.pos + std::min<size_t>({capacity - window.pos, want, static_cast<size_t>(size - out.size())});
    if (decoder.decode(window, limit, reinterpret_cast<const uint8_t*>(packed.data()) + at, &taken,
                       at + piece == packed.size()) != LzmaResult::kOk) {
      return "error";
    }
    at += taken;
    out.append(reinterpret_cast<const char*>(buffer.data() + start), window.pos - start);
    if (taken == 0 && window.pos == start && at == packed.size()) return "stalled";
  }
  return out;
}

TEST(LzmaDecoderTest, OneCallAndByteByByteAgreeOnFixtureStreams) {
  ScratchFolder scratch;
  for (const char* name : {"lzma.7z", "lzma2_nonsolid_plainheader.7z"}) {
    SCOPED_TRACE(name);
    ByteSource source;
    ASSERT_EQ(source.open(scratch.fs(), testing::fixturePath(name)), Status::kOk);
    Archive archive;
    ASSERT_EQ(readArchive(source, "", Limits(), &archive), Status::kOk);
    int checked = 0;
    for (size_t f = 0; f < archive.folders.size() && checked < 3; ++f) {
      const Folder& folder = archive.folders[f];
      const uint64_t size = folder.unpackSize();
      if (folder.coders.size() != 1 || size > 400000 || archive.folderFiles[f].files.size() != 1) continue;
      const FileEntry& file = archive.files[archive.folderFiles[f].files[0]];
      std::string packed(static_cast<size_t>(archive.packSizes[folder.firstPackStream]), '\0');
      ASSERT_EQ(source.readAt(archive.packOffsets[folder.firstPackStream], packed.data(), packed.size()), Status::kOk);
      const std::string& props = folder.coders[0].properties;
      std::string whole, bytewise;
      if (folder.coders[0].methodId == std::string("\x21", 1)) {
        Lzma2Decoder a, b;
        a.reset();
        b.reset();
        whole = decode(a, packed, packed.size(), static_cast<size_t>(size) + 1, size);
        bytewise = decode(b, packed, 1, static_cast<size_t>(size) + 1, size);
      } else {
        LzmaProperties p;
        ASSERT_TRUE(p.parse(reinterpret_cast<const uint8_t*>(props.data()), props.size()));
        LzmaDecoder a, b;
        a.reset(p);
        b.reset(p);
        whole = decode(a, packed, packed.size(), static_cast<size_t>(size) + 1, size);
        bytewise = decode(b, packed, 1, static_cast<size_t>(size) + 1, size);
      }
      ASSERT_EQ(whole.size(), size);
      EXPECT_EQ(crc32(whole.data(), whole.size()), file.crc);
      EXPECT_TRUE(whole == bytewise);
      ++checked;
    }
    EXPECT_GE(checked, 2);
  }
}

}  // namespace
}  // namespace zul::sevenzip
