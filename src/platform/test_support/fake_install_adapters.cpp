#include "platform/test_support/fake_install_adapters.h"

namespace zul {

bool FakeProcessRunner::createProcess(const Text& commandLine, WindowState window, ProcessWait wait) {
  Run run;
  run.commandLine = commandLine;
  run.window = window;
  run.waitForExit = wait == ProcessWait::kUntilExit;
  runs.push_back(run);
  if (onRun) onRun(run);
  return !fail;
}

bool FakeProcessRunner::shellOpen(const Text& file, const Text& parameters, WindowState window, bool waitForExit) {
  Run run;
  run.shell = true;
  run.file = file;
  run.parameters = parameters;
  run.window = window;
  run.waitForExit = waitForExit;
  runs.push_back(run);
  if (onRun) onRun(run);
  return !fail;
}

bool FakeResourceUpdater::apply(const Text& exePath, const std::vector<ResourceChange>& changes) {
  if (fail || !fs_.exists(exePath)) return false;
  if (rewrite && !writeWholeFile(fs_, exePath, rewrite(readWholeFile(fs_, exePath)))) return false;
  updates.push_back(changes);
  return true;
}

}  // namespace zul
