// The compressed container of the package's companion lists ("ZULREG.db",
// "ZULDLL.db"): magic 0D 0F 3E 03, the stated uncompressed length N as a
// 32-bit little-endian number, then a zlib stream.
//
// A container is accepted when N (its top bit ignored) is above 0 and the
// stream ends properly within 2 × N output bytes; the output may be shorter
// than N.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/text.h"

namespace zul {

inline constexpr std::string_view kContainerMagic{"\x0D\x0F\x3E\x03", 4};
inline constexpr size_t kContainerHeaderSize = 8;
// Output ceiling whatever N states, in bytes: the lists are small, and 2 × N
// of a damaged or hostile header would otherwise ask for up to 4 GiB.
inline constexpr size_t kContainerOutputLimit = 256u * 1024 * 1024;

enum class ContainerStatus {
  kOk,
  kNotContainer,   // shorter than the header, or another magic
  kZeroLength,     // stated length 0
  kTooLarge,       // the stream produces more than the output bound
  kCorrupt,        // damaged stream, or it ends before its end marker
  kOutOfMemory,
};

// Inflates the container in `data` into `*out`. The output bound is
// min(2 × N, `outputLimit`) bytes; memory grows with the output actually
// produced, not with N. On any status but kOk `*out` is empty.
[[nodiscard]] ContainerStatus decompressContainer(std::string_view data, Bytes* out,
                                                  size_t outputLimit = kContainerOutputLimit);

// The content of the container in `data`; empty on any failure.
Bytes decompressBytes(std::string_view data);

}  // namespace zul
