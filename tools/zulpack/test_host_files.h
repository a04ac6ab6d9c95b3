// Host files for the package builder's tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace zul::pack::test_files {

// The whole file; empty when it cannot be read.
inline std::string readHost(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Writes `data` as the whole file, creating its folders.
inline void writeHost(const std::filesystem::path& path, std::string_view data) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Runs a shell command; its wait status.
inline int sh(const std::string& command) { return std::system(command.c_str()); }

}  // namespace zul::pack::test_files
