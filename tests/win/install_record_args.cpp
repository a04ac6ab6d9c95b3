// Records how it was started, for the tests of the program runs: appends one
// line "<show> <command line>" to "args.txt" beside itself, where <show> is
// the show state it was given (-1 when none was given). The line is GBK.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;

  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring log(path, n);
  log = log.substr(0, log.rfind(L'\\') + 1) + L"args.txt";

  const std::wstring line = std::to_wstring(show) + L" " + GetCommandLineW() + L"\r\n";
  const int size = WideCharToMultiByte(936, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string gbk(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(936, 0, line.c_str(), static_cast<int>(line.size()), gbk.data(), size, nullptr, nullptr);

  HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, gbk.data(), static_cast<DWORD>(gbk.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}
