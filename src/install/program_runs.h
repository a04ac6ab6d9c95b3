// The package's program runs: the commands run after extraction, the
// recording of the uninstall commands in "uninst.ini", and the command
// starter that the uninstaller uses as well.
#pragma once

#include <functional>
#include <string_view>

#include "base/text.h"
#include "platform/platform.h"
#include "platform/process_runner.h"
#include "startup/setup_state.h"

namespace zul {

// "运行程序: ", the action line shown before each run.
inline constexpr std::string_view kRunProgramPrefix = "\xD4\xCB\xD0\xD0\xB3\xCC\xD0\xF2: ";
// "uninst.ini", the uninstall record in the install folder.
inline constexpr std::string_view kUninstallRecordName = "uninst.ini";

// How runCommand starts a command.
struct CommandLaunch {
  // A program path with a drive letter goes to the shell's "open" verb (so
  // a document opens in its program); anything else is a process command
  // line.
  bool throughShell = false;
  Text commandLine;  // process: the whole command as given
  Text file;         // shell: the program part, double quotes removed
  Text parameters;   // shell: the text after the separating space
};

// Splits `command` the way runCommand does. The separating space is the
// first space, or, when the command begins with a double quote, the first
// space after the next double quote (no space there: none). The program is
// the text before it, the parameters the text after it.
CommandLaunch parseCommand(std::string_view command);

// Starts `command` (parsed by parseCommand) with its window hidden or
// shown, waiting for the program to end when `waitForExit`, else at most
// 1,000 ms until it is ready for input (process) or not at all (shell).
// False when it could not be started or the command is empty.
bool runCommand(ProcessRunner& runner, const Text& command, bool hideWindow, bool waitForExit);

// Shows one current-action line (the install sequence's reportAction).
using ActionReporter = std::function<void(const Text& line)>;

// Runs every entry of `state.runAfterExtract` in order: reports "运行程序: "
// and the entry's file, then runs the file as written when its "是否外部运行"
// is "真", else the file inside `installDir` (the folder quoted so that
// spaces in it do not split the command), with "%InstallPath%" replaced by
// `installDir`. Then, when `installDir` + "\uninst.ini" exists and
// `state.runAtUninstall` is not empty, writes that list to the file's
// section "卸载时运行命令" for the uninstaller. Failures are passed over.
void runAfterInstall(Platform& platform, ProcessRunner& runner, const SetupState& state, const Text& installDir,
                     const ActionReporter& reportAction);

}  // namespace zul
