#include "install/uninstaller_builder.h"

#include <atomic>
#include <cstring>
#include <thread>

#include "config/ini_file.h"
#include "config/variables.h"
#include "install/registry_entries.h"
#include "install/uninstall_record.h"
#include "install/version_resource.h"
#include "startup/setup_package.h"

namespace zul {
namespace {

namespace record = uninstall_record;

constexpr std::string_view kBuildingUninstaller = "\xB4\xB4\xBD\xA8\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2 :";  // "创建卸载程序 :"
constexpr std::string_view kUninstallerLabel = "\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2";                       // 卸载程序
constexpr std::string_view kLocationSeparator = "\xA3\xAC";                                               // ，
constexpr uint16_t kCompanionResourceId = 103;

uint32_t le32(const Bytes& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

void writeRecord(FileSystem& fs, const SetupState& state) {
  const Text path = state.installDir + "\\" + Text(record::kFileName);
  const Text section(record::kSection);
  const auto put = [&](std::string_view key, const Text& value) {
    (void)writeProfileString(fs, path, section, Text(key), value);
  };
  put(record::kProductName, state.productName);
  put(record::kProductVersion, state.productVersion);
  put(record::kMainProgram, state.mainProgramName);
  put(record::kInstallFolder, state.installDir);
  put(record::kShortcutCount, std::to_string(state.shortcutList.size()));
  for (size_t i = 0; i < state.shortcutList.size(); ++i) {
    if (!state.shortcutList[i].removeAtUninstall) continue;
    put(Text(record::kShortcutPrefix) + std::to_string(i + 1), shortcutRecordValue(state.shortcutList[i]));
  }
}

void writeRegistration(Registry& registry, const SetupState& state) {
  const Text key = Text(record::kRegistrationKey) + state.productName;
  const auto text = [&](const char* name, const Text& value) {
    (void)registry.setValue(RegistryRoot::kLocalMachine, key, name, RegistryValueType::kString, value);
  };
  const auto binary = [&](std::string_view name, const Bytes& value) {
    (void)registry.setValue(RegistryRoot::kLocalMachine, key, Text(name), RegistryValueType::kBinary, value);
  };
  const Text uninstaller = state.installDir + "\\" + Text(record::kUninstallerName);
  text("DisplayIcon", state.installDir + "\\" + state.mainProgramName);
  text("banquan", state.companyName);
  text("DisplayName", state.productName + " " + state.productVersion);
  text("DisplayVersion", state.productVersion);
  text("UninstallString", uninstaller);
  // A deployment tool removes the product without questions through this.
  text("QuietUninstallString", "\"" + uninstaller + "\" -hp");
  text("MainExe", state.mainProgramName);
  binary(record::kSmallImageValue, state.smallInterfaceImage);
  binary(record::kLargeImageValue, state.largeInterfaceImage);
  text("Publisher", state.companyName);
}

}  // namespace

Text shortcutRecordValue(const ShortcutRecord& shortcut) {
  Text value;
  for (const Bytes& location : splitBytes(shortcut.location, kLocationSeparator)) {
    value += normalisePath(location) + "\\" + shortcut.name + ".lnk" + Text(kLocationSeparator);
  }
  return value;
}

void runPacker(UninstallerServices& services, const SetupState& state, const Text& file, bool pack) {
  if (state.packerImage.empty()) return;
  Platform& p = services.platform;
  const Text temp = p.fs.tempFolder();
  writeWholeFile(p.fs, temp + "upx1.exe", state.packerImage);
  const Text command = "\"" + temp + "\\upx1.exe\" " + (pack ? "--no-color -q -1" : "-d -q") + " \"" + file + "\"";
  std::atomic<bool> done{false};
  std::thread worker([&] {
    services.processes.createProcess(command, WindowState::kHidden, ProcessWait::kUntilExit);
    done = true;
  });
  while (!done) p.system.waitWithMessages(50);
  worker.join();
}

int replaceIconGroup(UninstallerServices& services, const Text& iconFile, const Text& exe, const Text& groupName,
                     uint16_t language) {
  const Bytes icon = readWholeFile(services.platform.fs, iconFile);
  if (icon.empty()) return 0;
  if (icon.size() < 6) return -1;
  const size_t count = static_cast<unsigned char>(icon[4]) | (static_cast<unsigned char>(icon[5]) << 8);
  if (icon.size() < 6 + count * 16) return -1;
  std::vector<ResourceChange> changes;
  Bytes group = icon.substr(0, 6);
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = 6 + i * 16;
    const uint32_t size = le32(icon, entry + 8), offset = le32(icon, entry + 12);
    if (offset > icon.size() || size > icon.size() - offset) return -1;
    const uint16_t id = static_cast<uint16_t>(i + 1);
    changes.push_back({{kResourceTypeIcon, {}}, {id, {}}, language, icon.substr(offset, size)});
    group += icon.substr(entry, 12);
    group.push_back(static_cast<char>(id & 0xFF));
    group.push_back(static_cast<char>(id >> 8));
  }
  changes.push_back({{kResourceTypeGroupIcon, {}}, {0, groupName}, language, group});
  return services.resources.apply(exe, changes) ? 1 : -1;
}

bool putDataResource(UninstallerServices& services, const Text& exe, std::string_view data, const Text& type,
                     uint16_t name) {
  return services.resources.apply(exe, {{{0, type}, {name, {}}, 0, Bytes(data)}});
}

void generateUninstaller(UninstallerServices& services, SetupState& state, Text& installedFileList) {
  Platform& p = services.platform;
  const Text uninstaller = state.installDir + "\\" + Text(record::kUninstallerName);
  const Text recordPath = state.installDir + "\\" + Text(record::kFileName);

  writeRecord(p.fs, state);
  writeRegistration(p.registry, state);
  if (services.reportAction) services.reportAction(Text(kBuildingUninstaller) + uninstaller);

  SectionReader io(p.fs);
  io.pumpMessages = [&p] { p.ui.pumpMessages(); };
  Bytes stub = readStubPart(io, p.system.ownPath(), kPackageModeOpen);
  // A program without appended sections is all stub (a test run of the bare
  // stub); an empty uninstaller would be no program at all.
  if (stub.empty()) stub = readWholeFile(p.fs, p.system.ownPath());
  writeWholeFile(p.fs, uninstaller, stub);
  runPacker(services, state, uninstaller, false);

  const Text iconFolder = p.fs.tempFolder() + "zul_dll";
  p.fs.createDirectory(iconFolder);
  const Text iconFile = iconFolder + "\\" + state.productName + ".ico";
  writeWholeFile(p.fs, iconFile, state.uninstallerIcon);
  replaceIconGroup(services, iconFile, uninstaller, "DEFAULT_ICON", 0);
  putDataResource(services, uninstaller, state.uninstallerData, "UNINST_DAT", kCompanionResourceId);

  VersionTexts texts;
  texts.company = Text(kUninstallerLabel);
  texts.rightsNotice = Text(kUninstallerLabel);
  texts.description = state.productName;
  texts.productName = state.productName;
  setVersionInfo(p.fs, services.resources, services.codec, uninstaller, texts);
  appendPackageMode(p.fs, uninstaller, kUninstallerMode);

  installedFileList += recordPath + "\r\n" + uninstaller;
  runPacker(services, state, uninstaller, true);
  setBlock(p.fs, recordPath, Text(record::kFileListBlock), installedFileList);
}

}  // namespace zul
