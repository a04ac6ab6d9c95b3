#include "install/program_runs.h"

#include <algorithm>
#include <string>

#include "config/ini_file.h"
#include "config/package_config.h"
#include "config/variables.h"

namespace zul {
namespace {

constexpr std::string_view kFalse = "\xBC\xD9";  // 假

Text withoutQuotes(std::string_view text) {
  Text out;
  for (char c : text) {
    if (c != '"') out.push_back(c);
  }
  return out;
}

}  // namespace

CommandLaunch parseCommand(std::string_view command) {
  // Spaces and double quotes are ASCII and never the trail byte of a GBK
  // character, so a byte search finds only real separators.
  const bool quoted = !command.empty() && command.front() == '"';
  size_t space = command.find(' ');
  if (quoted) {
    const size_t closing = command.find('"', 1);
    if (closing != std::string_view::npos) space = command.find(' ', closing);
  }

  Text program;
  CommandLaunch launch;
  if (space == std::string_view::npos) {
    program = Text(command);
  } else {
    program = Text(command.substr(0, space));
    if (!quoted) program = '"' + program + '"';
    launch.parameters = Text(command.substr(space + 1));
  }
  const Text bare = withoutQuotes(program);
  launch.throughShell = bare.size() >= 2 && bare[1] == ':';
  if (launch.throughShell) {
    launch.file = bare;
  } else {
    launch.commandLine = Text(command);
    launch.parameters.clear();
  }
  return launch;
}

bool runCommand(ProcessRunner& runner, const Text& command, bool hideWindow, bool waitForExit) {
  if (command.empty()) return false;
  const CommandLaunch launch = parseCommand(command);
  const WindowState window = hideWindow ? WindowState::kHidden : WindowState::kNormal;
  if (launch.throughShell) return runner.shellOpen(launch.file, launch.parameters, window, waitForExit);
  return runner.createProcess(launch.commandLine, window, waitForExit ? ProcessWait::kUntilExit : ProcessWait::kUntilReady);
}

void runAfterInstall(Platform& platform, ProcessRunner& runner, const SetupState& state, const Text& installDir,
                     const ActionReporter& reportAction) {
  const RunList& runs = state.runAfterExtract;
  const size_t count = std::min({runs.external.size(), runs.file.size(), runs.hideWindow.size(), runs.waitForExit.size()});
  for (size_t i = 0; i < count; ++i) {
    if (reportAction) reportAction(Text(kRunProgramPrefix) + runs.file[i]);
    Text command = isTrue(runs.external[i]) ? runs.file[i] : '"' + installDir + "\"\\" + runs.file[i];
    command = replaceAll(command, kInstallPathVariable, installDir);
    runCommand(runner, command, runs.hideWindow[i], runs.waitForExit[i]);
  }

  const Text record = installDir + "\\" + Text(kUninstallRecordName);
  const RunList& uninstall = state.runAtUninstall;
  const size_t uninstallCount = std::min({uninstall.external.size(), uninstall.file.size(),
                                          uninstall.hideWindow.size(), uninstall.waitForExit.size()});
  if (uninstallCount == 0 || !platform.fs.exists(record)) return;
  const Text section(keys::kRunAtUninstallSection);
  const auto write = [&](std::string_view key, const Text& value) {
    (void)writeProfileString(platform.fs, record, section, Text(key), value);
  };
  const auto flag = [](bool value) { return Text(value ? kTrue : kFalse); };
  for (size_t j = 0; j < uninstallCount; ++j) {
    const Text number = std::to_string(j + 1);
    write(keys::kCountKey, std::to_string(uninstallCount));
    write(Text(keys::kRunExternal) + number, uninstall.external[j]);
    write(Text(keys::kRunFile) + number, uninstall.file[j]);
    write(Text(keys::kRunHideWindow) + number, flag(uninstall.hideWindow[j]));
    write(Text(keys::kRunWaitForExit) + number, flag(uninstall.waitForExit[j]));
  }
}

}  // namespace zul
