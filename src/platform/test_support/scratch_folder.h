// A fresh, empty folder for one test, and the FileSystem of the tree that
// reaches it: host files natively, the Win32 functions under Wine. Removed
// with everything in it when the object goes.
#pragma once

#include <memory>

#include "platform/file_system.h"

namespace zul {

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  FileSystem& fs() { return *fs_; }
  // The folder as a Windows-form path ending with "\".
  const Text& path() const { return path_; }
  // The same folder as the host sees it (natively a POSIX path; under Wine
  // the same as path()).
  const std::string& hostPath() const { return host_; }

 private:
  std::unique_ptr<FileSystem> fs_;
  Text path_;
  std::string host_;
};

}  // namespace zul
