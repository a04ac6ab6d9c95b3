// The 7z format's header structures as the writer emits them: property ids,
// coder ids, the description of a folder, and the serialiser.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace zul::pack::format7z {

// Header property ids of the 7z format.
enum PropertyId : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kName = 0x11,
  kMTime = 0x14,
  kWinAttributes = 0x15,
  kEncodedHeader = 0x17,
};

// Version 0.3: the signature readers of this system compare all 8 bytes.
constexpr uint8_t kSignature[8] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 3};
constexpr size_t kStartHeaderSize = 32;
constexpr uint8_t kCoderIdLzma2[] = {0x21};
constexpr uint8_t kCoderIdX86[] = {0x03, 0x03, 0x01, 0x03};
constexpr uint8_t kCoderIdAes[] = {0x06, 0xF1, 0x07, 0x01};

// How one folder (one compressed stream) is coded, as the header describes it.
struct FolderCoding {
  bool x86 = false;
  bool aes = false;
  uint8_t lzma2Property = 0;
  std::string aesProperties;
  uint64_t unpackSize = 0;  // bytes out of LZMA2 (and of the x86 filter)
  uint64_t lzmaSize = 0;    // bytes out of the AES decoder: LZMA2's input
  uint64_t packSize = 0;    // bytes stored
};

// Serialises header structures.
class HeaderWriter {
 public:
  void byte(uint8_t b) { out.push_back(static_cast<char>(b)); }
  // The 7z variable-length number: leading one bits in the first byte count
  // the extra little-endian bytes that follow.
  void number(uint64_t value) {
    int extra = 0;
    while (extra < 8 && value >= (uint64_t{1} << (7 * (extra + 1)))) ++extra;
    uint8_t first = extra == 8 ? 0xFF : static_cast<uint8_t>(0xFF00 >> extra);
    if (extra < 8) first |= static_cast<uint8_t>(value >> (8 * extra));
    byte(first);
    for (int i = 0; i < extra; ++i) byte(static_cast<uint8_t>(value >> (8 * i)));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
  }
  void bits(const std::vector<bool>& v) {
    for (size_t i = 0; i < v.size(); i += 8) {
      uint8_t b = 0;
      for (size_t j = 0; j < 8 && i + j < v.size(); ++j) {
        if (v[i + j]) b |= static_cast<uint8_t>(0x80 >> j);
      }
      byte(b);
    }
  }
  void bytes(std::string_view s) { out.append(s); }
  void coder(const uint8_t* id, size_t idSize, std::string_view properties) {
    byte(static_cast<uint8_t>(idSize | (properties.empty() ? 0 : 0x20)));
    out.append(reinterpret_cast<const char*>(id), idSize);
    if (!properties.empty()) {
      number(properties.size());
      bytes(properties);
    }
  }
  // Coders in decoding order: AES, LZMA2, x86; each one's input is bound to
  // the previous one's output.
  void folder(const FolderCoding& f) {
    const size_t coders = 1 + (f.aes ? 1 : 0) + (f.x86 ? 1 : 0);
    number(coders);
    if (f.aes) coder(kCoderIdAes, sizeof kCoderIdAes, f.aesProperties);
    coder(kCoderIdLzma2, sizeof kCoderIdLzma2, std::string_view(reinterpret_cast<const char*>(&f.lzma2Property), 1));
    if (f.x86) coder(kCoderIdX86, sizeof kCoderIdX86, {});
    for (size_t i = 1; i < coders; ++i) {
      number(i);
      number(i - 1);
    }
  }
  void folderUnpackSizes(const FolderCoding& f) {
    if (f.aes) number(f.lzmaSize);
    number(f.unpackSize);
    if (f.x86) number(f.unpackSize);
  }
  // PackInfo and UnpackInfo of `folders`, whose streams start `packPos`
  // bytes after the start header.
  void streams(uint64_t packPos, const std::vector<FolderCoding>& folders, const std::vector<uint32_t>* folderCrcs) {
    byte(kPackInfo);
    number(packPos);
    number(folders.size());
    byte(kSize);
    for (const FolderCoding& f : folders) number(f.packSize);
    byte(kEnd);
    byte(kUnpackInfo);
    byte(kFolder);
    number(folders.size());
    byte(0);  // not external
    for (const FolderCoding& f : folders) folder(f);
    byte(kCodersUnpackSize);
    for (const FolderCoding& f : folders) folderUnpackSizes(f);
    if (folderCrcs != nullptr) {
      byte(kCrc);
      byte(1);  // all defined
      for (uint32_t crc : *folderCrcs) u32(crc);
    }
    byte(kEnd);
  }

  std::string out;
};

// The 32-byte start header: signature, version, its own CRC, and the
// position (after the start header), size and CRC of the next header.
inline void startHeader(uint64_t nextOffset, std::string_view next, uint8_t out[kStartHeaderSize]) {
  HeaderWriter h;
  h.u64(nextOffset);
  h.u64(next.size());
  h.u32(static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(next.data()), next.size())));
  memcpy(out, kSignature, 8);
  const uint32_t crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(h.out.data()), h.out.size()));
  for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<uint8_t>(crc >> (8 * i));
  memcpy(out + 12, h.out.data(), 20);
}

}  // namespace zul::pack::format7z
