// Turns a folder's packed streams into its data by chaining the folder's
// coders as pull streams. Each coder reads its inputs on demand, so memory
// stays bounded by the coders' own buffers (an LZMA window, a filter's few
// bytes of look-ahead) whatever the data size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sevenzip/archive.h"

namespace zul::sevenzip {

class Stream {
 public:
  virtual ~Stream() = default;
  // Reads up to `size` bytes; `*got` is 0 only at the end of the stream.
  [[nodiscard]] virtual Status read(uint8_t* buffer, size_t size, size_t* got) = 0;
};

// Reads exactly `size` bytes unless the stream ends first (then kCorrupt).
[[nodiscard]] Status readFully(Stream& stream, uint8_t* buffer, size_t size);

// The main output of `archive.folders[folderIndex]`, exactly its unpack size
// long. kUnsupportedMethod for a coder we do not have, kWrongPassword when
// the folder is encrypted and `password` is empty, kOutOfMemory above
// `limits`.
[[nodiscard]] Status openFolder(ByteSource& source, const Archive& archive, size_t folderIndex, const Text& password,
                                const Limits& limits, std::unique_ptr<Stream>* stream);

// True when some coder of the folder is the 7z AES coder.
bool folderIsEncrypted(const Folder& folder);

}  // namespace zul::sevenzip
