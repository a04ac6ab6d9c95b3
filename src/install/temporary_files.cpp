#include "install/temporary_files.h"

namespace zul {
namespace {

Text withoutTrailingSlash(Text path) {
  if (!path.empty() && withTrailingSlash(path) == path) path.pop_back();
  return path;
}

bool isDriveRoot(const Text& path) { return path.size() == 2 && path[1] == ':'; }

// Case-insensitive (ASCII) comparison of two folder paths.
bool sameFolder(const Text& a, const Text& b) {
  return asciiLower(withoutTrailingSlash(a)) == asciiLower(withoutTrailingSlash(b));
}

bool isInside(const Text& path, const Text& folder) {
  const Text prefix = asciiLower(withTrailingSlash(folder));
  return asciiLower(path).compare(0, prefix.size(), prefix) == 0 && path.size() > prefix.size();
}

}  // namespace

bool removeTree(FileSystem& fs, const Text& folder) {
  const Text path = withoutTrailingSlash(folder);
  if (path.empty() || isDriveRoot(path)) return false;
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

void cleanupTemporaryFiles(Platform& platform, const SetupState& state, bool deletePayloadCopy) {
  const Text ownFolder = folderOf(platform.system.ownPath());
  if (!state.dataDir.empty() && !sameFolder(state.dataDir, ownFolder)) removeTree(platform.fs, state.dataDir);
  if (deletePayloadCopy && isInside(state.payloadPath, platform.fs.tempFolder())) {
    platform.fs.removeFile(state.payloadPath);
  }
}

}  // namespace zul
