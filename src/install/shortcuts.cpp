#include "install/shortcuts.h"

#include "config/package_config.h"
#include "config/variables.h"

namespace zul {
namespace {

constexpr int kDesktopFolder = 3;   // CSIDL_DESKTOPDIRECTORY
constexpr int kProgramsFolder = 6;  // CSIDL_PROGRAMS
constexpr std::string_view kUninstallerFile = "uninst.exe";

bool treeHasFilesBelow(FileSystem& fs, const Text& folder, int depth) {
  if (depth > kMaxFolderDepth || isLinkedFolder(fs, folder)) return true;
  for (const DirEntry& entry : fs.list(folder)) {
    if (!entry.isDirectory) return true;
    if (treeHasFilesBelow(fs, withTrailingSlash(folder) + entry.name, depth + 1)) return true;
  }
  return false;
}

void removeFoldersBelow(FileSystem& fs, const Text& folder) {
  for (const DirEntry& entry : fs.list(folder)) {
    if (!entry.isDirectory) continue;
    const Text child = withTrailingSlash(folder) + entry.name;
    removeFoldersBelow(fs, child);
    fs.removeDirectory(child);
  }
}

bool isDriveRoot(const Text& path) { return path.size() == 2 && path[1] == ':'; }

}  // namespace

bool isLinkedFolder(FileSystem& fs, const Text& folder) {
  uint32_t attributes = 0;
  return fs.getAttributes(withoutTrailingSlash(folder), &attributes) && (attributes & kAttributeReparsePoint) != 0;
}

bool createShellLink(FileSystem& fs, ShellLinks& links, Text& linkPath, const Text& target, const Text& arguments,
                     const Text& icon, bool iconGiven, const Text& description) {
  if (asciiLower(linkPath).find(".lnk") == Text::npos) linkPath += ".lnk";
  if (fs.exists(linkPath)) fs.removeFile(linkPath);

  const std::vector<Text> parts = splitGbk(target, '\\');
  if (parts.size() < 2) return false;
  ShellLinkFields fields;
  for (size_t i = 0; i + 1 < parts.size(); ++i) fields.workingFolder += parts[i] + "\\";
  fields.target = target;
  fields.iconLocation = iconGiven ? icon : target + ",0";
  fields.description = description;
  fields.arguments = arguments;
  return links.createLink(linkPath, fields);
}

Text quickLaunchFolder(FileSystem& fs, SpecialFolders& folders) {
  const Text profile = folders.environment("userprofile");
  const Text current = profile + "\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch";
  if (fs.isDirectory(current)) return current;
  return profile + "\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch";
}

bool folderHasFiles(FileSystem& fs, const Text& folder) {
  for (const DirEntry& entry : fs.list(folder)) {
    if (!entry.isDirectory) return true;
  }
  return false;
}

bool treeHasFiles(FileSystem& fs, const Text& folder) { return treeHasFilesBelow(fs, folder, 0); }

bool removeEmptyTree(FileSystem& fs, const Text& folder) {
  const Text path = withoutTrailingSlash(folder);
  if (path.empty() || isDriveRoot(path)) return false;
  if (!fs.isDirectory(path)) return !fs.exists(path);
  if (treeHasFiles(fs, path)) return false;
  removeFoldersBelow(fs, path);
  return fs.removeDirectory(path) || !fs.exists(path);
}

void makeFolders(FileSystem& fs, const Text& folder) {
  const std::vector<Text> parts = splitGbk(withoutTrailingSlash(folder), '\\');
  Text prefix;
  for (size_t i = 0; i < parts.size(); ++i) {
    prefix += (i == 0 ? "" : "\\") + parts[i];
    // The drive ("C:") and the empty leading parts of "\\server\share"
    // are not folders to create.
    if (i > 0 && !parts[i].empty() && !fs.isDirectory(prefix)) fs.createDirectory(prefix);
  }
}

void createShortcuts(Platform& platform, ShellLinks& links, SpecialFolders& folders, SetupState& state,
                     const ComponentChoices& components, const std::function<void(const Text&)>& reportAction) {
  FileSystem& fs = platform.fs;
  if (components.quickLaunch && !state.mainProgramName.empty() && systemVersion(folders) >= 6.0 - 1e-7) {
    links.pinToTaskbar(state.installDir, state.mainProgramName, true);
  }

  const Text desktop = normalisePath(specialFolder(folders, kDesktopFolder));
  const Text programs = specialFolder(folders, kProgramsFolder);
  const Text programGroup = programs + state.productName;
  const Text quickLaunch = quickLaunchFolder(fs, folders);

  for (ShortcutRecord& record : state.shortcutList) {
    // Decided once per record: its first link rewrites the file to
    // "uninst.exe", which does not exist yet, and its other locations still
    // get their links.
    const bool forUninstaller = record.target == kUninstallerPlaceholder && state.makeUninstaller == 1;
    for (const Text& location : splitBytes(record.location, kListSeparator)) {
      if (location.empty()) continue;  // a trailing "，" names no folder
      const Text folder = normalisePath(location);
      Text linkPath = folder + "\\" + record.name;
      makeFolders(fs, folder);

      if ((folder == desktop && !components.desktop) || (folder == programGroup && !components.programGroup) ||
          (folder == quickLaunch && !components.quickLaunch)) {
        continue;
      }

      if (forUninstaller) {
        record.target = kUninstallerFile;
        // The uninstaller is generated later; its link is written now.
        const Text target = state.installDir + "\\" + record.target;
        const bool iconGiven = !record.icon.empty();
        Text uninstallerLink = linkPath;
        createShellLink(fs, links, uninstallerLink, target, record.arguments,
                        iconGiven ? state.installDir + "\\" + record.icon : Text(), iconGiven, record.description);
      }

      const Text target = state.installDir + "\\" + record.target;
      if (!fs.exists(target)) continue;
      reportAction(Text(kCreateShortcutPrefix) + linkPath);
      const Text icon = record.icon.empty() ? Text() : state.installDir + "\\" + record.icon;
      createShellLink(fs, links, linkPath, target, record.arguments, icon, true, record.description);
    }
  }

  // A program group that received no shortcut goes again. Shortcuts in its
  // subfolders keep it; an empty product name would name the whole
  // programs folder.
  if (!programs.empty() && !state.productName.empty()) removeEmptyTree(fs, programGroup);
}

}  // namespace zul
