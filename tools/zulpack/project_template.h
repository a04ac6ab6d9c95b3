// The example project that `zulpack init` writes: a complete, commented
// configuration, generated pictures and icon, a small payload and a
// registry list, ready for `zulpack build`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/text.h"

namespace zul::pack {

// Writes the example project into the host folder `dir`, which must be
// missing or empty (it is created with its parents). On failure returns
// false with `*error` naming the file and the reason, and removes what it
// wrote (a folder that existed before stays, empty).
[[nodiscard]] bool writeExampleProject(const std::string& dir, std::string* error);

// A PNG image (8-bit RGB, zlib-compressed) of `width` × `height` pixels;
// `pixel` gives each pixel as 0xRRGGBB, rows from the top.
Bytes makePng(int width, int height, const std::function<uint32_t(int x, int y)>& pixel);

// An icon file holding one 32 × 32 image of 32-bit colour with alpha;
// `pixel` gives 0xAARRGGBB, rows from the top.
Bytes makeIcon(const std::function<uint32_t(int x, int y)>& pixel);

}  // namespace zul::pack
