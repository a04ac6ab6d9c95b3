// A FileSystem held in memory, for the tests of this folder. It runs the same
// natively and under Wine, and can be told to fail writes or renames so that
// the tests see what a failure leaves behind.
#pragma once

#include <map>
#include <memory>
#include <set>

#include "platform/file_system.h"

namespace zul {

class MemoryFileSystem : public FileSystem {
 public:
  std::map<Text, Bytes> files;   // path -> contents; paths compared exactly
  std::set<Text> folders;
  bool failCreate = false;       // open(kCreate) returns null
  bool failMove = false;         // moveFile returns false
  int moves = 0;                 // successful moveFile calls

  std::unique_ptr<RandomFile> open(const Text& path, OpenMode mode) override {
    if (mode == OpenMode::kCreate) {
      if (failCreate) return nullptr;
      files[path].clear();
    } else if (!files.count(path)) {
      return nullptr;
    }
    return std::make_unique<File>(files[path]);
  }
  bool exists(const Text& path) override { return files.count(path) || folders.count(path); }
  bool isDirectory(const Text& path) override { return folders.count(path) > 0; }
  bool createDirectory(const Text& path) override { return folders.insert(path), true; }
  bool removeFile(const Text& path) override { return files.erase(path) > 0; }
  bool removeDirectory(const Text& path) override { return folders.erase(path) > 0; }
  bool moveFile(const Text& from, const Text& to) override {
    if (failMove || !files.count(from)) return false;
    files[to] = files[from];
    files.erase(from);
    ++moves;
    return true;
  }
  std::vector<DirEntry> list(const Text&) override { return {}; }
  bool getAttributes(const Text& path, uint32_t* attributes) override {
    if (!exists(path)) return false;
    *attributes = isDirectory(path) ? kAttributeDirectory : kAttributeNormal;
    return true;
  }
  bool setAttributes(const Text& path, uint32_t) override { return exists(path); }
  bool setModificationTime(const Text& path, uint64_t) override { return exists(path); }
  Text tempFolder() override { return "T:\\Temp\\"; }

 private:
  class File : public RandomFile {
   public:
    explicit File(Bytes& data) : data_(data) {}
    bool size(uint64_t* bytes) override { return *bytes = data_.size(), true; }
    size_t readAt(uint64_t offset, void* buffer, size_t count) override {
      if (offset >= data_.size()) return 0;
      const size_t n = std::min<size_t>(count, data_.size() - static_cast<size_t>(offset));
      data_.copy(static_cast<char*>(buffer), n, static_cast<size_t>(offset));
      return n;
    }
    bool writeAt(uint64_t offset, const void* buffer, size_t count) override {
      if (data_.size() < offset + count) data_.resize(static_cast<size_t>(offset + count), '\0');
      data_.replace(static_cast<size_t>(offset), count, static_cast<const char*>(buffer), count);
      return true;
    }

   private:
    Bytes& data_;
  };
};

// A folder in which someone planted files, subfolders and links (junctions
// or symbolic links), for the tests of what a removal may reach.
// Removing a linked folder removes the link: what was reached through it
// moves to `outside`, where it stays.
class PlantedFileSystem : public MemoryFileSystem {
 public:
  std::set<Text> links;
  std::map<Text, Bytes> outside;
  bool linksStay = false;  // removing a linked folder fails

  std::vector<DirEntry> list(const Text& folder) override {
    std::vector<DirEntry> out;
    const Text prefix = folder + "\\";
    auto add = [&](const Text& path, bool isDirectory) {
      if (path.compare(0, prefix.size(), prefix) == 0 && path.find('\\', prefix.size()) == Text::npos) {
        out.push_back({path.substr(prefix.size()), isDirectory});
      }
    };
    for (const auto& [path, data] : files) add(path, false);
    for (const Text& path : folders) add(path, true);
    return out;
  }
  bool getAttributes(const Text& path, uint32_t* attributes) override {
    if (!MemoryFileSystem::getAttributes(path, attributes)) return false;
    if (links.count(path)) *attributes |= kAttributeReparsePoint;
    return true;
  }
  bool removeDirectory(const Text& path) override {
    if (!links.count(path)) return MemoryFileSystem::removeDirectory(path);
    if (linksStay) return false;
    links.erase(path);
    folders.erase(path);
    for (auto it = files.begin(); it != files.end();) {
      if (it->first.compare(0, path.size() + 1, path + "\\") != 0) {
        ++it;
        continue;
      }
      outside[it->first] = it->second;
      it = files.erase(it);
    }
    return true;
  }
};

}  // namespace zul
