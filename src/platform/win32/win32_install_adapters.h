// The Win32 implementations of the adapters that the install steps use
// beyond the Platform set: programs started by the package, and resource
// updates of the generated uninstaller.
#pragma once

#include "platform/process_runner.h"
#include "platform/resource_updater.h"

namespace zul::win32 {

class Win32ProcessRunner : public ProcessRunner {
 public:
  bool createProcess(const Text& commandLine, WindowState window, ProcessWait wait) override;
  bool shellOpen(const Text& file, const Text& parameters, WindowState window, bool waitForExit) override;
};

class Win32ResourceUpdater : public ResourceUpdater {
 public:
  bool apply(const Text& exePath, const std::vector<ResourceChange>& changes) override;
};

}  // namespace zul::win32
