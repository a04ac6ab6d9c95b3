// The program's exit codes. Deployment tools read them, so a value keeps its
// meaning for good: retired values stay here commented out and are never
// reused. README.md lists them for users.
#pragma once

#include <cstdint>

namespace zul {

enum class ExitCode : uint32_t {
  kOk = 0,             // finished, or ended early by design (no package, user cancel)
  // 1 is left unused: it is what a crashed or killed process often reports.
  kMissingVolume = 2,  // a payload volume file named by the package is missing
  kInstallFailed = 3,  // the payload could not be extracted (or no install folder): nothing was registered
  kUninstallVetoed = 4,  // a plug-in refused the uninstall; nothing was removed
  kUninstallFailed = 5,  // the uninstaller's copy in the temporary folder could not be run
  kUninstallerDamaged = 6,  // the uninstaller lacks its companion data; nothing was removed
};

}  // namespace zul
