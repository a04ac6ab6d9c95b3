// The parsed header of a 7z archive: where the packed streams lie, how each
// folder (a chain of coders) turns them into data, and which files that data
// holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "sevenzip/byte_source.h"
#include "sevenzip/status.h"

namespace zul::sevenzip {

struct Coder {
  std::string methodId;      // the method's id bytes, e.g. "\x21" for LZMA2
  std::string properties;    // the coder's property bytes
  uint32_t numInStreams = 1;   // packed side
  uint32_t numOutStreams = 1;  // unpacked side
};

struct BindPair {
  uint32_t inIndex;   // a coder input (folder-wide numbering) ...
  uint32_t outIndex;  // ... fed by this coder output
};

struct Folder {
  std::vector<Coder> coders;
  std::vector<BindPair> bindPairs;
  std::vector<uint32_t> packedStreams;  // folder-wide input index of each packed stream, in pack order
  std::vector<uint64_t> unpackSizes;    // bytes, one per coder output (folder-wide numbering)
  bool crcDefined = false;
  uint32_t crc = 0;                     // of the main output
  uint64_t firstPackStream = 0;         // index into Archive::packSizes

  // The coder output that nothing binds: the folder's data. -1 when the
  // folder is malformed.
  int mainOutput() const;
  uint64_t unpackSize() const;
};

struct FileEntry {
  std::u16string name;      // as stored (UTF-16), separators '/' or '\'
  bool hasStream = true;    // false for folders and empty files
  bool isDirectory = false;
  bool isAnti = false;      // a deletion marker: never extracted
  uint64_t size = 0;        // bytes
  bool crcDefined = false;
  uint32_t crc = 0;
  bool attributesDefined = false;
  uint32_t attributes = 0;  // Windows attribute bits (high 16 bits may carry a Unix mode)
  bool mtimeDefined = false;
  uint64_t mtime = 0;       // FILETIME units
};

// Substreams of one folder, in order: the files whose data it holds.
struct FolderFiles {
  std::vector<size_t> files;  // indexes into Archive::files
};

struct Archive {
  uint64_t base = 0;               // offset of the signature header in the source
  uint64_t packPos = 0;            // of the first packed stream, relative to base + 32
  std::vector<uint64_t> packSizes;
  std::vector<uint64_t> packOffsets;  // absolute offsets in the source, one per packed stream
  std::vector<Folder> folders;
  std::vector<FileEntry> files;
  std::vector<FolderFiles> folderFiles;  // one per folder
  bool headerEncrypted = false;
};

// Limits on what a header may ask for, checked before anything is allocated.
struct Limits {
  uint64_t memoryBytes = uint64_t{1} << 30;  // largest single buffer (dictionary, header), bytes
  unsigned maxKeyDerivationPower = 24;        // AES key derivation: at most 2^this SHA-256 rounds
};

// Finds the archive in `source` (at offset 0, or at the first later
// signature whose start header CRC holds) and reads its header, decoding an
// encoded or encrypted header with `password` (GBK).
[[nodiscard]] Status readArchive(ByteSource& source, const Text& password, const Limits& limits, Archive* archive);

// Offset of the first 7z signature at or after `from` whose start header's
// CRC holds; false when there is none.
[[nodiscard]] bool findSignature(ByteSource& source, uint64_t from, uint64_t* offset);

}  // namespace zul::sevenzip
