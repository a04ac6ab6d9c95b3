#include <windows.h>

#include <string>

#include "platform/test_support/scratch_folder.h"
#include "platform/win32/win32_platform.h"

namespace zul {

ScratchFolder::ScratchFolder() {
  fs_ = std::make_unique<win32::Win32FileSystem>();
  const Text temp = fs_->tempFolder();
  for (unsigned n = GetTickCount();; ++n) {
    path_ = temp + "zul_test_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(n);
    if (!fs_->exists(path_) && fs_->createDirectory(path_)) break;
  }
  path_ += "\\";
  host_ = path_;
}

ScratchFolder::~ScratchFolder() { removeTree(*fs_, path_); }

}  // namespace zul
