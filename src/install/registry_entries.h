// The package's registry entries ("ZULREG.db", decompressed into
// SetupState::registryEntries), the registry editor's script imports, and
// the writing of data blocks into files such as "uninst.ini".
//
// The entry list is a store of data blocks: "num" holds the number of
// entries; entry i has "REGpath" i, "REGtype" i, "REGdata" i, "REGoff" i
// and "REGname" i.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/platform.h"
#include "platform/process_runner.h"
#include "startup/setup_state.h"

namespace zul {

// "卸载注册表": the block of "uninst.ini" that lists the values to remove.
inline constexpr std::string_view kRegistryRemovalBlock = "\xD0\xB6\xD4\xD8\xD7\xA2\xB2\xE1\xB1\xED";
// What an empty block value is written as, so a written block always reads
// as found.
inline constexpr std::string_view kEmptyBlockValue = "\x01\x02\x03";
// Entries beyond this number are not read, whatever "num" says.
inline constexpr size_t kMaxRegistryEntries = 4096;

struct RegistryEntry {
  Text path;   // root name, "\", key path
  Text type;   // "REG_SZ", "REG_BINARY", "REG_DWORD" or "file"
  Bytes data;  // raw block content
  Text off;    // "真": removed at uninstall
  Text name;   // value name; empty for the default value
};

enum class RegistryListStatus {
  kOk,
  kTruncated,  // "num" is above kMaxRegistryEntries; the first ones were read
};

// The entries 1.."num" of `list`; a missing block reads as empty (texts up
// to their first NUL byte). A "num" that is not a number, or negative,
// gives no entries.
[[nodiscard]] RegistryListStatus parseRegistryEntries(std::string_view list, std::vector<RegistryEntry>* entries);

// `store` with block `name` set to `value` (an empty value is written as
// kEmptyBlockValue): the content of the first block named `name` is
// replaced in place and every other byte kept; a block whose closing is
// missing gets it right after the new content; without a block one is
// appended at the end. False, with `*out` untouched, when `value` holds the
// block's closing pattern (it could not be read back whole).
[[nodiscard]] bool setBlockBytes(std::string_view store, std::string_view name, std::string_view value, Bytes* out);

// setBlockBytes on the file `path` (missing: an empty store), written back
// through a temporary file. False when the value cannot be stored or the
// file not written; the file is then unchanged.
bool setBlock(FileSystem& fs, const Text& path, const Text& name, std::string_view content);

enum class RegistryValueKind {
  kText = 1,    // REG_SZ: the data up to its first NUL byte
  kBinary = 3,  // REG_BINARY
  kNumber = 4,  // REG_DWORD: the first 4 bytes, little-endian (missing bytes read as 0)
};

// Writes one value. `path` starts with "HKEY_CLASSES_ROOT",
// "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE" or
// "HKEY_USERS" (case-sensitive) and a "\"; the key path after it joined
// with `name` is split at its last "\" into the key and the value name.
// False when the root is not recognised or the write failed.
bool writeValue(Registry& registry, const Text& path, const Text& name, std::string_view data, RegistryValueKind kind);

// Imports the registry script `file` with the quoted `windowsFolder` +
// "\regedit.exe", then "/s", and waits for the editor to end, so the next script may reuse or
// replace the file. The editor is named by its full path: by bare name the
// process search would look in this program's folder and the current folder
// first, where anyone may have planted one. False, with nothing started,
// when `windowsFolder` is not a full path ("X:\..."), or when the editor
// could not be started.
bool importScript(ProcessRunner& runner, const Text& windowsFolder, const Text& file);

// Writes every entry of `state.registryEntries` with "%InstallPath%"
// replaced by `installDir`: values through writeValue, scripts ("file")
// written to the temporary folder as "ZUL" + entry number + ".reg" and
// imported one after the other with the editor of the shared Windows folder
// (SpecialFolders::sharedWindowsFolder). When `state.makeUninstaller` is 1, the
// entries marked "真" go to block "卸载注册表" of `installDir` + "\uninst.ini"
// as lines of path, "\", name, CR LF. An empty list does nothing. Failures
// are passed over.
void writeRegistryEntries(Platform& platform, ProcessRunner& runner, const SetupState& state, const Text& installDir);

}  // namespace zul
