#include "uninstall/removal.h"

#include "config/data_block.h"
#include "config/ini_file.h"
#include "config/package_config.h"
#include "config/variables.h"
#include "install/shortcuts.h"
#include "install/uninstall_record.h"

namespace zul {
namespace {

namespace names = uninstall_record;

constexpr int kDesktopFolder = 3;
constexpr int kProgramsFolder = 6;
constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kAllUsersPrograms = "ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\";
constexpr std::string_view kRegistryBlock = "\xD0\xB6\xD4\xD8\xD7\xA2\xB2\xE1\xB1\xED";  // 卸载注册表

Bytes readBounded(FileSystem& fs, const Text& path) {
  auto file = fs.open(path, OpenMode::kRead);
  uint64_t size = 0;
  if (!file || !file->size(&size) || size > kMaxUninstallRecordBytes) return {};
  Bytes data(static_cast<size_t>(size), '\0');
  data.resize(file->readAt(0, data.data(), data.size()));
  return data;
}

void deleteRecordedFile(FileSystem& fs, const Text& path) {
  fs.setAttributes(path, kAttributeArchive);
  fs.removeFile(path);
}

void listBelow(FileSystem& fs, const Text& folder, int depth, std::vector<Text>* out) {
  if (depth > kMaxFolderDepth) return;
  for (const DirEntry& entry : fs.list(folder)) {
    if (!entry.isDirectory) continue;
    const Text child = folder + "\\" + entry.name;
    if (!isLinkedFolder(fs, child)) listBelow(fs, child, depth + 1, out);
    out->push_back(child);
  }
}

// The pieces between separators; a separator at the very end adds none.
std::vector<Text> splitList(std::string_view text, std::string_view separator) {
  std::vector<Text> pieces;
  if (text.empty()) return pieces;
  pieces = splitBytes(text, separator);
  if (pieces.back().empty()) pieces.pop_back();
  return pieces;
}

}  // namespace

UninstallRecordContents readUninstallRecord(FileSystem& fs, const Text& installDir) {
  UninstallRecordContents record;
  record.installDir = installDir;
  const Bytes file = readBounded(fs, installDir + "\\" + Text(names::kFileName));
  if (file.empty()) return record;

  const IniDocument ini(file);
  record.productName = profileValue(ini, names::kSection, names::kProductName);
  record.mainProgramName = profileValue(ini, names::kSection, names::kMainProgram);
  record.paths = splitList(textUpToNul(findDataBlock(file, names::kFileListBlock)), kLineBreak);
  record.registryEntries = splitList(textUpToNul(findDataBlock(file, kRegistryBlock)), kLineBreak);

  const int32_t count = std::min(toInt(profileValue(ini, names::kSection, names::kShortcutCount)), kMaxShortcutRecords);
  for (int32_t i = 1; i <= count; ++i) {
    const Text value = profileValue(ini, names::kSection, Text(names::kShortcutPrefix) + std::to_string(i));
    for (Text& piece : splitList(value, kListSeparator)) record.shortcutFiles.push_back(std::move(piece));
  }
  return record;
}

bool deleteRegistryItem(Registry& registry, RegistryRoot root, const Text& path) {
  if (path.empty()) return false;
  const size_t split = lastSeparatorGbk(path);
  const Text key = split == Text::npos ? Text() : path.substr(0, split);
  const Text value = split == Text::npos ? path : path.substr(split + 1);
  return registry.deleteValue(root, key, value) || registry.deleteKey(root, path);
}

bool isSystemFolder(SpecialFolders& folders, const Text& folder) {
  const Text candidate = asciiLower(withoutTrailingSlash(folder));
  if (candidate.size() <= 2) return true;  // "", "C:", a bare name
  std::vector<Text> system;
  for (int number = 1; number <= 11; ++number) system.push_back(specialFolder(folders, number));
  for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "CommonProgramFiles",
                               "userprofile", "ALLUSERSPROFILE", "ProgramData", "PUBLIC", "SystemRoot"}) {
    system.push_back(folders.environment(variable));
  }
  system.push_back(folders.windowsFolder());
  system.push_back(folders.systemFolder());
  for (const Text& path : system) {
    const Text known = asciiLower(withoutTrailingSlash(path));
    if (known.empty()) continue;
    // The folder itself, or one of its parents.
    if (known == candidate || known.compare(0, candidate.size() + 1, candidate + "\\") == 0) return true;
  }
  return false;
}

std::vector<Text> listFoldersDepthFirst(FileSystem& fs, const Text& folder) {
  std::vector<Text> out;
  listBelow(fs, withoutTrailingSlash(folder), 0, &out);
  return out;
}

void removeInstalledProduct(Platform& platform, ShellLinks& links, SpecialFolders& folders,
                            const UninstallRecordContents& record, RemovalView& view) {
  FileSystem& fs = platform.fs;
  const Text& installDir = record.installDir;
  const Text& product = record.productName;

  if (systemVersion(folders) >= 6.0 - 1e-7 && !record.mainProgramName.empty()) {
    links.pinToTaskbar(installDir, record.mainProgramName, false);
  }

  const Text quickLaunchLink = quickLaunchFolder(fs, folders) + "\\" + product + ".lnk";
  const Text desktop = specialFolder(folders, kDesktopFolder);
  const Text desktopLink = desktop + product + ".lnk";
  const Text registration = Text(names::kRegistrationKey) + product;
  if (!product.empty()) {
    view.reportAction(Text(kDeleteFilePrefix) + quickLaunchLink);
    view.reportAction(Text(kDeleteFilePrefix) + desktopLink);
    view.reportAction(Text(kDeleteRegistryPrefix) + registration);
    if (!desktop.empty()) fs.removeFile(desktopLink);
    deleteRegistryItem(platform.registry, RegistryRoot::kLocalMachine, registration);
    fs.removeFile(quickLaunchLink);
  }
  view.showStatus();

  for (const Text& shortcut : record.shortcutFiles) {
    view.reportAction(Text(kDeleteFilePrefix) + shortcut);
    deleteRecordedFile(fs, shortcut);
  }

  const Text programs = specialFolder(folders, kProgramsFolder);
  if (!product.empty() && programs.size() >= 3) {
    removeEmptyTree(fs, programs + product);
    removeEmptyTree(fs, programs.substr(0, 3) + Text(kAllUsersPrograms) + product);
  }

  for (const Text& entry : record.registryEntries) {
    RegistryRoot root;
    if (!registryRootOf(entry, &root)) continue;
    const size_t separator = entry.find('\\');
    const Text path = separator == Text::npos ? Text() : entry.substr(separator + 1);
    if (!path.empty()) {
      view.reportAction(Text(kDeleteRegistryPrefix) + path);
      deleteRegistryItem(platform.registry, root, path);
    }
  }

  const size_t count = record.paths.size();
  for (size_t i = 1; i <= count; ++i) {
    const Text& path = record.paths[i - 1];
    view.reportAction(Text(kDeleteFilePrefix) + path);
    view.setProgress(static_cast<int>(static_cast<double>(i) / static_cast<double>(count) * 100.0));
    deleteRecordedFile(fs, path);
  }

  view.appendLog(Text(kRemainingFoldersLine));
  if (installDir.find(':') != Text::npos && !isSystemFolder(folders, installDir)) {
    for (const Text& folder : listFoldersDepthFirst(fs, installDir)) {
      platform.ui.pumpMessages();
      if (treeHasFiles(fs, folder)) continue;
      view.reportAction(Text(kDeleteFolderPrefix) + folder);
      removeEmptyTree(fs, folder);
    }
    removeEmptyTree(fs, installDir);
  }

  platform.ui.pumpMessages();
  view.setProgress(100);
}

}  // namespace zul
