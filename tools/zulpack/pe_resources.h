// Reads resources out of a PE image held in memory, on any host.
//
// The image is untrusted: every offset and size is checked against the image
// before use, and a malformed image yields a status, never a crash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"

namespace zul::pack {

enum class PeStatus {
  kOk,        // found; the data is set
  kNotPe,     // no DOS/PE signature, or an optional header of unknown kind
  kCorrupt,   // a structure reaches outside the image or is inconsistent
  kNotFound,  // a well-formed image without that resource
};

// A resource type or name: an integer id, or a string name. String names
// compare the way Windows compares them: ASCII letters without regard to case.
struct ResourceKey {
  bool isString = false;
  uint16_t id = 0;        // when !isString
  std::u16string name;    // when isString, UTF-16 code units

  static ResourceKey fromId(uint16_t id);
  // `ascii` is an ASCII name such as "KEY".
  static ResourceKey fromName(std::string_view ascii);
};

// Finds the resource of `type` and `name` in the PE32 or PE32+ image `image`
// (the file's bytes) and copies its bytes to `*data`. When several languages
// exist the first one listed is taken. `*data` is changed only on kOk.
[[nodiscard]] PeStatus findResource(std::string_view image, const ResourceKey& type, const ResourceKey& name,
                                    Bytes* data);

// The configuration archive's password for a stub: the MD5 digest of the
// stub's resource "KEY" 250, as 32 lower-case hexadecimal digits, which is
// what the stub derives at run time. `*password` is changed only on kOk.
[[nodiscard]] PeStatus configArchivePasswordOf(std::string_view stubImage, Text* password);

}  // namespace zul::pack
