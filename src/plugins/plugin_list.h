// The package's plug-in lists: "ZULDLL_s.ini" (descriptors) and "ZULDLL.db"
// (the DLL files), entries separated by "禾弋DLL分割标记", entry i of one
// belonging to entry i of the other.
//
// A descriptor entry holds three fields, each the bytes between the first
// start marker and the first end marker after it: "DLLname…DLLname_end"
// (export to call at load time), "DLLmd…DLLmd_end" (0 installer, 1
// uninstaller) and "DLLparam…DLLparam_end" (parameter text). A DLL entry's
// file is every byte after its first "DLLparam_end".
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace zul {

// 禾弋DLL分割标记
inline constexpr std::string_view kPluginEntrySeparator =
    "\xBA\xCC\xDF\xAE" "DLL" "\xB7\xD6\xB8\xEE\xB1\xEA\xBC\xC7";
// A plain library list starts with this; anything else is a compressed
// container.
inline constexpr std::string_view kPlainLibraryListStart = "DLLname";
inline constexpr std::string_view kPluginFolderName = "zul_dll";

// More entries than this are ignored: a package carries a handful, and every
// one becomes a module in the process.
inline constexpr size_t kMaxPluginEntries = 256;

struct PluginEntry {
  Text exportName;    // up to its first NUL; called once at load time
  int32_t mode = 0;   // 0 installer, 1 uninstaller; empty or non-numeric is 0
  Text parameters;    // parameter text of the load-time call
  Bytes dll;          // the DLL file; empty when the entry has none
};

enum class PluginListStatus {
  kOk,
  kEmpty,          // no library list, or one that is neither plain nor a valid container
  kTooManyEntries, // more than kMaxPluginEntries; the first ones are in the result
};

// The bytes between the first `start` and the first `end` after it; empty
// when either is missing.
Bytes pluginField(std::string_view entry, std::string_view start, std::string_view end);

// The library list as stored: used as it is when it starts with "DLLname",
// otherwise decompressed (empty when it is not a valid container).
Bytes plainLibraryList(std::string_view stored);

// Pairs the descriptors with the DLL entries of the (plain) library list, in
// order, one PluginEntry per DLL entry. A DLL entry without a descriptor
// gets empty fields. `*out` holds the entries read whatever the status.
[[nodiscard]] PluginListStatus parsePluginList(std::string_view descriptors, std::string_view libraries,
                                               std::vector<PluginEntry>* out);

// The plug-in folder below the temporary folder `tempPath`:
// `tempPath` + "zul_dll" (a "\" added when `tempPath` lacks one). Empty
// when `tempPath` is empty, so that nothing is written relative to the
// current folder.
Text pluginFolder(const Text& tempPath);

}  // namespace zul
