// The install sequence: installing page, payload extraction with a log line
// per file, clean-up, then the steps that register the product (shortcuts,
// uninstaller, registry entries, program runs) and the finish page.
#pragma once

#include <functional>
#include <vector>

#include "install/install_view.h"
#include "platform/platform.h"
#include "startup/setup_state.h"

namespace zul {

// Extracts `archive` into `destination` with `password`, calling `progress`
// with (full path of the file being written, percent) and finally ("",
// 100). True when every file was extracted.
using PayloadExtractor = std::function<bool(const Text& archive, const Text& destination, const Text& password,
                                            const std::function<void(const Text& name, int percent)>& progress)>;

// The steps after extraction, in the order they run. Each may be empty.
struct InstallSteps {
  std::function<void()> createShortcuts;
  std::function<void()> generateUninstaller;  // runs only when makeUninstaller is 1
  std::function<void()> writeRegistryEntries;
  std::function<void()> runAfterInstall;
};

enum class InstallOutcome {
  kInstalled,
  // The payload could not be extracted (wrong password, damaged or missing
  // archive, disk full, a refused entry). Nothing was registered.
  kExtractionFailed,
};

class InstallEngine {
 public:
  InstallEngine(Platform& platform, SetupState& state, InstallView& view, PayloadExtractor extract,
                InstallSteps steps);

  // Runs the sequence into state.installDir. When extraction fails the
  // failure is shown on the installing page and the registering steps are
  // skipped: a half-extracted product gets no shortcuts, uninstaller,
  // registry entries or program runs.
  InstallOutcome runInstall(const Text& payloadPassword);

  // One current-action line: the log list and the status label.
  void reportAction(const Text& text);
  // The extractor's progress callback.
  void onExtractProgress(const Text& name, int percent);

  // Full paths reported by the extractor, in order of arrival.
  const std::vector<Text>& extractedNames() const { return extractedNames_; }
  // Every extracted file's full path followed by "\r\n"; the uninstaller
  // builder appends its own files and stores it.
  Text& installedFileList() { return installedFileList_; }

 private:
  Platform& platform_;
  SetupState& state_;
  InstallView& view_;
  PayloadExtractor extract_;
  InstallSteps steps_;
  std::vector<Text> extractedNames_;
  Text installedFileList_;
};

// GBK texts the sequence shows.
inline constexpr std::string_view kExtractingPrefix = "\xB3\xE9\xC8\xA1: ";  // "抽取: "
// "安装失败: 无法解压安装数据" — the payload could not be extracted.
inline constexpr std::string_view kExtractionFailedText =
    "\xB0\xB2\xD7\xB0\xCA\xA7\xB0\xDC: \xCE\xDE\xB7\xA8\xBD\xE2\xD1\xB9\xB0\xB2\xD7\xB0\xCA\xFD\xBE\xDD";

}  // namespace zul
