// The uninstaller's run: ask the plug-ins, read what the install recorded,
// run the package's uninstall commands, then remove the product.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/process_runner.h"
#include "uninstall/removal.h"

namespace zul {

// Drops the paths a plug-in asked to keep. A keep entry is relative to
// `installDir`; when it names an existing folder, every path containing that
// folder's full path (any letter case) is dropped, else only the path equal
// to it. Order is kept.
std::vector<Text> filterKeepList(FileSystem& fs, const std::vector<Text>& paths, const std::vector<Text>& keep,
                                 const Text& installDir);

// Runs the commands of section "卸载时运行命令" of `installDir` +
// "\uninst.ini" in order: "%InstallPath%" replaced by `installDir`; a command
// not marked "真" as external runs inside the install folder.
void runUninstallCommands(FileSystem& fs, ProcessRunner& runner, const Text& installDir);

struct UninstallServices {
  Platform& platform;
  ProcessRunner& processes;
  // Delivers an event text to the plug-ins; their answers, one per module.
  std::function<std::vector<int>(const Text& event)> notifyPlugins;
  // Removes files, shortcuts, registry entries and folders.
  std::function<void(const UninstallRecordContents& record)> remove;
  // One line of the uninstall page's list.
  std::function<void(const Text& line)> reportLine;
  // Paths relative to the install folder that the plug-ins asked to keep.
  const std::vector<Text>* keepList = nullptr;
};

enum class UninstallOutcome {
  kRemoved,
  kVetoed,  // a plug-in answered 1 before anything was touched
};

// The run, with `installDir` already normalised: asks the plug-ins (an
// answer of 1 stops it before anything is touched), reads the record,
// narrows its file list by the keep list, runs the uninstall commands,
// removes, and tells the plug-ins it is done.
UninstallOutcome runUninstall(UninstallServices& services, const Text& installDir);

// Event texts for the plug-ins, before and after the removal.
inline constexpr std::string_view kUninstallStarting =
    "\xCF\xFB\xCF\xA2\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "2000\r\n\xB2\xCE\xCA\xFD\xD2\xBB\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "1\r\n";  // 消息，整数型，2000 / 参数一，整数型，1
inline constexpr std::string_view kUninstallFinished =
    "\xCF\xFB\xCF\xA2\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "2000\r\n\xB2\xCE\xCA\xFD\xD2\xBB\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "2\r\n";  // 消息，整数型，2000 / 参数一，整数型，2

}  // namespace zul
