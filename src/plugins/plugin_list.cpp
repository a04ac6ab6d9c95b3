#include "plugins/plugin_list.h"

#include "config/compressed_container.h"
#include "platform/file_system.h"

namespace zul {

Bytes pluginField(std::string_view entry, std::string_view start, std::string_view end) {
  const size_t at = entry.find(start);
  if (at == std::string_view::npos) return {};
  const size_t from = at + start.size();
  const size_t to = entry.find(end, from);
  if (to == std::string_view::npos) return {};
  return Bytes(entry.substr(from, to - from));
}

Bytes plainLibraryList(std::string_view stored) {
  if (stored.empty() || stored.substr(0, kPlainLibraryListStart.size()) == kPlainLibraryListStart) {
    return Bytes(stored);
  }
  return decompressBytes(stored);
}

PluginListStatus parsePluginList(std::string_view descriptors, std::string_view libraries,
                                 std::vector<PluginEntry>* out) {
  out->clear();
  if (libraries.empty()) return PluginListStatus::kEmpty;
  const std::vector<Bytes> dlls = splitBytes(libraries, kPluginEntrySeparator);
  const std::vector<Bytes> described = splitBytes(descriptors, kPluginEntrySeparator);
  constexpr std::string_view kParamEnd = "DLLparam_end";
  for (size_t i = 0; i < dlls.size(); ++i) {
    if (i == kMaxPluginEntries) return PluginListStatus::kTooManyEntries;
    PluginEntry entry;
    if (i < described.size()) {
      const Bytes name = pluginField(described[i], "DLLname", "DLLname_end");
      entry.exportName = name.substr(0, name.find('\0'));
      entry.mode = toInt(pluginField(described[i], "DLLmd", "DLLmd_end"));
      entry.parameters = pluginField(described[i], "DLLparam", kParamEnd);
    }
    const size_t end = dlls[i].find(kParamEnd);
    if (end != Bytes::npos) entry.dll = dlls[i].substr(end + kParamEnd.size());
    out->push_back(std::move(entry));
  }
  return PluginListStatus::kOk;
}

Text pluginFolder(const Text& tempPath) {
  if (tempPath.empty()) return {};
  return withTrailingSlash(tempPath) + Text(kPluginFolderName);
}

}  // namespace zul
