#include "install/install_engine.h"

#include "install/temporary_files.h"
#include "startup/setup_package.h"

namespace zul {
namespace {

// The temporary payload copy begins with the payload's opening pattern.
constexpr uint64_t kPayloadCopyPrefix = kPayloadOpen.size() + 1;

}  // namespace

InstallEngine::InstallEngine(Platform& platform, SetupState& state, InstallView& view, PayloadExtractor extract,
                             InstallSteps steps)
    : platform_(platform), state_(state), view_(view), extract_(std::move(extract)), steps_(std::move(steps)) {}

InstallOutcome InstallEngine::runInstall(const Text& payloadPassword) {
  view_.showPage(InstallView::kInstallingPage);
  if (!state_.installingImage.empty()) view_.showInstallingImage(state_.installingImage);

  repairArchiveSignature(platform_.fs, state_.payloadPath, kPayloadCopyPrefix);
  const bool extracted =
      extract_ && extract_(state_.payloadPath, state_.installDir, payloadPassword,
                           [this](const Text& name, int percent) { onExtractProgress(name, percent); });
  cleanupTemporaryFiles(platform_, state_, true);
  if (!extracted) {
    reportAction(Text(kExtractionFailedText));
    return InstallOutcome::kExtractionFailed;
  }

  if (steps_.createShortcuts) steps_.createShortcuts();
  if (state_.makeUninstaller == 1 && steps_.generateUninstaller) steps_.generateUninstaller();
  if (steps_.writeRegistryEntries) steps_.writeRegistryEntries();
  if (steps_.runAfterInstall) steps_.runAfterInstall();

  view_.showPage(InstallView::kFinishPage);
  view_.showFinishOptions(state_.finishOptions);
  return InstallOutcome::kInstalled;
}

void InstallEngine::reportAction(const Text& text) {
  view_.pumpMessages();
  view_.appendLog(text);
  view_.setStatus(text);
}

void InstallEngine::onExtractProgress(const Text& name, int percent) {
  // Every new name is one file: the first one too, or the uninstaller would
  // leave it behind.
  if (!name.empty() && (extractedNames_.empty() || name != extractedNames_.back())) {
    extractedNames_.push_back(name);
    const Text prefix = state_.installDir + "\\";
    Text relative = name;
    if (const size_t at = relative.find(prefix); at != Text::npos) relative.erase(at, prefix.size());
    reportAction(Text(kExtractingPrefix) + relative);
    installedFileList_ += name + "\r\n";
  }
  if (view_.progress() != 100) view_.setProgress(percent);
}

}  // namespace zul
