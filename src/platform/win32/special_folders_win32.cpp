#include <windows.h>
#include <shlobj.h>

#include <string>

#include "platform/special_folders.h"
#include "platform/win32/wide.h"

namespace zul {
namespace {

// Calls `get(buffer, size)` of a Win32 function that returns the length it
// wrote, or the size it needs (counting the terminator) when the buffer is
// too small, or 0 on failure.
template <typename Get>
Text grow(Get get) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = get(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return win32::fromWide(std::wstring_view(buffer.data(), n));
    buffer.assign(n, L'\0');
  }
  return {};
}

class Win32SpecialFolders : public SpecialFolders {
 public:
  Text shellFolder(int csidl) override {
    wchar_t path[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return {};
    return win32::fromWide(path);
  }
  Text windowsFolder() override {
    return grow([](wchar_t* b, DWORD n) { return static_cast<DWORD>(GetWindowsDirectoryW(b, n)); });
  }
  Text sharedWindowsFolder() override {
    return grow([](wchar_t* b, DWORD n) { return static_cast<DWORD>(GetSystemWindowsDirectoryW(b, n)); });
  }
  Text systemFolder() override {
    return grow([](wchar_t* b, DWORD n) { return static_cast<DWORD>(GetSystemDirectoryW(b, n)); });
  }
  Text tempFolder() override { return grow([](wchar_t* b, DWORD n) { return GetTempPathW(n, b); }); }
  Text environment(const Text& name) override {
    const std::wstring wideName = win32::toWide(name);
    return grow([&](wchar_t* b, DWORD n) { return GetEnvironmentVariableW(wideName.c_str(), b, n); });
  }
  uint32_t versionWord() override {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return GetVersion();
#pragma GCC diagnostic pop
  }
};

}  // namespace

std::unique_ptr<SpecialFolders> makeSpecialFolders() { return std::make_unique<Win32SpecialFolders>(); }

}  // namespace zul
