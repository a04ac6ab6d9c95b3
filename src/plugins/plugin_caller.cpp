#include "plugins/plugin_caller.h"

#include "platform/crypto.h"
#include "plugins/plugin_list.h"

namespace zul {

PluginCaller::PluginCaller(FileSystem& fs, PluginHost& host, Text pluginFolder)
    : fs_(fs), host_(host), folder_(std::move(pluginFolder)) {}

void PluginCaller::loadPlugins(const Text& dataDir, RunMode runMode) {
  if (folder_.empty()) return;
  const Bytes libraries = plainLibraryList(readWholeFile(fs_, dataDir + "ZULDLL.db"));
  const Bytes descriptors = readWholeFile(fs_, dataDir + "ZULDLL_s.ini");
  fs_.createDirectory(folder_);
  std::vector<PluginEntry> entries;
  // A list cut at the entry bound still loads its first entries.
  (void)parsePluginList(descriptors, libraries, &entries);
  const int32_t wanted = static_cast<int32_t>(runMode) - 1;
  for (const PluginEntry& entry : entries) {
    if (entry.mode != wanted) continue;
    (void)callPluginFunction(entry.dll, entry.exportName, entry.parameters, 0);
  }
}

int32_t PluginCaller::callPluginFunction(std::string_view dll, const Text& name, std::string_view parameters,
                                         PluginHost::Module module) {
  if (folder_.empty()) return -1;
  const bool usable = clearFolder();
  if (module == 0 && usable) module = loadPluginModule(folder_ + "\\" + md5Hex(dll) + ".dll", dll);
  if (module == 0) return -1;
  const PluginHost::Export proc = host_.findExport(module, name);
  if (proc == 0) return -1;
  return host_.call(proc, values_.fill(parameters));
}

bool PluginCaller::clearFolder() {
  // The folder lies in the user's temporary folder, where any program of the
  // user may plant a junction, while this process may run elevated: a walk
  // through such a link would delete files elsewhere.
  uint32_t attributes = 0;
  if (fs_.getAttributes(folder_, &attributes) && (attributes & kAttributeReparsePoint)) fs_.removeDirectory(folder_);
  fs_.createDirectory(folder_);
  if (!fs_.getAttributes(folder_, &attributes) || !(attributes & kAttributeDirectory) ||
      (attributes & kAttributeReparsePoint)) {
    return false;
  }
  for (const DirEntry& entry : fs_.list(folder_)) {
    const Text path = folder_ + "\\" + entry.name;
    if (entry.isDirectory || !fs_.getAttributes(path, &attributes) || (attributes & kAttributeReparsePoint)) continue;
    if (attributes & kAttributeReadOnly) fs_.setAttributes(path, kAttributeNormal);
    fs_.removeFile(path);
  }
  return true;
}

PluginHost::Module PluginCaller::loadPluginModule(const Text& path, std::string_view dll) {
  for (const PluginModule& loaded : modules_) {
    if (loaded.path == path) return loaded.handle;
  }
  if (dll.empty()) return 0;
  // When the file cannot be replaced (another setup has the same plug-in
  // loaded), it is used only if it holds exactly these bytes: never load a
  // file someone else put there.
  if (!writeWholeFile(fs_, path, dll) && readWholeFile(fs_, path) != dll) return 0;
  PluginHost::Module module = 0;
  for (int attempt = 0; attempt < kLoadAttempts; ++attempt) {
    if (attempt > 0) host_.pause(kLoadRetryPauseMs);
    module = host_.loadModule(path);
    if (module != 0) break;
  }
  if (module == 0) return 0;
  modules_.push_back({path, module});
  return module;
}

std::vector<int32_t> PluginCaller::NotifyPlugins(std::string_view description) {
  const Text parameters = eventParameterText(description);
  const Text name(kEventExport);
  std::vector<int32_t> answers;
  answers.reserve(modules_.size());
  // Indexed: a plug-in handling the event cannot grow the list, but the loop
  // must not depend on that.
  for (size_t i = 0; i < modules_.size(); ++i) {
    answers.push_back(callPluginFunction({}, name, parameters, modules_[i].handle));
  }
  return answers;
}

}  // namespace zul
