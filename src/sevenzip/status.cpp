#include "sevenzip/status.h"

namespace zul::sevenzip {

std::string_view statusMessage(Status status) {
  switch (status) {
    case Status::kOk: return "Everything is Ok";
    case Status::kNotArchive: return "Cannot open the file as a 7z archive";
    case Status::kCorrupt: return "The archive is corrupt";
    case Status::kTruncated: return "Unexpected end of archive (a volume may be missing)";
    case Status::kCrcError: return "CRC error: the data is damaged";
    case Status::kWrongPassword: return "Wrong password, or the encrypted data is damaged";
    case Status::kUnsupportedMethod: return "Unsupported compression method or archive feature";
    case Status::kOutOfMemory: return "The archive needs more memory than allowed";
    case Status::kUnsafeName: return "An entry name points outside the destination folder";
    case Status::kWriteError: return "Cannot write an output file";
    case Status::kReadError: return "Cannot read the archive";
    case Status::kCancelled: return "Extraction cancelled";
  }
  return "Unknown error";
}

}  // namespace zul::sevenzip
