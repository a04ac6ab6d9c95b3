#include "uninstall/uninstall_run.h"

#include <algorithm>

#include "config/package_config.h"
#include "config/variables.h"
#include "install/program_runs.h"
#include "install/uninstall_record.h"

namespace zul {
namespace {

constexpr std::string_view kCollecting =
    "\xD5\xFD\xD4\xDA\xBB\xF1\xC8\xA1\xCB\xF9\xD0\xE8\xD2\xAA\xB5\xC4\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2\xD6\xD0";  // 正在获取所需要的卸载程序中
// The command table the uninstaller was always described with holds this
// many entries; later commands are ignored.
constexpr size_t kMaxUninstallCommands = 999;

Text recordPath(const Text& installDir) { return installDir + "\\" + Text(uninstall_record::kFileName); }

}  // namespace

std::vector<Text> filterKeepList(FileSystem& fs, const std::vector<Text>& paths, const std::vector<Text>& keep,
                                 const Text& installDir) {
  std::vector<Text> kept;
  for (const Text& path : paths) {
    const Text normalPath = normalisePath(path);
    bool dropped = false;
    for (const Text& entry : keep) {
      const Text full = installDir + "\\" + entry;
      const Text normalFull = normalisePath(full);
      dropped = fs.isDirectory(full) ? asciiLower(normalPath).find(asciiLower(normalFull)) != Text::npos
                                     : normalPath == normalFull;
      if (dropped) break;
    }
    if (!dropped) kept.push_back(path);
  }
  return kept;
}

void runUninstallCommands(FileSystem& fs, ProcessRunner& runner, const Text& installDir) {
  const RunList commands = readRunListFrom(fs, recordPath(installDir), keys::kRunAtUninstallSection);
  const size_t count = std::min(commands.file.size(), kMaxUninstallCommands);
  for (size_t i = 0; i < count; ++i) {
    Text command = commands.file[i];
    for (size_t at = 0; (at = command.find(kInstallPathVariable, at)) != Text::npos; at += installDir.size()) {
      command.replace(at, kInstallPathVariable.size(), installDir);
    }
    if (!isTrue(commands.external[i])) command = "\"" + installDir + "\"\\" + command;
    runCommand(runner, command, commands.hideWindow[i], commands.waitForExit[i]);
  }
}

UninstallOutcome runUninstall(UninstallServices& s, const Text& installDir) {
  if (s.notifyPlugins) {
    const std::vector<int> answers = s.notifyPlugins(Text(kUninstallStarting));
    if (std::find(answers.begin(), answers.end(), 1) != answers.end()) return UninstallOutcome::kVetoed;
  }
  if (s.reportLine) s.reportLine(Text(kCollecting));
  UninstallRecordContents record = readUninstallRecord(s.platform.fs, installDir);
  if (s.keepList) record.paths = filterKeepList(s.platform.fs, record.paths, *s.keepList, installDir);
  runUninstallCommands(s.platform.fs, s.processes, installDir);
  if (s.remove) s.remove(record);
  if (s.notifyPlugins) s.notifyPlugins(Text(kUninstallFinished));
  return UninstallOutcome::kRemoved;
}

}  // namespace zul
