// The keep list a plug-in hands the uninstaller: paths relative to the
// install folder that the removal must leave alone.
#pragma once

#include <string_view>
#include <vector>

#include "base/text.h"

namespace zul {

// Longest keep-list text read from a plug-in's address, in bytes; a text
// without a NUL within it is cut there.
inline constexpr size_t kMaxKeepListText = 1024 * 1024;

// Splits `text` at every ASCII ",": empty pieces between two commas are
// kept, a comma at the very end adds no piece, the empty text gives none.
std::vector<Text> parseKeepList(std::string_view text);

}  // namespace zul
