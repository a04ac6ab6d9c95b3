// Extraction of a 7z archive into a folder through the FileSystem adapter:
// the lower-level entry that the command-line entry and native tools use.
//
// Safety: an entry whose name is absolute, holds a drive or stream colon, a
// ".." component, a reserved device name (CON, NUL, COM1, ...), a character
// Windows forbids in names, or a component ending in a dot or blank is
// refused (kUnsafeName) and nothing is written for it. Nothing is ever
// written outside `destination`. Each file is written under a temporary
// name in its target folder and renamed only after its size and CRC check
// out, so a damaged file never appears under its own name.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/file_system.h"
#include "sevenzip/archive.h"
#include "sevenzip/status.h"

namespace zul::sevenzip {

struct ExtractEvent {
  enum class Kind {
    kBegin,     // a file is about to be written (written == 0)
    kProgress,  // more of it was written
    kDone,      // the file is complete and in place (written == size)
  };
  Kind kind;
  Text entryName;        // the name inside the archive, '\' separated (GBK)
  Text destinationPath;  // where it goes
  uint64_t size;         // bytes
  uint64_t written;      // bytes so far
};

struct ExtractOptions {
  Text password;       // GBK; empty for none
  Limits limits;
  bool withPaths = true;  // false: every file goes straight into the destination folder
  // Entry names (GBK, '\' separated) to extract; null extracts everything.
  std::function<bool(const Text& entryName)> select;
  // Called for every event; returning false stops the extraction (kCancelled).
  std::function<bool(const ExtractEvent&)> onEvent;
};

struct ExtractReport {
  size_t filesWritten = 0;  // files and empty files put in place
  size_t folders = 0;       // folders created or found
  size_t failures = 0;      // entries skipped or not written
  Text firstFailure;        // entry name of the first failure
};

// Extracts every selected entry of the archive at `archivePath` (or of the
// archive inside it, see readArchive; a ".001" name reads all volumes) into
// `destination` (a folder; created when missing). Returns kOk when every
// selected entry was written, otherwise the first failure's status; entries
// after a failure are still attempted where the data allows.
[[nodiscard]] Status extract(FileSystem& fs, const Text& archivePath, const Text& destination,
                             const ExtractOptions& options, ExtractReport* report = nullptr);

// Checks an entry name as stored and gives its destination-relative form in
// GBK with '\' separators. False for the unsafe names listed above, for an
// empty name and for one that has no GBK form.
[[nodiscard]] bool safeRelativePath(std::u16string_view name, Text* relative);

}  // namespace zul::sevenzip
