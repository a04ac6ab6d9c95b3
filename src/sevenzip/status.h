// The outcome of reading or extracting a 7z archive. Values are stable: they
// double as the non-zero results of the command-line entry.
#pragma once

#include <string_view>

namespace zul::sevenzip {

enum class Status {
  kOk = 0,
  kNotArchive = 1,         // no 7z signature whose start header checks out
  kCorrupt = 2,            // headers or packed data are inconsistent
  kTruncated = 3,          // the archive (or a volume of it) ends early, or a volume is missing
  kCrcError = 4,           // a header or a file does not match its stored CRC
  kWrongPassword = 5,      // encrypted, and no password or a wrong one was given
  kUnsupportedMethod = 6,  // a valid archive that uses a method or feature we do not decode
  kOutOfMemory = 7,        // a dictionary, buffer or count above the memory limit, or allocation failed
  kUnsafeName = 8,         // an entry name that would leave the destination (absolute, drive, "..", device)
  kWriteError = 9,         // a destination file or folder could not be written
  kReadError = 10,         // the archive could not be opened or read
  kCancelled = 11,         // the owner callback asked to stop
};

// A short English description of `status`, for messages and logs.
std::string_view statusMessage(Status status);

}  // namespace zul::sevenzip
