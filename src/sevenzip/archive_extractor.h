// The program's face of the 7z reader: the command-line entry that stands in
// for the archiver library's SevenZip function, the extraction call that
// builds its command line, and the folder-path helper.
#pragma once

#include <cstdint>
#include <functional>

#include "base/text.h"
#include "platform/file_system.h"

namespace zul {

// States of the owner callback's notifications.
enum ArchiveNotification : int {
  kArchiveFileBegin = 0,     // a file is about to be written (writeSize 0)
  kArchiveFileProgress = 1,  // more of the file was written; also sent when it is complete
  kArchiveFinished = 2,      // the whole command has ended (sent once, last)
};

// What a notification carries about the current file.
struct ExtractingInfo {
  uint32_t fileSize = 0;   // bytes; 4,294,967,295 for a file of 4 GiB or more
  uint32_t writeSize = 0;  // bytes written so far (saturating likewise)
  Text sourceFileName;     // the name inside the archive ("dir\file")
  Text destFileName;       // the full destination path
};

// Called on the calling thread for every notification; returning false
// stops the command (it then fails).
using OwnerCallback = std::function<bool(int state, const ExtractingInfo& info)>;

// Runs a 7z command line the way the archiver library's SevenZip entry did,
// for the subset the program uses:
//   x|e  "ARCHIVE"  [-hide] [-y] [-r] [-aoa] [-pPASSWORD | -p"PASSWORD"]  "DEST\"  [PATTERN...]
// A token is a run of non-blanks in which a double quote opens a quoted
// part that may hold blanks and ends at the next double quote; the quotes
// are dropped. A quoted switch value ends at its closing quote: whatever
// follows in the same token is ignored, so a password holding a double
// quote is cut there (no escaping exists). The destination is the argument
// ending in "\"; patterns ("*", "*.txt", "dir\*") select entries, none
// means all. "x" keeps the stored folders, "e" puts every file straight into
// the destination. Every file is overwritten without asking; no window is
// ever shown.
// Returns 0 on success; otherwise the sevenzip::Status value of the first
// failure (1..11), or kSevenZipUsageError for a command line it cannot run.
// A kArchiveFinished notification ends every command that got as far as
// opening the archive.
inline constexpr int kSevenZipUsageError = 100;
int sevenZip(FileSystem& fs, const Text& commandLine, const OwnerCallback& callback);

using ExtractProgress = std::function<void(const Text& name, int percent)>;

// The command line extractArchive hands to sevenZip:
//   x  "ARCHIVE" -hide -y "DEST\" * -p"PASSWORD"
// with DEST given a trailing "\" unless it has one; the password is put in
// as it is.
Text extractCommandLine(const Text& archivePath, const Text& destinationFolder, const Text& password);

// The percent a notification reports: writeSize × 100 ÷ fileSize, or
// writeSize ÷ 10 when fileSize is 4,294,967,295; 100 for an empty file.
int notificationPercent(uint32_t fileSize, uint32_t writeSize);

// Creates `destinationFolder` (result ignored), then extracts the archive
// at `archivePath` into it with `password` through sevenZip. `progress`,
// when set, receives (destination file name, percent) for every file
// notification and ("", 100) at the end. True when sevenZip returned 0.
bool extractArchive(FileSystem& fs, const Text& archivePath, const Text& destinationFolder, const Text& password,
                    const ExtractProgress& progress);

// Creates every missing folder of `path` ("C:\a\b", a trailing "\" changes
// nothing; DBCS-aware). False, leaving the folders made so far, when the
// path does not start with a drive ("C:"), has fewer than two parts, holds
// an empty, "." or ".." part, or a folder cannot be created.
bool makeFolderPath(FileSystem& fs, const Text& path);

}  // namespace zul
