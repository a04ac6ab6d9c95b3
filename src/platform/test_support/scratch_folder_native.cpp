#include <stdlib.h>

#include <filesystem>

#include "platform/fake/native_file_system.h"
#include "platform/test_support/scratch_folder.h"

namespace zul {

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zul_test_XXXXXX").string();
  host_ = mkdtemp(pattern.data());
  std::filesystem::create_directories(host_ + "/C/work");
  fs_ = std::make_unique<NativeFileSystem>(host_);
  path_ = "C:\\work\\";
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::permissions(host_, std::filesystem::perms::owner_all, ec);
  for (auto& entry : std::filesystem::recursive_directory_iterator(host_, ec)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(host_, ec);
}

}  // namespace zul
