#include "platform/file_system.h"

namespace zul {

Bytes readWholeFile(FileSystem& fs, const Text& path) {
  auto file = fs.open(path, OpenMode::kRead);
  uint64_t size = 0;
  if (!file || !file->size(&size) || size > SIZE_MAX) return {};
  Bytes data(static_cast<size_t>(size), '\0');
  data.resize(file->readAt(0, data.data(), data.size()));
  return data;
}

bool writeWholeFile(FileSystem& fs, const Text& path, std::string_view data) {
  auto file = fs.open(path, OpenMode::kCreate);
  return file && file->writeAt(0, data.data(), data.size());
}

Text folderOf(const Text& path) {
  const size_t at = lastSeparatorGbk(path);
  return at == Text::npos ? Text() : path.substr(0, at);
}

Text fileNameOf(const Text& path) {
  const size_t at = lastSeparatorGbk(path);
  return at == Text::npos ? path : path.substr(at + 1);
}

Text withTrailingSlash(const Text& folder) {
  if (!folder.empty() && lastSeparatorGbk(folder) == folder.size() - 1) return folder;
  return folder + "\\";
}

Text withoutTrailingSlash(const Text& folder) {
  if (!folder.empty() && lastSeparatorGbk(folder) == folder.size() - 1) return folder.substr(0, folder.size() - 1);
  return folder;
}

bool removeTree(FileSystem& fs, const Text& folder) {
  const Text path = withoutTrailingSlash(folder);
  if (path.empty() || (path.size() == 2 && path[1] == ':')) return false;
  uint32_t attributes = 0;
  if (fs.getAttributes(path, &attributes) && (attributes & kAttributeReparsePoint)) {
    // Someone may have planted a link to another folder here, or in the place
    // of the folder itself (temporary folders are open to every program of
    // the user, and this one may run elevated): remove the link only.
    const bool removed = (attributes & kAttributeDirectory) ? fs.removeDirectory(path) : fs.removeFile(path);
    return removed || !fs.exists(path);
  }
  for (const DirEntry& entry : fs.list(path)) {
    const Text child = path + "\\" + entry.name;
    if (entry.isDirectory) {
      removeTree(fs, child);
    } else {
      fs.setAttributes(child, kAttributeNormal);
      fs.removeFile(child);
    }
  }
  return fs.removeDirectory(path) || !fs.exists(path);
}

}  // namespace zul
