// Starting other programs: as a process from a command line, or through the
// shell's "open" verb. Used for the package's post-install and uninstall
// commands and for the registry editor.
#pragma once

#include "base/text.h"

namespace zul {

enum class WindowState {
  kNormal,  // SW_SHOWNORMAL
  kHidden,  // SW_HIDE
};

enum class ProcessWait {
  kUntilReady,  // until the program waits for input, at most 1,000 ms
  kUntilExit,   // until the program has ended, without a time limit
};

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;

  // CreateProcess with `commandLine` (its first token names the program) and
  // the given show state, then waits as `wait` says. False when the process
  // could not be created; nothing was started then.
  virtual bool createProcess(const Text& commandLine, WindowState window, ProcessWait wait) = 0;

  // ShellExecuteEx with the verb "open" on `file` (a program or a document)
  // with `parameters` (may be empty), no owner window and no working folder.
  // With `waitForExit` returns only when the started process has ended (at
  // once when the shell started none). False when the shell refused.
  virtual bool shellOpen(const Text& file, const Text& parameters, WindowState window, bool waitForExit) = 0;
};

}  // namespace zul
