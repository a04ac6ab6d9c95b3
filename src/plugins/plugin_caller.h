// Loading the package's plug-in DLLs and calling them.
//
// Each plug-in whose mode matches the run is written to the plug-in folder as
// the lower-case hex MD5 of its bytes + ".dll" (byte-identical DLLs share one
// file and one module), loaded, and its load-time export called once. Every
// later event goes to the export "keso_msg" of every module, in load order.
// Modules are never unloaded.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/file_system.h"
#include "plugins/plugin_arguments.h"
#include "startup/setup_state.h"

namespace zul {

// The process side of plug-in calls: the Win32 loader in the stub, a fake in
// tests. Handles and export addresses are opaque non-zero numbers.
class PluginHost {
 public:
  using Module = uintptr_t;  // 0: none
  using Export = uintptr_t;  // 0: none

  virtual ~PluginHost() = default;
  // One attempt to load the DLL file at the full path `path`; 0 on failure.
  virtual Module loadModule(const Text& path) = 0;
  // The export `name` (byte-exact) of `module`; 0 when it has none.
  virtual Export findExport(Module module, const Text& name) = 0;
  // Calls `proc` with the 15 slots, slot 1 as its first argument, and
  // returns its 32-bit result. Exports that pop their arguments and exports
  // that leave them both return here with the stack intact.
  virtual int32_t call(Export proc, const ArgumentSlots& arguments) = 0;
  // Waits `ms` milliseconds between load attempts.
  virtual void pause(uint32_t ms) = 0;
};

// A module the caller loaded: the file it came from and its handle.
struct PluginModule {
  Text path;
  PluginHost::Module handle = 0;
};

// The export every module is asked for events.
inline constexpr std::string_view kEventExport = "keso_msg";

// A DLL the system refuses (a file still being scanned, say) is tried this
// many times, kLoadRetryPauseMs apart, before the call gives -1.
inline constexpr int kLoadAttempts = 50;
inline constexpr uint32_t kLoadRetryPauseMs = 20;

class PluginCaller {
 public:
  // `pluginFolder` as pluginFolder() gives it; when it is empty nothing is
  // ever loaded. `fs`, `host` and the caller outlive every call.
  PluginCaller(FileSystem& fs, PluginHost& host, Text pluginFolder);

  // Reads "ZULDLL.db" and "ZULDLL_s.ini" of `dataDir` (ending with "\")
  // and performs the load-time call of every entry whose mode is
  // `runMode` - 1 (0 installer, 1 uninstaller). Results are not used.
  void loadPlugins(const Text& dataDir, RunMode runMode);

  // Calls export `name` of the module of `dll` with the arguments of
  // `parameters`. With `module` 0 the DLL is written and loaded first (or
  // found among the loaded modules by its file name). Returns the export's
  // result, or -1 when the module cannot be had or has no such export.
  //
  // Every call first empties the plug-in folder of the files earlier runs
  // left (files of loaded modules are in use and stay). Only plain files
  // directly inside are removed; subfolders, links and what they lead to are
  // never touched, and a plug-in folder that is itself a link is replaced by
  // a real one (the link is removed, not its target) before anything is
  // written; when it cannot be, no DLL is written and the call gives -1.
  int32_t callPluginFunction(std::string_view dll, const Text& name, std::string_view parameters,
                             PluginHost::Module module);

  // The module of `dll` at `path`: the loaded one when `path` was loaded
  // before, else `dll` written to `path` and loaded (at most kLoadAttempts
  // tries). 0 when the file cannot be written or loaded, or `dll` is empty.
  PluginHost::Module loadPluginModule(const Text& path, std::string_view dll);

  // Hands the event `description` to "keso_msg" of every module in load
  // order and returns one answer per module: the export's result, or -1 for
  // a module without "keso_msg". An answer of 1 asks the sender to stop.
  std::vector<int32_t> NotifyPlugins(std::string_view description);

  const std::vector<PluginModule>& modules() const { return modules_; }

 private:
  // Empties the folder as described above; true when it is a real folder.
  bool clearFolder();

  FileSystem& fs_;
  PluginHost& host_;
  Text folder_;
  std::vector<PluginModule> modules_;
  ArgumentStore values_;
};

}  // namespace zul
