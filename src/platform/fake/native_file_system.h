// A FileSystem on the host's POSIX files, for native tests and tools.
//
// A Windows path "X:\a\b" names the host path <root>/X/a/b; a path that
// starts with "/" is a host path already. Either way the GBK bytes are
// converted to UTF-8 and "\" becomes "/". The temporary folder is
// "T:\Temp\" (host <root>/T/Temp), created on first use.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace zul {

class NativeFileSystem : public FileSystem {
 public:
  explicit NativeFileSystem(std::string hostRoot);

  std::unique_ptr<RandomFile> open(const Text& path, OpenMode mode) override;
  bool exists(const Text& path) override;
  bool isDirectory(const Text& path) override;
  bool createDirectory(const Text& path) override;
  bool removeFile(const Text& path) override;
  bool removeDirectory(const Text& path) override;
  bool moveFile(const Text& from, const Text& to) override;
  std::vector<DirEntry> list(const Text& folder) override;
  bool getAttributes(const Text& path, uint32_t* attributes) override;
  bool setAttributes(const Text& path, uint32_t attributes) override;
  bool setModificationTime(const Text& path, uint64_t filetime) override;
  Text tempFolder() override;

  // The host path that `path` names (UTF-8).
  std::string hostPath(const Text& path) const;

 private:
  std::string root_;  // host folder without a trailing "/"
};

// GBK <-> UTF-8 with iconv; characters that do not convert become '?'.
std::string gbkToUtf8(std::string_view gbk);
Text utf8ToGbk(std::string_view utf8);

}  // namespace zul
