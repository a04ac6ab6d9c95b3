#include <windows.h>

#include <cstring>

#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_platform.h"

namespace zul::win32 {
namespace {

Bytes resourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type) {
  HRSRC info = FindResourceW(module, name, type);
  if (!info) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const DWORD size = SizeofResource(module, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || size == 0) return {};
  return Bytes(static_cast<const char*>(data), size);
}

BOOL CALLBACK takeFirstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) {
  auto* first = reinterpret_cast<std::wstring*>(out);
  if (IS_INTRESOURCE(name)) {
    *first = L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(name));
  } else {
    *first = name;
  }
  return FALSE;
}

// The stored layout of an icon group entry; the .ico file entry has the same
// first 12 bytes and a 32-bit image offset in place of the 16-bit id.
constexpr size_t kGroupHeader = 6, kGroupEntry = 14, kFileEntry = 16;

void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// Starts `commandLine` (its first token names the program); the process
// handle goes to `process`.
bool createProcess(const Text& commandLine, UniqueKernelHandle* process) {
  std::wstring line = toWide(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process->reset(info.hProcess);
  return true;
}

}  // namespace

Text Win32System::ownPath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return fromWide(std::wstring_view(buffer.data(), n));
    buffer.resize(buffer.size() * 2);
  }
}

Text Win32System::commandLine() { return fromWide(GetCommandLineW()); }

uint32_t Win32System::tickCount() { return GetTickCount(); }

Bytes Win32System::ownResource(std::string_view type, int id) {
  const std::wstring wideType = toWide(type);
  return resourceBytes(nullptr, MAKEINTRESOURCEW(id), wideType.c_str());
}

Bytes Win32System::ownIconFile() {
  std::wstring first;
  EnumResourceNamesW(nullptr, RT_GROUP_ICON, takeFirstName, reinterpret_cast<LONG_PTR>(&first));
  if (first.empty()) return {};
  const Bytes group = resourceBytes(nullptr, first.c_str(), RT_GROUP_ICON);
  if (group.size() < kGroupHeader) return {};
  const size_t count = static_cast<unsigned char>(group[4]) | (static_cast<unsigned char>(group[5]) << 8);
  if (group.size() < kGroupHeader + count * kGroupEntry) return {};

  Bytes file = group.substr(0, kGroupHeader);
  file.resize(kGroupHeader + count * kFileEntry);
  Bytes images;
  for (size_t i = 0; i < count; ++i) {
    const char* entry = group.data() + kGroupHeader + i * kGroupEntry;
    uint16_t id;
    std::memcpy(&id, entry + 12, 2);
    const Bytes image = resourceBytes(nullptr, MAKEINTRESOURCEW(id), RT_ICON);
    const size_t at = kGroupHeader + i * kFileEntry;
    std::memcpy(file.data() + at, entry, 12);
    put32(file, at + 8, static_cast<uint32_t>(image.size()));
    put32(file, at + 12, static_cast<uint32_t>(kGroupHeader + count * kFileEntry + images.size()));
    images += image;
  }
  return file + images;
}

bool Win32System::startProcess(const Text& commandLine) {
  UniqueKernelHandle process;
  return createProcess(commandLine, &process);
}

bool Win32System::runAndWait(const Text& commandLine, uint32_t* exitCode) {
  UniqueKernelHandle process;
  if (!createProcess(commandLine, &process)) return false;
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  *exitCode = code;
  return true;
}

void Win32System::terminate(uint32_t exitCode) {
  TerminateProcess(GetCurrentProcess(), exitCode);
  ExitProcess(exitCode);
}

void Win32System::waitWithMessages(uint32_t ms) {
  UniqueKernelHandle timer(CreateWaitableTimerW(nullptr, TRUE, nullptr));
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;  // relative, 100 ns units
  if (!timer || !SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE)) {
    Sleep(ms);
    return;
  }
  HANDLE handles[] = {timer.get()};
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(1, handles, FALSE, INFINITE, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

}  // namespace zul::win32
