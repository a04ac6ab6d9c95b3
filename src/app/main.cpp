// The setup stub's entry: start-up, the main window, the install in the
// direct and silent modes, the message loop.
#include <windows.h>

#include <atomic>
#include <thread>

#include "app/plain_window.h"
#include "config/variables.h"
#include "install/install_engine.h"
#include "install/program_runs.h"
#include "install/registry_entries.h"
#include "install/shortcuts.h"
#include "install/temporary_files.h"
#include "install/uninstall_record.h"
#include "install/uninstaller_builder.h"
#include "platform/crypto.h"
#include "platform/special_folders.h"
#include "platform/text_codec.h"
#include "platform/win32/win32_install_adapters.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_shell_links.h"
#include "plugins/plugin_caller.h"
#include "plugins/plugin_list.h"
#include "plugins/win32/host_callback.h"
#include "plugins/win32/plugin_host_win32.h"
#include "sevenzip/archive_extractor.h"
#include "startup/command_line.h"
#include "startup/exit_code.h"
#include "startup/startup.h"
#include "uninstall/removal.h"
#include "uninstall/uninstall_run.h"
#include "wizard/components.h"

namespace {

constexpr UINT kInstallFinished = WM_APP + 2;

// The line the plain window shows under its title: which role this run
// plays. GBK.
zul::Text roleLine(const zul::SetupState& state) {
  switch (state.runMode) {
    case zul::RunMode::kInstaller:
      return "\xB0\xB2\xD7\xB0\xB3\xCC\xD0\xF2: " + state.productName + " " + state.productVersion;  // 安装程序:
    case zul::RunMode::kUninstaller:
      return "\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2: " + state.productName + " " + state.productVersion;  // 卸载程序:
    case zul::RunMode::kNone:
      break;
  }
  return "\xC3\xBB\xD3\xD0\xB0\xB2\xD7\xB0\xB0\xFC\xCA\xFD\xBE\xDD";  // 没有安装包数据
}

// The installing page of the plain window: its status line follows the
// current action.
class WindowInstallView : public zul::HeadlessInstallView {
 public:
  explicit WindowInstallView(HWND window) : window_(window) {}
  void setStatus(const zul::Text& text) override {
    HeadlessInstallView::setStatus(text);
    zul::app::setStatusLine(window_, text);
  }

 private:
  HWND window_;
};

// The uninstall page's progress when nobody looks at it.
class HeadlessRemovalView : public zul::RemovalView {
 public:
  void reportAction(const zul::Text&) override {}
  void appendLog(const zul::Text&) override {}
  void showStatus() override {}
  void setProgress(int) override {}
};

zul::ExitCode exitCodeOf(zul::InstallOutcome outcome) {
  return outcome == zul::InstallOutcome::kInstalled ? zul::ExitCode::kOk : zul::ExitCode::kInstallFailed;
}

int runMessageLoop(HWND window, bool endWhenInstalled) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == kInstallFinished && endWhenInstalled) DestroyWindow(window);
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything loads a DLL: only the system folder is searched, never
  // the download or temporary folder this program runs from.
  zul::win32::secureDllSearchOrder();
  zul::win32::Win32FileSystem fs;
  zul::win32::Win32System system;
  zul::win32::Win32Registry registry;
  zul::win32::Win32Ui ui;
  zul::Platform platform{fs, system, registry, ui};

  zul::SetupState state;
  const auto folders = zul::makeSpecialFolders();
  zul::StartupServices services{platform};
  services.md5Hex = [](std::string_view data) { return zul::md5Hex(data); };
  services.extractArchive = [&fs](const zul::Text& archive, const zul::Text& to, const zul::Text& password) {
    return zul::extractArchive(fs, archive, to, password, nullptr);
  };
  services.expandVariables = [&](zul::SetupState& s) { (void)zul::expandVariables(fs, *folders, s); };
  const zul::Bytes icon = zul::startup(services, state);
  zul::win32::Win32PluginHost pluginHost;
  zul::PluginCaller plugins(fs, pluginHost, zul::pluginFolder(zul::specialFolder(*folders, 11)));

  const bool silent = state.runMode == zul::RunMode::kInstaller && state.installMode == zul::kSilentInstall;
  const bool direct = state.runMode == zul::RunMode::kInstaller && state.installMode == zul::kDirectInstall;
  state.installDir = zul::normalisePath(state.installDir);
  const zul::PayloadExtractor extract = [&fs](const zul::Text& archive, const zul::Text& to,
                                              const zul::Text& password, const zul::ExtractProgress& progress) {
    return zul::extractArchive(fs, archive, to, password, progress);
  };
  zul::win32::Win32ProcessRunner processes;
  zul::win32::Win32ResourceUpdater resources;
  const auto codec = zul::makeTextCodec();
  // The steps after extraction; `engine` is the one running them.
  zul::InstallEngine* engine = nullptr;
  zul::UninstallerServices uninstaller{platform, resources, *codec, processes,
                                       [&](const zul::Text& line) { engine->reportAction(line); }};
  zul::win32::Win32ShellLinks links;
  zul::InstallSteps steps;
  steps.createShortcuts = [&] {
    // Until the wizard shows the component page, its defaults decide.
    zul::createShortcuts(platform, links, *folders, state, zul::defaultComponentChoices(state.baseComponents),
                         [&](const zul::Text& line) { engine->reportAction(line); });
  };
  steps.generateUninstaller = [&] { zul::generateUninstaller(uninstaller, state, engine->installedFileList()); };
  steps.writeRegistryEntries = [&] { zul::writeRegistryEntries(platform, processes, state, state.installDir); };
  steps.runAfterInstall = [&] {
    zul::runAfterInstall(platform, processes, state, state.installDir,
                         [&](const zul::Text& line) { engine->reportAction(line); });
  };

  if (zul::isSilentUninstallStage(state.args)) {
    // "uninst.exe -hp" relaunched this copy: uninstall at once, no window.
    const zul::Text installDir = zul::normalisePath(state.args[0]);
    // Plug-ins find the callback through a child of the (hidden) main window.
    HWND host = zul::app::createMainWindow(instance, state.windowTitle, roleLine(state));
    const auto discovery = zul::win32::createDiscoveryWindow(host);
    const zul::Text uninstallKey = zul::Text(zul::uninstall_record::kRegistrationKey) + state.productName;
    zul::win32::setUninstallInfo(host, state.productName, state.productVersion,
                                 registry.readString(zul::RegistryRoot::kLocalMachine, uninstallKey, "banquan"),
                                 installDir);
    plugins.loadPlugins(state.dataDir, zul::RunMode::kUninstaller);
    HeadlessRemovalView removalView;
    zul::UninstallServices uninstall{platform, processes, {}, {}, {}};
    uninstall.notifyPlugins = [&](const zul::Text& event) {
      const auto answers = plugins.NotifyPlugins(event);
      return std::vector<int>(answers.begin(), answers.end());
    };
    uninstall.keepList = &zul::win32::keepList();
    uninstall.remove = [&](const zul::UninstallRecordContents& record) {
      zul::removeInstalledProduct(platform, links, *folders, record, removalView);
    };
    const auto outcome = zul::runUninstall(uninstall, installDir);
    if (outcome == zul::UninstallOutcome::kRemoved && !state.dataDir.empty()) {
      // The first stage runs from uninst.exe while it waits for this copy,
      // so the file could not be deleted; a running program's file can be
      // moved, which empties the install folder.
      const zul::Text uninstaller = installDir + "\\uninst.exe";
      if (fs.exists(uninstaller) && fs.moveFile(uninstaller, state.dataDir + "uninst.exe")) {
        fs.removeDirectory(installDir);
      }
    }
    // What is running (this copy, the moved first stage) stays behind.
    zul::removeTree(fs, state.dataDir);
    return static_cast<int>(outcome == zul::UninstallOutcome::kVetoed ? zul::ExitCode::kUninstallVetoed
                                                                       : zul::ExitCode::kOk);
  }

  // The package's plug-ins, while the data folder still holds their files.
  if (state.runMode == zul::RunMode::kInstaller) plugins.loadPlugins(state.dataDir, zul::RunMode::kInstaller);

  if (silent) {
    // No window at all: a deployment tool learns the outcome from the exit
    // code.
    zul::HeadlessInstallView view;
    zul::InstallEngine silentEngine(platform, state, view, extract, steps);
    engine = &silentEngine;
    const auto outcome =
        state.installDir.empty() ? zul::InstallOutcome::kExtractionFailed : silentEngine.runInstall(state.payloadPassword);
    zul::cleanupTemporaryFiles(platform, state, false);
    return static_cast<int>(exitCodeOf(outcome));
  }

  HWND window = zul::app::createMainWindow(instance, state.windowTitle, roleLine(state));
  zul::app::setWindowIcon(window, icon);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  zul::cleanupTemporaryFiles(platform, state, false);
  if (!direct) {
    runMessageLoop(window, false);
    return static_cast<int>(zul::ExitCode::kOk);
  }

  // Direct mode: the install runs on a worker thread while this thread keeps
  // the window alive; the window closes afterwards when the finish page is
  // switched off.
  WindowInstallView view(window);
  zul::InstallEngine directEngine(platform, state, view, extract, steps);
  engine = &directEngine;
  std::atomic<zul::InstallOutcome> outcome{zul::InstallOutcome::kExtractionFailed};
  std::thread worker([&] {
    if (!state.installDir.empty()) outcome = directEngine.runInstall(state.payloadPassword);
    if (outcome == zul::InstallOutcome::kInstalled) view.setStatus("\xB0\xB2\xD7\xB0\xCD\xEA\xB3\xC9");  // 安装完成
    PostMessageW(window, kInstallFinished, 0, 0);
  });
  runMessageLoop(window, state.finishPageMode == -1);
  worker.join();
  return static_cast<int>(exitCodeOf(outcome));
}
