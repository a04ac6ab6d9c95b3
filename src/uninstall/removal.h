// The uninstaller's removal: the taskbar pin, the standard shortcuts, the
// product's registration, the recorded shortcuts, the program groups, the
// recorded registry items and files, and the folders of the install folder
// that are left empty, in that order, each action shown on the uninstall
// page before it is attempted.
//
// Folders are only ever removed when no file lies anywhere below them: a
// file is deleted only when the record lists it, never with its folder.
// Every step is best effort; nothing stops the sequence.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/platform.h"
#include "platform/shell_links.h"
#include "platform/special_folders.h"

namespace zul {

inline constexpr std::string_view kDeleteFilePrefix = "\xC9\xBE\xB3\xFD\xCE\xC4\xBC\xFE: ";            // 删除文件: 
inline constexpr std::string_view kDeleteRegistryPrefix = "\xC9\xBE\xB3\xFD\xD7\xA2\xB2\xE1\xCF\xEE: ";  // 删除注册项: 
inline constexpr std::string_view kDeleteFolderPrefix = "\xC9\xBE\xB3\xFD\xC4\xBF\xC2\xBC: ";          // 删除目录: 
// 获取剩余目录信息
inline constexpr std::string_view kRemainingFoldersLine = "\xBB\xF1\xC8\xA1\xCA\xA3\xD3\xE0\xC4\xBF\xC2\xBC\xD0\xC5\xCF\xA2";

// Limits on what an "uninst.ini" may make the removal do: a larger file is
// not read (nothing recorded is removed), and shortcut records beyond the
// count limit are not read.
inline constexpr uint64_t kMaxUninstallRecordBytes = 64u * 1024 * 1024;
inline constexpr int32_t kMaxShortcutRecords = 4096;

// What the uninstall page shows while the removal runs.
class RemovalView {
 public:
  virtual ~RemovalView() = default;
  // Processes pending window messages, appends `line` to the log list,
  // selects it and shows it in the status label.
  virtual void reportAction(const Text& line) = 0;
  // Appends `line` to the log list only: no messages, status unchanged.
  virtual void appendLog(const Text& line) = 0;
  // Shows the status label again, which the page hid while it got ready.
  virtual void showStatus() = 0;
  // Progress bar position, 0 to 100.
  virtual void setProgress(int percent) = 0;
};

// What the install recorded in "uninst.ini", as the removal uses it.
struct UninstallRecordContents {
  Text installDir;                     // normalised: no trailing "\"
  Text productName;                    // [软件卸载配置] "软件名称"
  Text mainProgramName;                // [软件卸载配置] "主程序名"
  std::vector<Text> paths;             // block "卸载路径": full paths of files
  std::vector<Text> registryEntries;   // block "卸载注册表": root name, "\", key, "\", value name
  std::vector<Text> shortcutFiles;     // "快捷方式" 1.."快捷方式个数", split at "，"
};

// Reads installDir + "\uninst.ini" (`installDir` already normalised). The
// blocks are taken up to their first NUL byte and split at CR LF, the
// shortcut records at "，": empty pieces between two separators are kept, a
// separator at the very end adds none. A missing
// file, key or block gives empty fields; so does a file larger than
// kMaxUninstallRecordBytes. `paths` is the list the keep list narrows
// before removeInstalledProduct runs.
UninstallRecordContents readUninstallRecord(FileSystem& fs, const Text& installDir);

// Deletes the registry item `path` under `root`: the value named by the
// text after the last "\" of the key before it, or else the key `path`
// itself when it has no subkeys. False when neither was deleted; an empty
// path is refused.
bool deleteRegistryItem(Registry& registry, RegistryRoot root, const Text& path);

// True for a folder whose emptied subfolders must not be removed: a drive
// root, or a system folder (special folders, Program Files, the profile,
// Windows) or one of their parents. Compared without regard to ASCII case.
bool isSystemFolder(SpecialFolders& folders, const Text& folder);

// The subfolders of `folder` depth first, each folder's subfolders before
// the folder itself, as full paths without a trailing "\". Stops descending
// below kMaxFolderDepth levels and at linked folders (junctions), which are
// listed but not walked into.
std::vector<Text> listFoldersDepthFirst(FileSystem& fs, const Text& folder);

// Removes what `record` names, reporting on `view`, and ends with the
// progress bar at 100. The caller then puts the page in its done state.
// Without a product name the standard shortcuts, the registration and the
// program groups are left alone (they would name the desktop, the whole
// Uninstall key and the whole programs folder); without a usable install
// folder (no drive colon, or a system folder) no folder is removed.
void removeInstalledProduct(Platform& platform, ShellLinks& links, SpecialFolders& folders,
                            const UninstallRecordContents& record, RemovalView& view);

}  // namespace zul
