#include "config/package_config.h"

#include "config/ini_file.h"

namespace zul {
namespace {

// A count key beyond this is taken as this many entries. Entries past the
// last key in the file are all empty, so a larger count adds only empty
// records, and a count of two thousand million would exhaust memory.
constexpr int32_t kMaxListEntries = 10000;

class PackageIni {
 public:
  PackageIni(FileSystem& fs, const SetupState& state) : doc_(readDataFile(fs, state, Text(kDataIni))) {}
  PackageIni(FileSystem& fs, const Text& path) : doc_(readWholeFile(fs, path)) {}
  Text text(std::string_view section, std::string_view key) const { return profileValue(doc_, section, key); }
  Text numbered(std::string_view section, std::string_view key, int32_t i) const {
    return text(section, Text(key) + std::to_string(i));
  }
  bool flag(std::string_view section, std::string_view key) const { return isTrue(text(section, key)); }
  int32_t count(std::string_view section) const {
    const int32_t n = toInt(text(section, keys::kCountKey));
    return n < 0 ? 0 : (n > kMaxListEntries ? kMaxListEntries : n);
  }

 private:
  IniDocument doc_;
};

void readRunList(const PackageIni& ini, std::string_view section, RunList& list) {
  const int32_t count = ini.count(section);
  for (int32_t i = 1; i <= count; ++i) {
    list.external.push_back(ini.numbered(section, keys::kRunExternal, i));
    list.file.push_back(ini.numbered(section, keys::kRunFile, i));
    list.hideWindow.push_back(isTrue(ini.numbered(section, keys::kRunHideWindow, i)));
    list.waitForExit.push_back(isTrue(ini.numbered(section, keys::kRunWaitForExit, i)));
  }
}

}  // namespace

bool isTrue(std::string_view value) { return value == kTrue; }

Text readPackageKey(FileSystem& fs, const SetupState& state, std::string_view section, std::string_view key) {
  return readProfileString(fs, state.dataDir + Text(kDataIni), Text(section), Text(key));
}

Text readSetupKey(FileSystem& fs, const SetupState& state, const Text& key) {
  return readPackageKey(fs, state, keys::kSetupSection, key);
}

Bytes readDataFile(FileSystem& fs, const SetupState& state, const Text& name) {
  return readWholeFile(fs, state.dataDir + name);
}

PackageSwitches readPackageSwitches(FileSystem& fs, const SetupState& state) {
  const PackageIni ini(fs, state);
  const auto orDefault = [&](std::string_view key) {
    Text value = ini.text(keys::kSwitchSection, key);
    return value.empty() ? Text("-").append(key) : value;
  };
  return {orDefault(keys::kDirectSwitch), orDefault(keys::kSilentSwitch), orDefault(keys::kHideFinishSwitch)};
}

int32_t packingModeMebibytes(std::string_view packingMode) {
  const size_t dash = packingMode.find('-');
  if (dash == std::string_view::npos) return 0;
  return toInt(packingMode.substr(dash + 1));
}

void readShortcutList(FileSystem& fs, SetupState& state) {
  const PackageIni ini(fs, state);
  const std::string_view section = keys::kShortcutSection;
  const int32_t count = ini.count(section);
  for (int32_t i = 1; i <= count; ++i) {
    ShortcutRecord record;
    record.name = ini.numbered(section, keys::kShortcutName, i);
    record.target = ini.numbered(section, keys::kShortcutTarget, i);
    record.arguments = ini.numbered(section, keys::kShortcutArguments, i);
    record.location = ini.numbered(section, keys::kShortcutLocation, i);
    record.removeAtUninstall = isTrue(ini.numbered(section, keys::kShortcutRemove, i));
    record.icon = ini.numbered(section, keys::kShortcutIcon, i);
    record.description = ini.numbered(section, keys::kShortcutDescription, i);
    state.shortcutList.push_back(std::move(record));
  }
}

void readFinishOptions(FileSystem& fs, SetupState& state) {
  const PackageIni ini(fs, state);
  const bool showMain = ini.flag(keys::kFinishMainSection, keys::kFinishShow);
  const bool showProgram = ini.flag(keys::kFinishProgramSection, keys::kFinishShow);
  const bool showWeb = ini.flag(keys::kFinishWebSection, keys::kFinishShow);
  const Text programPath = ini.text(keys::kFinishProgramSection, keys::kFinishFilePath);
  const Text webAddress = ini.text(keys::kFinishWebSection, keys::kFinishWebAddress);
  const Text programCaption = ini.text(keys::kFinishProgramSection, keys::kFinishCaption);
  const Text webCaption = ini.text(keys::kFinishWebSection, keys::kFinishCaption);

  const Text inInstallFolder = Text(kInstallFolderVariable) + "\\";
  if (!state.mainProgramName.empty() && showMain) {
    state.finishOptions.push_back({Text("\xD4\xCB\xD0\xD0 ").append(state.productName).append(" ").append(state.productVersion),  // 运行
                                   inInstallFolder + state.mainProgramName, true});
  }
  if (!programPath.empty()) {
    state.finishOptions.push_back({programCaption, inInstallFolder + programPath, showProgram});
  }
  if (!webAddress.empty()) {
    state.finishOptions.push_back({webCaption, webAddress, showWeb});
  }
}

RunList readRunListFrom(FileSystem& fs, const Text& iniPath, std::string_view section) {
  RunList list;
  readRunList(PackageIni(fs, iniPath), section, list);
  return list;
}

void readRunLists(FileSystem& fs, SetupState& state) {
  const PackageIni ini(fs, state);
  readRunList(ini, keys::kRunAfterExtractSection, state.runAfterExtract);
  readRunList(ini, keys::kRunAtUninstallSection, state.runAtUninstall);
}

}  // namespace zul
