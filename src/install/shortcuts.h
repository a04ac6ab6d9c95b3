// The install step that writes the package's shortcuts and pins the main
// program to the taskbar, and the folder helpers that the uninstaller
// shares with it.
//
// Shortcut definitions come from SetupState::shortcutList; each names one or
// more location folders separated by "，". Locations that are the desktop,
// the program group (programs folder + product name) or the quick-launch
// folder are served only when their component is ticked.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "base/text.h"
#include "platform/platform.h"
#include "platform/shell_links.h"
#include "platform/special_folders.h"
#include "startup/setup_state.h"
#include "wizard/components.h"

namespace zul {

// "创建快捷方式: ", shown before each ordinary shortcut is written.
inline constexpr std::string_view kCreateShortcutPrefix = "\xB4\xB4\xBD\xA8\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD: ";
// A shortcut target that stands for the generated uninstaller.
inline constexpr std::string_view kUninstallerPlaceholder = "%Uninst.exe%";
// Folder levels below which the helpers stop looking; a deeper tree counts
// as holding files, so it is never removed (it may be a junction loop).
inline constexpr int kMaxFolderDepth = 64;

// Writes the link `linkPath` to `target`. ".lnk" is appended to `linkPath`
// in place unless it holds ".lnk" anywhere (any letter case); an existing
// file of that name is deleted first. The working folder is the target's
// folder with a trailing "\"; the icon is `icon` when `iconGiven` (even when
// empty), else target + ",0". False when the target has no "\" (nothing is
// written) or the link object refused it.
bool createShellLink(FileSystem& fs, ShellLinks& links, Text& linkPath, const Text& target, const Text& arguments,
                     const Text& icon, bool iconGiven, const Text& description);

// %userprofile%\AppData\Roaming\Microsoft\Internet Explorer\Quick Launch
// when that folder exists, else the same under "Application Data" (the
// Windows XP layout). No trailing "\".
Text quickLaunchFolder(FileSystem& fs, SpecialFolders& folders);

// True when `folder` is a junction or symbolic link to another folder. Such
// folders are never walked into: their contents belong elsewhere.
bool isLinkedFolder(FileSystem& fs, const Text& folder);

// True when `folder` directly holds at least one file (subfolders do not
// count). False for a missing folder.
bool folderHasFiles(FileSystem& fs, const Text& folder);

// True when a file lies anywhere below `folder`, or the tree is deeper than
// kMaxFolderDepth levels or holds a linked folder (its files are unknown).
bool treeHasFiles(FileSystem& fs, const Text& folder);

// Removes `folder` and its subfolders when no file lies anywhere below it;
// never deletes a file. Refuses an empty path and a drive root. True when
// the folder is gone afterwards.
bool removeEmptyTree(FileSystem& fs, const Text& folder);

// Creates `folder` and its missing parents, best effort.
void makeFolders(FileSystem& fs, const Text& folder);

// The install step. Pins state.mainProgramName in state.installDir when
// quick launch is ticked and Windows is 6.0 or later; then, for each
// definition and each of its locations (empty ones skipped): creates the
// location folder, skips it when its component is unticked, and writes the
// link. A target "%Uninst.exe%" with state.makeUninstaller 1 is rewritten to
// "uninst.exe" in state.shortcutList and linked even though the uninstaller
// does not exist yet (without a report line); any other target is linked,
// after the line "创建快捷方式: " + link path, only when installDir + "\" +
// target exists. Finally the program group is removed again when no file
// lies anywhere in it. Failures are passed over.
void createShortcuts(Platform& platform, ShellLinks& links, SpecialFolders& folders, SetupState& state,
                     const ComponentChoices& components, const std::function<void(const Text&)>& reportAction);

}  // namespace zul
