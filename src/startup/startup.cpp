#include "startup/startup.h"

#include <atomic>
#include <cstdio>

#include "config/compressed_container.h"
#include "config/data_block.h"
#include "config/ini_file.h"
#include "config/package_config.h"
#include "startup/command_line.h"
#include "config/package_config.h"
#include "startup/exit_code.h"

namespace zul {
namespace {

// GBK texts of this file.
constexpr std::string_view kUninstallSection = "\xC8\xED\xBC\xFE\xD0\xB6\xD4\xD8\xC5\xE4\xD6\xC3";  // 软件卸载配置
constexpr std::string_view kUninstallPathKey = "\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6";  // 卸载路径
constexpr std::string_view kUninstallNameKey = "\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6";  // 软件名称
constexpr std::string_view kUninstallVersionKey = "\xC8\xED\xBC\xFE\xB0\xE6\xB1\xBE";  // 软件版本
constexpr std::string_view kMissingVolume = "\xC8\xB1\xC9\xD9\xB7\xD6\xBE\xED\xCE\xC4\xBC\xFE:";  // 缺少分卷文件:
constexpr std::string_view kRunFailed = "\xD4\xCB\xD0\xD0\xCA\xA7\xB0\xDC";  // 运行失败
constexpr std::string_view kCompanionSeparator = "#\xA3\xA1\xA1\xEF\xA3\xA1#";  // #！★！#
constexpr std::string_view kInstallerSuffix = " - \xB0\xB2\xD7\xB0\xCF\xF2\xB5\xBC";  // " - 安装向导"
constexpr std::string_view kUninstallerSuffix = " - \xD0\xB6\xD4\xD8\xCF\xF2\xB5\xBC";  // " - 卸载向导"
constexpr std::string_view kBrokenUninstaller =
    "\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2\xCB\xF0\xBB\xB5\xA3\xAC\xCE\xDE\xB7\xA8\xD0\xB6\xD4\xD8\xA1\xA3";  // 卸载程序损坏，无法卸载。
constexpr std::string_view kUninstallFailed = "\xD0\xB6\xD4\xD8\xCA\xA7\xB0\xDC";  // 卸载失败
constexpr std::string_view kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr std::string_view kLargeImageValue = "\xBD\xE7\xC3\xE6\xB4\xF3\xCD\xBC\xC6\xAC";  // 界面大图片

// Companion files of the uninstaller, in the order they are stored.
constexpr std::string_view kCompanionFiles[] = {"ZULDLL_s.ini", "ZULDLL.db", "var_data.ini", "variable.ini"};

std::atomic<uint32_t> temporaryNameCounter{0};

SectionReader readerFor(StartupServices& s) {
  SectionReader io(s.platform.fs);
  io.waitBeforeRetry = [&s] { s.platform.system.waitWithMessages(100); };
  io.pumpMessages = [&s] { s.platform.ui.pumpMessages(); };
  io.emptyFileRetries = s.emptyFileRetries;
  io.sectionChunk = s.sectionChunk;
  return io;
}

Text ownFolder(Platform& p) { return folderOf(p.system.ownPath()); }

void copyFile(FileSystem& fs, const Text& from, const Text& to) {
  auto in = fs.open(from, OpenMode::kRead);
  auto out = fs.open(to, OpenMode::kCreate);
  uint64_t size = 0;
  if (!in || !out || !in->size(&size)) return;
  Bytes buffer(1 << 20, '\0');
  for (uint64_t at = 0; at < size;) {
    const size_t got = in->readAt(at, buffer.data(), buffer.size());
    if (got == 0 || !out->writeAt(at, buffer.data(), got)) return;
    at += got;
  }
}

Text quoted(const Text& s) { return "\"" + s + "\""; }

void runUninstallerFirstStage(StartupServices& s, SetupState& state) {
  Platform& p = s.platform;
  const Text iniPath = withTrailingSlash(ownFolder(p)) + "uninst.ini";
  const Text installFolder = readProfileString(p.fs, iniPath, Text(kUninstallSection), Text(kUninstallPathKey));
  state.productName = readProfileString(p.fs, iniPath, Text(kUninstallSection), Text(kUninstallNameKey));
  if (state.productName.empty()) p.system.terminate(static_cast<uint32_t>(ExitCode::kOk));

  const Bytes companions = p.system.ownResource("UNINST_DAT", 103);
  const std::vector<Bytes> parts = splitBytes(companions, kCompanionSeparator);
  if (companions.empty() || parts.size() < std::size(kCompanionFiles)) {
    // A silent uninstall has no one to close a message: its exit code tells.
    if (!isSilentUninstall(state.args)) p.ui.showMessage(Text(kBrokenUninstaller), Text(kUninstallFailed));
    p.system.terminate(static_cast<uint32_t>(ExitCode::kUninstallerDamaged));
  }

  const Text temp = p.fs.tempFolder();
  state.dataDir = temp + state.productName + "\\";
  p.fs.createDirectory(temp + state.productName);
  for (size_t i = 0; i < std::size(kCompanionFiles); ++i) {
    writeWholeFile(p.fs, state.dataDir + Text(kCompanionFiles[i]), parts[i]);
  }
  if (s.expandVariables) s.expandVariables(state);

  const Text copy = state.dataDir + state.productName + ".exe";
  copyFile(p.fs, p.system.ownPath(), copy);
  const Text command = quoted(copy) + " " + quoted(installFolder) + " " + quoted(Text(kUninstallArgument));
  if (!isSilentUninstall(state.args)) {
    p.system.startProcess(command);
    p.system.terminate(static_cast<uint32_t>(ExitCode::kOk));
  }
  // A deployment tool waits for this process: it ends when the copy has
  // finished, with the copy's exit code.
  uint32_t exitCode = static_cast<uint32_t>(ExitCode::kUninstallFailed);
  p.system.runAndWait(command + " " + Text(kSilentUninstallSwitch), &exitCode);
  p.system.terminate(exitCode);
}

void readInstallerKeys(StartupServices& s, SetupState& state);

// Whether the command line asks for a silent install, by the package's own
// switches: then no one is there to close a message box.
bool silentInstallRequested(FileSystem& fs, const SetupState& state) {
  const PackageSwitches keys = readPackageSwitches(fs, state);
  SetupState probe;
  applySwitches({keys.direct, keys.silent, keys.hideFinish}, state.args, probe);
  return probe.installMode == kSilentInstall;
}

}  // namespace

Text newTemporaryName(Platform& platform, const Text& folder) {
  const Text base = withTrailingSlash(folder);
  uint32_t n = platform.system.tickCount() + temporaryNameCounter.fetch_add(1) + 1;
  for (;; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "%x.tmp", static_cast<unsigned>(n));
    if (!platform.fs.exists(base + name)) return base + name;
  }
}

void preparePackage(StartupServices& s, SetupState& state) {
  Platform& p = s.platform;
  SectionReader io = readerFor(s);
  const Text ownPath = p.system.ownPath();
  const Bytes config = readSectionBackward(io, ownPath, kConfigOpen, kConfigClose);
  state.payloadPath = ownPath;
  if (config.empty()) return;

  state.dataDir = newTemporaryName(p, p.fs.tempFolder()) + "\\";
  p.fs.createDirectory(state.dataDir.substr(0, state.dataDir.size() - 1));
  const Text archive = state.dataDir + "data.7z";
  writeWholeFile(p.fs, archive, config);
  repairArchiveSignature(p.fs, archive, 0);
  if (s.md5Hex) state.configArchivePassword = s.md5Hex(p.system.ownResource("KEY", 250));
  if (s.extractArchive) s.extractArchive(archive, state.dataDir, state.configArchivePassword);

  const Text packingMode = readSetupKey(p.fs, state, Text(keys::kPackingMode));
  const size_t dash = packingMode.find('-');
  if (dash != Text::npos && dash + 1 < packingMode.size()) {
    const int64_t thresholdMiB = toInt(packingMode.substr(dash + 1));
    uint64_t ownSize = 0;
    if (auto own = p.fs.open(ownPath, OpenMode::kRead)) own->size(&ownSize);
    const bool showWait = static_cast<int64_t>(ownSize) >= thresholdMiB * 1048576 && s.showWaitWindow;
    if (showWait) s.showWaitWindow();
    p.ui.pumpMessages();
    const Text copyPath = newTemporaryName(p, p.fs.tempFolder()) + ".7zzul";
    state.payloadPath = copyPath;
    copySectionForward(io, ownPath, kPayloadOpen, kPayloadClose, copyPath,
                       [&](int percent) { if (showWait && s.waitWindowProgress) s.waitWindowProgress(percent); });
    if (showWait && s.closeWaitWindow) s.closeWaitWindow();
  }

  const Text productName = readSetupKey(p.fs, state, Text(keys::kProductName));
  const Text folder = withTrailingSlash(ownFolder(p));
  const int32_t volumes = toInt(readSetupKey(p.fs, state, Text(keys::kVolumeCount)));
  for (int32_t i = 1; i <= volumes; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, ".%03d", static_cast<int>(i));
    state.payloadPath = folder + productName + number;
    if (!p.fs.exists(state.payloadPath)) {
      if (!silentInstallRequested(p.fs, state)) p.ui.showMessage(Text(kMissingVolume) + state.payloadPath, Text(kRunFailed));
      p.system.terminate(static_cast<uint32_t>(ExitCode::kMissingVolume));
    }
  }
  if (!readSetupKey(p.fs, state, Text(keys::kVolumeSize)).empty()) state.payloadPath = folder + productName + ".001";
}

RunMode determineRunMode(StartupServices& s, SetupState& state) {
  Platform& p = s.platform;
  state.args = splitCommandLine(p.system.commandLine());
  Text mode;
  if (!state.args.empty() && state.args[0] == "test") {
    mode = Text(kInstallerMode);
    state.dataDir = withTrailingSlash(ownFolder(p));
  } else {
    SectionReader io = readerFor(s);
    mode = readSectionForward(io, p.system.ownPath(), kPackageModeOpen, kPackageModeClose);
  }
  if (mode != kInstallerMode) return mode == kUninstallerMode ? RunMode::kUninstaller : RunMode::kNone;

  preparePackage(s, state);
  const PackageSwitches keys = readPackageSwitches(p.fs, state);
  const InstallSwitches switches{keys.direct, keys.silent, keys.hideFinish};
  applySwitches(switches, state.args, state);
  if (s.expandVariables) s.expandVariables(state);
  return RunMode::kInstaller;
}

Bytes startup(StartupServices& s, SetupState& state) {
  Platform& p = s.platform;
  const Bytes icon = p.system.ownIconFile();
  state.runMode = determineRunMode(s, state);

  Text suffix;
  if (state.runMode == RunMode::kUninstaller && (state.args.empty() || isSilentUninstall(state.args))) {
    runUninstallerFirstStage(s, state);
  }
  if (state.runMode == RunMode::kInstaller) {
    readInstallerKeys(s, state);
    suffix = Text(kInstallerSuffix);
  }
  if (state.args.size() > 1 && state.args[1] == kUninstallArgument) {
    const Text iniPath = withTrailingSlash(state.args[0]) + "uninst.ini";
    state.productName = readProfileString(p.fs, iniPath, Text(kUninstallSection), Text(kUninstallNameKey));
    state.productVersion = readProfileString(p.fs, iniPath, Text(kUninstallSection), Text(kUninstallVersionKey));
    state.largeInterfaceImage = p.registry.readBinary(RegistryRoot::kLocalMachine,
                                                      Text(kUninstallKey) + state.productName, Text(kLargeImageValue));
    suffix = Text(kUninstallerSuffix);
    // The first stage's folder in the temporary folder, removed when the
    // uninstall is done; never the temporary folder itself.
    if (!state.productName.empty()) state.dataDir = p.fs.tempFolder() + state.productName + "\\";
  }
  state.windowTitle = state.productName + state.productVersion + suffix;
  return icon;
}

namespace {

void readInstallerKeys(StartupServices& s, SetupState& state) {
  FileSystem& fs = s.platform.fs;
  const auto setupKey = [&](std::string_view name) { return readSetupKey(fs, state, Text(name)); };
  const auto file = [&](std::string_view name) { return readDataFile(fs, state, Text(name)); };

  state.productName = setupKey(keys::kProductName);
  state.archiveFileName = setupKey(keys::kArchiveFileName);
  state.companyName = setupKey(keys::kCompanyName);
  state.installPasswordDigest = setupKey(keys::kInstallPassword);
  state.payloadPassword = setupKey(keys::kPayloadPassword);
  state.mainProgramName = setupKey(keys::kMainProgramName);
  state.interfaceImage = file("\xBD\xE7\xC3\xE6\xCD\xBC\xC6\xAC.jpg");                    // 界面图片.jpg
  state.smallInterfaceImage = file("\xBD\xE7\xC3\xE6\xD0\xA1\xCD\xBC\xC6\xAC.jpg");       // 界面小图片.jpg
  state.uninstallerIcon = file("\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2\xCD\xBC\xB1\xEA.ico");   // 卸载程序图标.ico
  state.largeInterfaceImage = file("\xBD\xE7\xC3\xE6\xB4\xF3\xCD\xBC\xC6\xAC.jpg");       // 界面大图片.jpg
  state.installingImage = file("\xBD\xE7\xC3\xE6\xB0\xB2\xD7\xB0\xCA\xB1\xCD\xBC\xCF\xF1.jpg");  // 界面安装时图像.jpg
  state.autoAddPath = isTrue(setupKey(keys::kAutoAddPath));
  state.browseAutoAddText = setupKey(keys::kBrowseAutoAdd);
  state.productVersion = setupKey(keys::kProductVersion);
  state.makeUninstaller = toInt(setupKey(keys::kMakeUninstaller));

  // A registered earlier install decides the folder.
  Text previous = s.platform.registry.readString(RegistryRoot::kLocalMachine, Text(kUninstallKey) + state.productName,
                                                 "UninstallString");
  for (size_t at; (at = previous.find("\\uninst.exe")) != Text::npos;) previous.erase(at, 11);
  state.installDir = previous.empty() ? setupKey(keys::kInstallDir) : previous;

  readShortcutList(fs, state);
  readFinishOptions(fs, state);
  readRunLists(fs, state);

  state.packerImage = file("upx1.exe");

  const Bytes registryList = file("ZULREG.db");
  if (!registryList.empty()) state.registryEntries = decompressBytes(registryList);

  state.baseComponents = splitBytes(setupKey(keys::kBaseComponents), kListSeparator);
  // The readme is a text: it ends at its first NUL byte.
  const Bytes readme = findDataBlock(file(kDataIni), keys::kReadmeBlock);
  state.readmeText = readme.substr(0, readme.find('\0'));
  state.pageVisible[1] = true;
  state.pageVisible[2] = !state.readmeText.empty();
  state.pageVisible[3] = isTrue(readPackageKey(fs, state, keys::kVisibleSection, keys::kComponentsVisible));
  state.pageVisible[4] = isTrue(readPackageKey(fs, state, keys::kVisibleSection, keys::kLocationVisible));
  state.productVersion = setupKey(keys::kProductVersion);
}

}  // namespace
}  // namespace zul
