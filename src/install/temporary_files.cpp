#include "install/temporary_files.h"

namespace zul {
namespace {

// Case-insensitive (ASCII) comparison of two folder paths.
bool sameFolder(const Text& a, const Text& b) {
  return asciiLower(withoutTrailingSlash(a)) == asciiLower(withoutTrailingSlash(b));
}

bool isInside(const Text& path, const Text& folder) {
  const Text prefix = asciiLower(withTrailingSlash(folder));
  return asciiLower(path).compare(0, prefix.size(), prefix) == 0 && path.size() > prefix.size();
}

}  // namespace

void cleanupTemporaryFiles(Platform& platform, const SetupState& state, bool deletePayloadCopy) {
  const Text ownFolder = folderOf(platform.system.ownPath());
  if (!state.dataDir.empty() && !sameFolder(state.dataDir, ownFolder)) removeTree(platform.fs, state.dataDir);
  // The payload is a copy only when it lies in the temporary folder; the
  // setup file itself and volumes beside it may lie there too (a download
  // run from the temporary folder) and are never touched.
  if (deletePayloadCopy && isInside(state.payloadPath, platform.fs.tempFolder()) &&
      !isInside(state.payloadPath, ownFolder)) {
    platform.fs.removeFile(state.payloadPath);
  }
}

}  // namespace zul
