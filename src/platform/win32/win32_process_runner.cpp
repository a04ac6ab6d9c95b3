#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_install_adapters.h"

namespace zul::win32 {
namespace {

int showCommand(WindowState window) { return window == WindowState::kHidden ? SW_HIDE : SW_SHOWNORMAL; }

}  // namespace

bool Win32ProcessRunner::createProcess(const Text& commandLine, WindowState window, ProcessWait wait) {
  std::wstring line = toWide(commandLine);
  if (line.empty()) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCommand(window));
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  UniqueKernelHandle thread(process.hThread), handle(process.hProcess);
  if (wait == ProcessWait::kUntilExit) {
    WaitForSingleObject(handle.get(), INFINITE);
  } else {
    WaitForInputIdle(handle.get(), 1000);
  }
  return true;
}

bool Win32ProcessRunner::shellOpen(const Text& file, const Text& parameters, WindowState window, bool waitForExit) {
  const std::wstring wideFile = toWide(file), wideParameters = toWide(parameters);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = wideFile.c_str();
  info.lpParameters = wideParameters.empty() ? nullptr : wideParameters.c_str();
  info.nShow = showCommand(window);
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  bool started = ShellExecuteExW(&info) != 0;
  if (!started && GetLastError() == ERROR_INVALID_PARAMETER) {
    // Wine cannot invoke through an item list built from a path; the plain
    // "open" reaches the same program.
    info.fMask &= ~SEE_MASK_INVOKEIDLIST;
    started = ShellExecuteExW(&info) != 0;
  }
  if (SUCCEEDED(com)) CoUninitialize();
  if (!started) return false;
  UniqueKernelHandle handle(info.hProcess);  // null when the shell started no process
  if (waitForExit && handle) WaitForSingleObject(handle.get(), INFINITE);
  return true;
}

}  // namespace zul::win32
