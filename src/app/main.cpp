// The setup stub's entry: start-up, the main window, the message loop.
#include <windows.h>

#include "app/plain_window.h"
#include "config/variables.h"
#include "install/temporary_files.h"
#include "platform/crypto.h"
#include "platform/special_folders.h"
#include "platform/win32/win32_platform.h"
#include "startup/exit_code.h"
#include "startup/startup.h"

namespace {

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

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  zul::win32::Win32FileSystem fs;
  zul::win32::Win32System system;
  zul::win32::Win32Registry registry;
  zul::win32::Win32Ui ui;
  zul::Platform platform{fs, system, registry, ui};

  zul::SetupState state;
  const auto folders = zul::makeSpecialFolders();
  zul::StartupServices services{platform};
  services.md5Hex = [](std::string_view data) { return zul::md5Hex(data); };
  services.expandVariables = [&](zul::SetupState& s) { (void)zul::expandVariables(fs, *folders, s); };
  const zul::Bytes icon = zul::startup(services, state);

  HWND window = zul::app::createMainWindow(instance, state.windowTitle, roleLine(state));
  zul::app::setWindowIcon(window, icon);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  zul::cleanupTemporaryFiles(platform, state, false);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(zul::ExitCode::kOk);
}
