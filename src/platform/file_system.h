// Files and folders, behind an interface so that the portable core runs
// natively in tests.
//
// Paths are GBK texts in Windows form ("C:\dir\name"). The Win32
// implementation converts them with code page 936 and calls the W functions;
// the native one maps them below a host folder (see native_file_system.h).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/text.h"

namespace zul {

// An open file. Closing happens in the destructor.
class RandomFile {
 public:
  virtual ~RandomFile() = default;
  // Current size in bytes; false when it cannot be read.
  virtual bool size(uint64_t* bytes) = 0;
  // Reads up to `count` bytes at `offset` into `buffer`; returns the number
  // of bytes actually read (short at the end of the file, 0 on failure).
  virtual size_t readAt(uint64_t offset, void* buffer, size_t count) = 0;
  // Writes all `count` bytes at `offset`; offsets beyond the end extend the
  // file (the gap reads as zero bytes). False on any failure.
  virtual bool writeAt(uint64_t offset, const void* buffer, size_t count) = 0;
};

enum class OpenMode {
  kRead,            // existing file, read access, others may read and write
  kWrite,           // existing file, write access, others may read and write
  kReadWriteExclusive,  // existing file, read and write access, no sharing
  kCreate,          // create or truncate, write access
};

struct DirEntry {
  Text name;          // file name only
  bool isDirectory = false;
};

enum FileAttribute : uint32_t {
  kAttributeReadOnly = 0x1,
  kAttributeHidden = 0x2,
  kAttributeSystem = 0x4,
  kAttributeDirectory = 0x10,
  kAttributeArchive = 0x20,
  kAttributeNormal = 0x80,
  kAttributeReparsePoint = 0x400,  // a junction or a symbolic link
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Null when the file cannot be opened in that mode.
  virtual std::unique_ptr<RandomFile> open(const Text& path, OpenMode mode) = 0;

  virtual bool exists(const Text& path) = 0;  // file or folder
  virtual bool isDirectory(const Text& path) = 0;
  // One level; true also when the folder already exists.
  virtual bool createDirectory(const Text& path) = 0;
  virtual bool removeFile(const Text& path) = 0;
  // Only an empty folder.
  virtual bool removeDirectory(const Text& path) = 0;
  // Replaces an existing target file.
  virtual bool moveFile(const Text& from, const Text& to) = 0;
  // Entries of a folder without "." and "..". Empty when it cannot be read.
  // An entry whose name has no exact GBK form is left out (its nearest form
  // could name another entry); such an entry cannot be reached by name.
  virtual std::vector<DirEntry> list(const Text& folder) = 0;

  // FileAttribute bits; false when the file does not exist.
  virtual bool getAttributes(const Text& path, uint32_t* attributes) = 0;
  virtual bool setAttributes(const Text& path, uint32_t attributes) = 0;
  // Last-write time in Windows FILETIME units (100 ns since 1601-01-01 UTC).
  virtual bool setModificationTime(const Text& path, uint64_t filetime) = 0;

  // The temporary folder, ending with "\".
  virtual Text tempFolder() = 0;
};

// Whole-file helpers on top of the interface.

// The file's bytes; empty when it is missing or unreadable.
Bytes readWholeFile(FileSystem& fs, const Text& path);
// Creates or replaces the file with `data`. False on failure.
bool writeWholeFile(FileSystem& fs, const Text& path, std::string_view data);

// The folder part of a path without the trailing "\" ("C:\a\b.exe" gives
// "C:\a"), and the name part ("b.exe"). DBCS-aware.
Text folderOf(const Text& path);
Text fileNameOf(const Text& path);
// `folder` with a "\" appended unless it already ends with one (DBCS-aware),
// and without it.
Text withTrailingSlash(const Text& folder);
Text withoutTrailingSlash(const Text& folder);

// Removes `folder` and everything below it, read-only files included, best
// effort. Refuses an empty path and a drive root ("C:" or "C:\"). A
// junction or symbolic link, inside or in the place of `folder` itself, is
// removed itself, never walked: what it leads to stays. True when the folder
// (or the link) is gone afterwards.
bool removeTree(FileSystem& fs, const Text& folder);

}  // namespace zul
