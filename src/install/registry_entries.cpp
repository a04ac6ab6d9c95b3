#include "install/registry_entries.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "config/data_block.h"
#include "config/ini_file.h"
#include "config/package_config.h"
#include "config/variables.h"
#include "install/program_runs.h"
#include "platform/special_folders.h"

namespace zul {

RegistryListStatus parseRegistryEntries(std::string_view list, std::vector<RegistryEntry>* entries) {
  entries->clear();
  const int32_t stated = toInt(textUpToNul(findDataBlock(list, "num")));
  if (stated <= 0) return RegistryListStatus::kOk;
  const size_t count = std::min<size_t>(static_cast<size_t>(stated), kMaxRegistryEntries);

  // One pass finds every opening (name, 0x01) and closing (name, "end") of
  // an entry block, so the list costs the same whatever "num" says; the
  // blocks then read exactly as findDataBlock would read them.
  constexpr std::string_view kTags[] = {"REGpath", "REGtype", "REGdata", "REGoff", "REGname"};
  constexpr size_t kTagCount = std::size(kTags);
  constexpr size_t kMaxDigits = 4;  // kMaxRegistryEntries has four
  std::vector<size_t> firstOpening(kTagCount * (count + 1), std::string_view::npos);  // content start
  std::vector<std::vector<size_t>> closings(kTagCount * (count + 1));                   // closing starts, ascending

  // The block (tag, number) whose name ends right before `at`; false when
  // none does.
  const auto nameBefore = [&](size_t at, size_t* slot, size_t* nameStart) {
    size_t digits = at;
    while (digits > 0 && at - digits <= kMaxDigits && list[digits - 1] >= '0' && list[digits - 1] <= '9') --digits;
    if (digits == at || at - digits > kMaxDigits || list[digits] == '0') return false;
    const size_t number = static_cast<size_t>(toInt(list.substr(digits, at - digits)));
    if (number > count) return false;
    for (size_t t = 0; t < kTagCount; ++t) {
      if (digits >= kTags[t].size() && list.substr(digits - kTags[t].size(), kTags[t].size()) == kTags[t]) {
        *slot = t * (count + 1) + number;
        *nameStart = digits - kTags[t].size();
        return true;
      }
    }
    return false;
  };
  for (size_t at = 0; at < list.size(); ++at) {
    size_t slot = 0, nameStart = 0;
    if (list[at] == '\x01') {
      if (nameBefore(at, &slot, &nameStart) && firstOpening[slot] == std::string_view::npos) firstOpening[slot] = at + 1;
    } else if (list.substr(at, kBlockEndMarker.size()) == kBlockEndMarker) {
      if (nameBefore(at, &slot, &nameStart)) closings[slot].push_back(nameStart);
    }
  }
  const auto content = [&](size_t tag, size_t number) {
    const size_t slot = tag * (count + 1) + number;
    const size_t start = firstOpening[slot];
    if (start == std::string_view::npos) return Bytes();
    const auto close = std::lower_bound(closings[slot].begin(), closings[slot].end(), start);
    return close == closings[slot].end() ? Bytes() : Bytes(list.substr(start, *close - start));
  };

  entries->reserve(count);
  for (size_t i = 1; i <= count; ++i) {
    RegistryEntry entry;
    entry.path = textUpToNul(content(0, i));
    entry.type = textUpToNul(content(1, i));
    entry.data = content(2, i);
    entry.off = textUpToNul(content(3, i));
    entry.name = textUpToNul(content(4, i));
    entries->push_back(std::move(entry));
  }
  return static_cast<size_t>(stated) > kMaxRegistryEntries ? RegistryListStatus::kTruncated : RegistryListStatus::kOk;
}

bool setBlockBytes(std::string_view store, std::string_view name, std::string_view value, Bytes* out) {
  if (value.empty()) value = kEmptyBlockValue;
  const Bytes opening = Bytes(name) + '\x01';
  const Bytes closing = Bytes(name) + Bytes(kBlockEndMarker);
  if (name.empty() || value.find(closing) != std::string_view::npos) return false;

  Bytes result;
  const size_t open = store.find(opening);
  if (open == std::string_view::npos) {
    result.reserve(store.size() + opening.size() + value.size() + closing.size());
    result.append(store).append(opening).append(value).append(closing);
  } else {
    const size_t contentStart = open + opening.size();
    const size_t close = store.find(closing, contentStart);
    result.append(store.substr(0, contentStart)).append(value);
    if (close == std::string_view::npos) {
      // An unterminated block: closing it here keeps the bytes after it.
      result.append(closing).append(store.substr(contentStart));
    } else {
      result.append(store.substr(close));
    }
  }
  // A value that ends with a prefix of the closing pattern could still make
  // the closing appear early.
  if (findDataBlock(result, name) != value) return false;
  *out = std::move(result);
  return true;
}

bool setBlock(FileSystem& fs, const Text& path, const Text& name, std::string_view content) {
  Bytes updated;
  if (!setBlockBytes(readWholeFile(fs, path), name, content, &updated)) return false;
  return replaceFile(fs, path, updated);
}

bool writeValue(Registry& registry, const Text& path, const Text& name, std::string_view data, RegistryValueKind kind) {
  RegistryRoot root;
  const size_t firstSeparator = path.find('\\');
  if (!registryRootOf(path, &root) || firstSeparator == Text::npos) return false;

  const Text keyPath = path.substr(firstSeparator + 1);
  Text full;
  if (!keyPath.empty() && lastSeparatorGbk(keyPath) == keyPath.size() - 1) {
    full = keyPath + name;
  } else {
    full = keyPath + "\\" + name;
  }
  const size_t split = lastSeparatorGbk(full);
  const Text key = full.substr(0, split);
  const Text value = full.substr(split + 1);

  switch (kind) {
    case RegistryValueKind::kText:
      return registry.setValue(root, key, value, RegistryValueType::kString, data.substr(0, data.find('\0')));
    case RegistryValueKind::kBinary:
      return registry.setValue(root, key, value, RegistryValueType::kBinary, data);
    case RegistryValueKind::kNumber: {
      Bytes number(4, '\0');
      data.copy(number.data(), std::min<size_t>(4, data.size()));
      return registry.setValue(root, key, value, RegistryValueType::kDword, number);
    }
  }
  return false;
}

bool importScript(ProcessRunner& runner, const Text& windowsFolder, const Text& file) {
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (windowsFolder.size() < 3 || !isLetter(windowsFolder[0]) || windowsFolder.compare(1, 2, ":\\") != 0) return false;
  // Quoted: an unquoted path with a space would be tried cut at the space.
  const Text editor = "\"" + withTrailingSlash(windowsFolder) + "regedit.exe\"";
  return runner.createProcess(editor + " /s \"" + file + "\"", WindowState::kNormal, ProcessWait::kUntilExit);
}

void writeRegistryEntries(Platform& platform, ProcessRunner& runner, const SetupState& state, const Text& installDir) {
  const Bytes list = replaceAll(state.registryEntries, kInstallPathVariable, installDir);
  if (list.empty()) return;
  std::vector<RegistryEntry> entries;
  (void)parseRegistryEntries(list, &entries);  // a cut list still writes its first entries

  Text windowsFolder;  // asked for at the first script only
  Text removals;
  for (size_t i = 0; i < entries.size(); ++i) {
    const RegistryEntry& entry = entries[i];
    if (entry.type == "file") {
      // One script file per entry: an editor still reading one script never
      // sees it replaced by the next.
      const Text script = platform.fs.tempFolder() + "ZUL" + std::to_string(i + 1) + ".reg";
      if (windowsFolder.empty()) windowsFolder = makeSpecialFolders()->sharedWindowsFolder();
      if (writeWholeFile(platform.fs, script, entry.data)) importScript(runner, windowsFolder, script);
    } else if (entry.type == "REG_SZ") {
      writeValue(platform.registry, entry.path, entry.name, entry.data, RegistryValueKind::kText);
    } else if (entry.type == "REG_BINARY") {
      writeValue(platform.registry, entry.path, entry.name, entry.data, RegistryValueKind::kBinary);
    } else if (entry.type == "REG_DWORD") {
      const uint32_t number = static_cast<uint32_t>(toInt(textUpToNul(entry.data)));
      Bytes little(4, '\0');
      for (int b = 0; b < 4; ++b) little[b] = static_cast<char>(number >> (8 * b));
      writeValue(platform.registry, entry.path, entry.name, little, RegistryValueKind::kNumber);
    }
    if (isTrue(entry.off)) removals += entry.path + "\\" + entry.name + "\r\n";
  }

  if (state.makeUninstaller == 1) {
    setBlock(platform.fs, installDir + "\\" + Text(kUninstallRecordName), Text(kRegistryRemovalBlock), removals);
  }
}

}  // namespace zul
