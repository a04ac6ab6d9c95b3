#include "plugins/win32/plugin_host_win32.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace zul::win32 {
namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32; spelled out because older headers lack it.
constexpr DWORD kSearchSystem32 = 0x00000800;

bool& systemFolderOnly() {
  static bool only = false;
  return only;
}

}  // namespace

bool secureDllSearchOrder() {
  // Removes the current folder from the search for every later load.
  SetDllDirectoryW(L"");
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                       reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                 : nullptr;
  // Not the application folder: the installer runs from a download folder
  // and the uninstaller's copy from the temporary folder, both writable by
  // anyone who can drop a file next to the program.
  systemFolderOnly() = setDefault && setDefault(kSearchSystem32);
  return systemFolderOnly();
}

PluginHost::Module Win32PluginHost::loadModule(const Text& path) {
  // The plug-in itself comes from its full path; its own imports come from
  // the system folder when the safe order is in force, else from the
  // plug-in's folder (which the caller has just cleared) before the
  // standard search.
  const DWORD flags = systemFolderOnly() ? kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH;
  return reinterpret_cast<Module>(LoadLibraryExW(toWide(path).c_str(), nullptr, flags));
}

PluginHost::Export Win32PluginHost::findExport(Module module, const Text& name) {
  // Export names are byte strings; the GBK name is passed as it is.
  return reinterpret_cast<Export>(
      reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name.c_str())));
}

int32_t Win32PluginHost::call(Export proc, const ArgumentSlots& arguments) {
  return callWithSlots(reinterpret_cast<const void*>(proc), arguments);
}

void Win32PluginHost::pause(uint32_t ms) { Sleep(ms); }

}  // namespace zul::win32
