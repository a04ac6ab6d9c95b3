// The Win32 side of plug-in calls: loading DLLs by full path, finding
// exports, and calling them with 15 argument slots.
#pragma once

#include "plugins/plugin_caller.h"

namespace zul::win32 {

// Restricts the process's DLL search order to the system folder, so that no
// DLL planted in the temporary, download or current folder is picked up by
// a later load (plug-ins' dependencies, delay-loaded system DLLs). Call it
// first thing in WinMain. Where the system lacks SetDefaultDllDirectories
// (Windows 7 without its update), the current folder is still removed from
// the search. Returns true when the system-folder-only order is in force.
bool secureDllSearchOrder();

// Loads with LoadLibraryExW and never unloads: plug-ins keep running code
// and handing out addresses until the process ends.
class Win32PluginHost : public PluginHost {
 public:
  Module loadModule(const Text& path) override;
  Export findExport(Module module, const Text& name) override;
  int32_t call(Export proc, const ArgumentSlots& arguments) override;
  void pause(uint32_t ms) override;
};

// Calls `proc` with the 15 slots as its arguments, slot 1 first, whatever
// the export's convention (stdcall or cdecl) and parameter count up to 15;
// the 32-bit result. Declared here for the test of the thunk.
int32_t callWithSlots(const void* proc, const ArgumentSlots& arguments);

}  // namespace zul::win32
