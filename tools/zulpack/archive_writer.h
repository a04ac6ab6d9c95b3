// Writes 7z archives: LZMA2 through liblzma, the x86 branch filter for
// executables, solid blocks, compressed headers, and AES-256 with encrypted
// headers when a password is given.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"

namespace zul::pack {

struct ArchiveEntry {
  Text name;              // GBK path inside the archive; "\" or "/" separate folders
  std::string hostPath;   // host file with the contents; empty: the contents are `data`
  Bytes data;             // contents when hostPath is empty
  bool isDirectory = false;
  uint32_t attributes = 0;  // Windows attribute bits (read-only 0x1, hidden 0x2, ...); folders get 0x10 added
  uint64_t mtime = 0;       // last write as a FILETIME (100 ns since 1601-01-01 UTC); 0: not stored
};

struct ArchiveOptions {
  bool solid = true;            // files share compressed blocks
  bool compressHeaders = true;  // the file list is LZMA2-compressed (always so with a password)
  Text password;                // GBK; empty: no encryption. Else contents and file list are encrypted
  int preset = 5;               // LZMA2 level 0..9
  int threads = 2;              // blocks compressed at the same time
  // Called on the thread that called writeArchive with the contents bytes
  // compressed so far and the total; may be empty.
  std::function<void(uint64_t doneBytes, uint64_t totalBytes)> progress;
};

// Writes the archive to the host path `outPath` through a temporary file in
// the same folder that is renamed at the end. On failure returns false with
// `*error` naming the entry or file and the reason, and leaves no output
// (an existing file at `outPath` is left as it was).
//
// Names are checked before anything is compressed: each must be valid GBK,
// relative, without "." or ".." parts, and unique (ASCII case ignored), since
// an extraction on Windows would otherwise escape its folder or overwrite.
bool writeArchive(const std::vector<ArchiveEntry>& entries, const ArchiveOptions& options,
                  const std::string& outPath, std::string* error);

// Splits the file `archivePath` into volumes of `volumeSize` bytes (the last
// one may be shorter) named `baseName` + ".001", ".002", ... (host paths), the
// byte split that 7-Zip's volume readers expect. Volumes left from an earlier
// split beyond the new last number are removed. `*volumeCount` (may be null)
// receives the number written. On failure returns false with `*error` set and
// leaves no new volume.
bool splitVolumes(const std::string& archivePath, uint64_t volumeSize, const std::string& baseName,
                  std::string* error, int* volumeCount = nullptr);

// GBK to UTF-16 code units; false when `gbk` is not valid GBK.
[[nodiscard]] bool gbkToUtf16(std::string_view gbk, std::u16string* utf16);

}  // namespace zul::pack
