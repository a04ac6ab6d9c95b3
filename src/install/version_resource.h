// The uninstaller's version resource: a VERSIONINFO script filled with eight
// texts, compiled into the binary VS_VERSIONINFO structure and stored as
// RT_VERSION 1, language 2052, of the executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/text.h"
#include "platform/file_system.h"
#include "platform/resource_updater.h"
#include "platform/text_codec.h"

namespace zul {

// The eight texts of the version information (GBK), in template order.
struct VersionTexts {
  Text company;          // CompanyName
  Text description;      // FileDescription
  Text fileVersion;      // FileVersion
  Text internalName;     // InternalName
  Text rightsNotice;     // LegalCopyright
  Text sourceFileName;   // OriginalFilename
  Text productName;      // ProductName
  Text productVersion;   // ProductVersion
};

inline constexpr uint16_t kVersionLanguage = 2052;  // zh-CN
// BLOCK nesting deeper than this is refused.
inline constexpr int kMaxVersionBlockDepth = 16;

// The template with its placeholders replaced, in the order company,
// description, rights notice, file version, internal name, source file name,
// product name, product version; each replacement acts on the whole current
// text, so a text holding a later placeholder is changed by it.
Text fillVersionTemplate(const VersionTexts& texts);

enum class VersionScriptStatus {
  kOk,
  kTooLarge,  // a length does not fit its 16-bit field
  kTooDeep,   // BLOCKs nested deeper than kMaxVersionBlockDepth
};

// Compiles a VERSIONINFO script (lines ending in CR LF) into the binary
// structure: the header keywords FILEVERSION, PRODUCTVERSION, FILEOS and
// FILETYPE up to the first "{", then BLOCK and VALUE lines; other lines are
// skipped and a missing "}" ends at the end of the text. Texts go to UTF-16
// through `codec`. On any status but kOk `*out` is empty.
[[nodiscard]] VersionScriptStatus compileVersionScript(std::string_view script, TextCodec& codec, Bytes* out);

// The offset, in bytes, where the executable image in `file` ends (the end
// of its furthest section, or of its headers); data after it is appended
// data the system's resource update does not keep. 0 when `file` is not a
// PE image.
size_t executableImageEnd(std::string_view file);

// Stores the compiled version information as RT_VERSION 1, language 2052,
// of `exePath`, and keeps the data appended after the image: a trial update
// first shows what the system's update does to the file; after the real
// update the appended data is put back when the update dropped it. False
// when the script could not be compiled (the file is then untouched), the
// update failed, or the appended data could not be restored.
bool setVersionInfo(FileSystem& fs, ResourceUpdater& updater, TextCodec& codec, const Text& exePath,
                    const VersionTexts& texts);

}  // namespace zul
