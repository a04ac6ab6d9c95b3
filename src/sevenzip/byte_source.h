// The archive's bytes as one random-access stream: one file, or the volumes
// NAME.001, NAME.002, ... of a split archive read as their concatenation.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file_system.h"
#include "sevenzip/status.h"

namespace zul::sevenzip {

class ByteSource {
 public:
  // Opens `path`; when its name ends in ".001" the following volumes are
  // added for as long as they exist. kReadError when `path` cannot be opened.
  [[nodiscard]] Status open(FileSystem& fs, const Text& path);

  uint64_t size() const { return total_; }
  // Reads exactly `count` bytes at `offset`; kTruncated when they run past
  // the end, kReadError on an I/O failure.
  [[nodiscard]] Status readAt(uint64_t offset, void* buffer, size_t count);

 private:
  struct Volume {
    std::unique_ptr<RandomFile> file;
    uint64_t start;  // offset of the volume's first byte in the whole stream
    uint64_t size;   // bytes
  };
  std::vector<Volume> volumes_;
  uint64_t total_ = 0;
};

}  // namespace zul::sevenzip
