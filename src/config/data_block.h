// Named data blocks stored inside another file's bytes.
//
// A block named N is the bytes N, 0x01, content, N, "end". The content may
// hold any bytes but the closing pattern N + "end"; an INI file may carry
// blocks between its lines.
#pragma once

#include <string_view>
#include <vector>

#include "base/text.h"

namespace zul {

inline constexpr std::string_view kBlockEndMarker = "end";

// The content of the first block named `name` in `data`: the bytes after the
// first `name` + 0x01 up to the first `name` + `endMarker` after them. Empty
// when either pattern is missing or the content is empty (all three read
// as "not found").
Bytes findDataBlock(std::string_view data, std::string_view name, std::string_view endMarker = kBlockEndMarker);

// `data` with every occurrence of every text in `references` replaced by the
// content at the same index of `contents`, in one pass: occurrences are found
// in the original bytes, so inserted contents are never searched. When two
// occurrences overlap (one reference is a prefix of another, or a reference
// overlaps itself), the one that starts first wins and, at the same start,
// the longer one. Empty references are ignored, and so are references
// without a content at the same index.
Bytes replaceReferences(std::string_view data, const std::vector<Text>& references,
                        const std::vector<Bytes>& contents);

}  // namespace zul
