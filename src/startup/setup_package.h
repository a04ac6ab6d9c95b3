// The setup file's appended sections and their markers.
//
// A setup file is the stub's executable image followed by sections, each
// written as one block: a gap byte 0x00, the opening marker, 0x01, the
// content, the closing marker, 0x01. There is no table of contents; readers
// find a section by searching for marker + 0x01, so a marker text that occurs
// elsewhere without the 0x01 (the stub's own string table) never matches.
//
// Readers work in chunks and hold at most one chunk plus their result in
// memory. Consecutive chunks overlap by the pattern length less one byte, so
// a pattern that straddles a chunk boundary is still found.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "base/text.h"
#include "platform/file_system.h"

namespace zul {

// Marker texts (GBK), without the 0x01 that follows them in the file.
inline constexpr std::string_view kPackageModeOpen = "ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFC" "A";   // 配置包A
inline constexpr std::string_view kPackageModeClose = "ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFC" "B";  // 配置包B
inline constexpr std::string_view kPayloadOpen = "ZUL-mark=7zipdataA";
inline constexpr std::string_view kPayloadClose = "ZUL-mark=7zipdataB";
inline constexpr std::string_view kConfigOpen = "ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFC" "sA";  // 配置包sA
inline constexpr std::string_view kConfigClose = "ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFC" "sB";  // 配置包sB

inline constexpr std::string_view kInstallerMode = "zul-1";
inline constexpr std::string_view kUninstallerMode = "zul-2";

// The 7z signature; the configuration section stores the archive with its
// second byte changed.
inline constexpr std::string_view kSevenZipSignature{"7z\xBC\xAF\x27\x1C\x00\x03", 8};

// Chunk sizes in bytes.
inline constexpr uint64_t kSectionChunk = 15728640;  // 15 MiB
inline constexpr uint64_t kStubChunk = 5242880;      // 5 MiB

// What the readers need besides files. Tests shrink the chunks and the wait.
struct SectionReader {
  explicit SectionReader(FileSystem& f) : fs(f) {}

  FileSystem& fs;
  // Called between retries while a file reads as empty; the wait is bounded
  // by `emptyFileRetries` (the file then reads as holding no section).
  std::function<void()> waitBeforeRetry;
  // Called before every progress report so the window stays responsive.
  std::function<void()> pumpMessages;
  int emptyFileRetries = 50;
  uint64_t sectionChunk = kSectionChunk;
  uint64_t stubChunk = kStubChunk;
};

using SectionProgress = std::function<void(int percent)>;

// Where a section's content lies in the file; `found` is false when either
// pattern is missing.
struct SectionLocation {
  uint64_t offset = 0;  // first content byte
  uint64_t size = 0;    // content length in bytes
  bool found = false;
};

SectionLocation locateSectionForward(SectionReader& io, const Text& path, std::string_view openMarker,
                                     std::string_view closeMarker);
SectionLocation locateSectionBackward(SectionReader& io, const Text& path, std::string_view openMarker,
                                      std::string_view closeMarker);

// The content between the first opening pattern and the first closing
// pattern after it; empty when either is missing.
Bytes readSectionForward(SectionReader& io, const Text& path, std::string_view openMarker,
                         std::string_view closeMarker);

// Streams the section into a new file `copyPath`: the opening pattern, the
// content, and the rest of the chunk in which the closing pattern lies. Used
// for the payload, which is too large to hold in memory. `progress` (may be
// empty) receives whole percents of the file scanned. False when the file
// could not be read or the copy could not be written; a copy whose closing
// pattern is missing runs to the end of the file and counts as written.
bool copySectionForward(SectionReader& io, const Text& path, std::string_view openMarker,
                        std::string_view closeMarker, const Text& copyPath,
                        const SectionProgress& progress);

// The content between the last closing pattern and the last opening pattern
// before it, searching from the end of the file; empty when not found.
Bytes readSectionBackward(SectionReader& io, const Text& path, std::string_view openMarker,
                          std::string_view closeMarker);

// The bytes before the gap byte that precedes the first opening pattern:
// the stub's executable image. Empty when the pattern is missing.
Bytes readStubPart(SectionReader& io, const Text& path, std::string_view openMarker);

// Appends one package-mode block holding `modeText`. False when the file
// cannot be opened for exclusive writing (the running setup file, say).
bool appendPackageMode(FileSystem& fs, const Text& path, std::string_view modeText);

// The bytes of a block around `content`: gap byte, opening pattern, content,
// closing pattern. Writers that stream large content use the two halves.
Bytes sectionBlockHead(std::string_view openMarker);
Bytes sectionBlockTail(std::string_view closeMarker);

// 0 when the 7z signature is at offset 0, 1 when at offset 1, -1 otherwise.
int checkArchiveSignature(FileSystem& fs, const Text& path);

// When checkArchiveSignature gives -1, writes "7z" at `offset`; otherwise
// leaves the file alone. Fails silently when the file cannot be written.
void repairArchiveSignature(FileSystem& fs, const Text& path, uint64_t offset);

}  // namespace zul
