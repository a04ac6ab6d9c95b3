#include "startup/startup.h"

#include <gtest/gtest.h>

#include "config/ini_file.h"
#include "platform/test_support/fake_platform.h"
#include "platform/test_support/scratch_folder.h"
#include "startup/command_line.h"
#include "startup/exit_code.h"

namespace zul {
namespace {

// GBK texts used below.
const Text kMainSection = "\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xB0\xB2\xD7\xB0\xC5\xE4\xD6\xC3";  // 禾弋软件安装配置
const Text kProductKey = "\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6";                  // 禾弋软件名称
const Text kVersionKey = "\xC8\xED\xBC\xFE\xB0\xE6\xB1\xBE";                                  // 软件版本
const Text kUninstallSection = "\xC8\xED\xBC\xFE\xD0\xB6\xD4\xD8\xC5\xE4\xD6\xC3";            // 软件卸载配置
const Text kInstallerSuffix = " - \xB0\xB2\xD7\xB0\xCF\xF2\xB5\xBC";                          // " - 安装向导"
const Text kUninstallerSuffix = " - \xD0\xB6\xD4\xD8\xCF\xF2\xB5\xBC";                        // " - 卸载向导"
const Text kSeparator = "#\xA3\xA1\xA1\xEF\xA3\xA1#";                                          // #！★！#
const Text kUninstallRegistryKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() : platform_{scratch_.fs(), system_, registry_, ui_}, services_{platform_} {
    system_.path = scratch_.path() + "setup.exe";
    system_.line = "\"" + system_.path + "\"";
    system_.resources[{"KEY", 250}] = "zul";
    services_.emptyFileRetries = 0;
    services_.md5Hex = [](std::string_view data) { return "md5(" + Text(data) + ")"; };
  }

  // The running program: a stub with the given package-mode and
  // configuration sections.
  void writeProgram(std::string_view mode, std::string_view config = {}) {
    Bytes file = "MZ stub";
    if (!mode.empty()) file += sectionBlockHead(kPackageModeOpen) + Bytes(mode) + sectionBlockTail(kPackageModeClose);
    file += sectionBlockHead(kPayloadOpen) + Bytes(kSevenZipSignature) + "payload" + sectionBlockTail(kPayloadClose);
    if (!config.empty()) file += sectionBlockHead(kConfigOpen) + Bytes(config) + sectionBlockTail(kConfigClose);
    ASSERT_TRUE(writeWholeFile(scratch_.fs(), system_.path, file));
  }
  void args(const Text& arguments) { system_.line = "\"" + system_.path + "\" " + arguments; }
  void setKey(const Text& folder, const Text& section, const Text& key, const Text& value) {
    ASSERT_TRUE(writeProfileString(scratch_.fs(), folder + "data.ini", section, key, value));
  }
  // Runs start-up; the exit code when it ended the process, else -1.
  int64_t run() {
    try {
      startup(services_, state_);
    } catch (const FakeProcessEnded& ended) {
      return ended.exitCode;
    }
    return -1;
  }

  ScratchFolder scratch_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  Platform platform_;
  StartupServices services_;
  SetupState state_;
};

TEST_F(StartupTest, RoleComesFromModeAndTestArgument) {
  struct Case {
    const char* mode;
    const char* arguments;
    RunMode want;
  } cases[] = {
      {"zul-1", "", RunMode::kInstaller},     {"zul-2", "C:\\x \xD0\xB6\xD4\xD8", RunMode::kUninstaller},
      {"", "", RunMode::kNone},               {"zul-3", "", RunMode::kNone},
      {"zul-2", "test", RunMode::kInstaller}, {"", "TEST", RunMode::kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " / " + c.arguments);
    writeProgram(c.mode);
    args(c.arguments);
    state_ = SetupState{};
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(state_.runMode, c.want);
  }
}

TEST_F(StartupTest, TestModeReadsOwnFolder) {
  writeProgram("zul-2");
  args("test -hp");
  setKey(scratch_.path(), kMainSection, kProductKey, "\xD1\xDD\xCA\xBE");  // 演示
  setKey(scratch_.path(), kMainSection, kVersionKey, "1.0");
  ASSERT_EQ(run(), -1);
  EXPECT_EQ(state_.dataDir, scratch_.path());
  EXPECT_EQ(state_.windowTitle, "\xD1\xDD\xCA\xBE" "1.0" + kInstallerSuffix);
  EXPECT_EQ(state_.installMode, Text(kSilentInstall));
}

TEST_F(StartupTest, InstallerExtractsConfigurationIntoNewDataFolder) {
  // The archive's second byte is stored changed; start-up repairs it.
  writeProgram("zul-1", Bytes("7Z\xBC\xAF\x27\x1C\x00\x03 archive", 17));
  Text extractedFrom, extractedTo, password, archiveBytes;
  services_.extractArchive = [&](const Text& archive, const Text& to, const Text& pw) {
    extractedFrom = archive;
    extractedTo = to;
    password = pw;
    archiveBytes = readWholeFile(scratch_.fs(), archive);
    setKey(to, kMainSection, kProductKey, "P");
    return true;
  };
  ASSERT_EQ(run(), -1);
  const Text temp = scratch_.fs().tempFolder();
  ASSERT_EQ(state_.dataDir.compare(0, temp.size(), temp), 0) << state_.dataDir;
  EXPECT_EQ(state_.dataDir.substr(state_.dataDir.size() - 5), ".tmp\\");
  EXPECT_EQ(extractedFrom, state_.dataDir + "data.7z");
  EXPECT_EQ(extractedTo, state_.dataDir);
  EXPECT_EQ(password, "md5(zul)");
  EXPECT_EQ(archiveBytes, Bytes("7z\xBC\xAF\x27\x1C\x00\x03 archive", 17));
  EXPECT_EQ(state_.payloadPath, system_.path);
  EXPECT_EQ(state_.windowTitle, "P" + kInstallerSuffix);
}

TEST_F(StartupTest, PackingModeCopiesPayloadWithWaitWindow) {
  writeProgram("zul-1", "7z config");
  std::vector<std::string> calls;
  services_.extractArchive = [&](const Text&, const Text& to, const Text&) {
    setKey(to, kMainSection, "\xB0\xB2\xD7\xB0\xB0\xFC\xB7\xE2\xD7\xB0\xC4\xA3\xCA\xBD", "zul-0");  // 安装包封装模式
    return true;
  };
  services_.showWaitWindow = [&] { calls.push_back("show"); };
  services_.closeWaitWindow = [&] { calls.push_back("close"); };
  ASSERT_EQ(run(), -1);
  EXPECT_EQ(calls, (std::vector<std::string>{"show", "close"}));
  ASSERT_EQ(state_.payloadPath.substr(state_.payloadPath.size() - 10), ".tmp.7zzul");
  const Bytes copy = readWholeFile(scratch_.fs(), state_.payloadPath);
  EXPECT_EQ(copy.substr(0, 19), Bytes(kPayloadOpen) + '\x01');
  EXPECT_EQ(copy.substr(19, 8), kSevenZipSignature);
}

TEST_F(StartupTest, VolumesMustAllExist) {
  const Text volumeKey = "\xD1\xB9\xCB\xF5\xB7\xD6\xBE\xED\xCA\xFD";  // 压缩分卷数
  const Text sizeKey = "\xB7\xD6\xBE\xED\xB4\xF3\xD0\xA1";           // 分卷大小
  struct Case {
    const char* count;
    const char* size;
    int present;
    int64_t exit;
    const char* payload;  // suffix of payloadPath, or "" for the program itself
    bool silent = false;  // started with the silent-install switch
  } cases[] = {
      {"3", "", 3, -1, "V.003"},
      {"3", "700", 3, -1, "V.001"},
      {"3", "", 2, static_cast<int64_t>(ExitCode::kMissingVolume), "V.003"},
      {"3", "", 2, static_cast<int64_t>(ExitCode::kMissingVolume), "V.003", true},
      {"0", "", 0, -1, ""},
      {"", "", 0, -1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.count) + "/" + c.size + "/" + std::to_string(c.present) + (c.silent ? " -hp" : ""));
    ScratchFolder scratch;
    FileSystem& fs = scratch.fs();
    Platform platform{fs, system_, registry_, ui_};
    StartupServices services{platform};
    services.emptyFileRetries = 0;
    system_.path = scratch.path() + "setup.exe";
    system_.line = "\"" + system_.path + "\"" + (c.silent ? " -hp" : "");
    // Volumes are checked for a package with a configuration section; its
    // extraction provides the keys.
    ASSERT_TRUE(writeWholeFile(fs, system_.path, Bytes("MZ") + sectionBlockHead(kPackageModeOpen) + "zul-1" +
                                                     sectionBlockTail(kPackageModeClose) + sectionBlockHead(kConfigOpen) +
                                                     "7z" + sectionBlockTail(kConfigClose)));
    services.extractArchive = [&](const Text&, const Text& to, const Text&) {
      return writeProfileString(fs, to + "data.ini", kMainSection, kProductKey, "V") &&
             writeProfileString(fs, to + "data.ini", kMainSection, volumeKey, c.count) &&
             writeProfileString(fs, to + "data.ini", kMainSection, sizeKey, c.size);
    };
    for (int i = 1; i <= c.present; ++i) ASSERT_TRUE(writeWholeFile(fs, scratch.path() + "V.00" + std::to_string(i), "7z"));
    ui_.messages.clear();
    SetupState state;
    int64_t exit = -1;
    try {
      determineRunMode(services, state);
    } catch (const FakeProcessEnded& ended) {
      exit = ended.exitCode;
    }
    EXPECT_EQ(exit, c.exit);
    EXPECT_EQ(state.payloadPath, *c.payload ? scratch.path() + c.payload : system_.path);
    if (c.exit > 0 && !c.silent) {
      ASSERT_EQ(ui_.messages.size(), 1u);
      EXPECT_EQ(ui_.messages[0].first, "\xC8\xB1\xC9\xD9\xB7\xD6\xBE\xED\xCE\xC4\xBC\xFE:" + scratch.path() + "V.003");
      EXPECT_EQ(ui_.messages[0].second, "\xD4\xCB\xD0\xD0\xCA\xA7\xB0\xDC");  // 运行失败
    } else {
      EXPECT_TRUE(ui_.messages.empty());
    }
  }
}

TEST_F(StartupTest, EarlierInstallDecidesInstallFolder) {
  writeProgram("zul-1");
  args("test");
  setKey(scratch_.path(), kMainSection, kProductKey, "App");
  setKey(scratch_.path(), kMainSection, "\xB0\xB2\xD7\xB0\xCE\xBB\xD6\xC3", "D:\\Default");  // 安装位置
  ASSERT_EQ(run(), -1);
  EXPECT_EQ(state_.installDir, "D:\\Default");

  registry_.strings[{RegistryRoot::kLocalMachine, kUninstallRegistryKey + "App", "UninstallString"}] =
      "C:\\App\\uninst.exe";
  state_ = SetupState{};
  ASSERT_EQ(run(), -1);
  EXPECT_EQ(state_.installDir, "C:\\App");
}

TEST_F(StartupTest, UninstallerFirstStageRestoresCompanionsAndRelaunches) {
  writeProgram("zul-2");
  const Text ini = scratch_.path() + "uninst.ini";
  ASSERT_TRUE(writeProfileString(scratch_.fs(), ini, kUninstallSection, "\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6", "C:\\Apps\\P"));  // 卸载路径
  ASSERT_TRUE(writeProfileString(scratch_.fs(), ini, kUninstallSection, "\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6", "P"));  // 软件名称
  system_.resources[{"UNINST_DAT", 103}] = "a" + kSeparator + "b" + kSeparator + "c" + kSeparator + "d" + kSeparator;
  EXPECT_EQ(run(), 0);

  const Text data = scratch_.fs().tempFolder() + "P\\";
  EXPECT_EQ(state_.dataDir, data);
  EXPECT_EQ(readWholeFile(scratch_.fs(), data + "ZULDLL_s.ini"), "a");
  EXPECT_EQ(readWholeFile(scratch_.fs(), data + "ZULDLL.db"), "b");
  EXPECT_EQ(readWholeFile(scratch_.fs(), data + "var_data.ini"), "c");
  EXPECT_EQ(readWholeFile(scratch_.fs(), data + "variable.ini"), "d");
  EXPECT_EQ(readWholeFile(scratch_.fs(), data + "P.exe"), readWholeFile(scratch_.fs(), system_.path));
  ASSERT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(system_.started[0], "\"" + data + "P.exe\" \"C:\\Apps\\P\" \"\xD0\xB6\xD4\xD8\"");
}

TEST_F(StartupTest, SilentFirstStageWaitsForTheCopyAndPassesOnItsExitCode) {
  writeProgram("zul-2");
  args("-hp");
  const Text ini = scratch_.path() + "uninst.ini";
  ASSERT_TRUE(writeProfileString(scratch_.fs(), ini, kUninstallSection, "\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6", "C:\\A"));  // 卸载路径
  ASSERT_TRUE(writeProfileString(scratch_.fs(), ini, kUninstallSection, "\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6", "P"));  // 软件名称
  system_.resources[{"UNINST_DAT", 103}] = "a" + kSeparator + "b" + kSeparator + "c" + kSeparator + "d" + kSeparator;
  system_.nextExitCode = 4;
  EXPECT_EQ(run(), 4);
  const Text copy = scratch_.fs().tempFolder() + "P\\P.exe";
  ASSERT_EQ(system_.started.size(), 1u);
  EXPECT_EQ(system_.started[0], "\"" + copy + "\" \"C:\\A\" \"\xD0\xB6\xD4\xD8\" -hp");
}

TEST_F(StartupTest, InvalidUninstallerEndsWithoutRelaunch) {
  writeProgram("zul-2");
  const Text ini = scratch_.path() + "uninst.ini";
  // No product name: ends quietly.
  EXPECT_EQ(run(), 0);
  EXPECT_TRUE(ui_.messages.empty());
  // A product name but companion data split into fewer than four parts.
  ASSERT_TRUE(writeProfileString(scratch_.fs(), ini, kUninstallSection, "\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6", "P"));
  system_.resources[{"UNINST_DAT", 103}] = "a" + kSeparator + "b" + kSeparator + "c";
  const int64_t damaged = static_cast<int64_t>(ExitCode::kUninstallerDamaged);
  EXPECT_EQ(run(), damaged);
  EXPECT_EQ(ui_.messages.size(), 1u);
  EXPECT_TRUE(system_.started.empty());
  // Asked to uninstall silently: the exit code alone tells, no message waits
  // for a click that never comes.
  args("-hp");
  ui_.messages.clear();
  EXPECT_EQ(run(), damaged);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_TRUE(system_.started.empty());
}

TEST_F(StartupTest, SecondStageArgumentsNameTheUninstallTitle) {
  writeProgram("zul-2");
  const Text folder = scratch_.path() + "inst";
  ASSERT_TRUE(scratch_.fs().createDirectory(folder));
  ASSERT_TRUE(writeProfileString(scratch_.fs(), folder + "\\uninst.ini", kUninstallSection, "\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6", "P"));
  ASSERT_TRUE(writeProfileString(scratch_.fs(), folder + "\\uninst.ini", kUninstallSection, kVersionKey, "2.0"));
  registry_.binaries[{RegistryRoot::kLocalMachine, kUninstallRegistryKey + "P", "\xBD\xE7\xC3\xE6\xB4\xF3\xCD\xBC\xC6\xAC"}] = "JPG";
  for (const char* extra : {"", " more"}) {
    args("\"" + folder + "\" \xD0\xB6\xD4\xD8" + extra);
    state_ = SetupState{};
    ASSERT_EQ(run(), -1);
    EXPECT_EQ(state_.windowTitle, "P2.0" + kUninstallerSuffix);
    EXPECT_EQ(state_.largeInterfaceImage, "JPG");
  }
}

TEST(NewTemporaryName, CountsUpPastExistingNames) {
  ScratchFolder scratch;
  FakeSystem system;
  FakeRegistry registry;
  FakeUi ui;
  Platform platform{scratch.fs(), system, registry, ui};
  const Text first = newTemporaryName(platform, scratch.path());
  const Text second = newTemporaryName(platform, scratch.path());
  EXPECT_NE(first, second);  // same tick, different names
  ASSERT_TRUE(writeWholeFile(scratch.fs(), newTemporaryName(platform, scratch.path()), ""));
  for (int i = 0; i < 3; ++i) {
    const Text name = newTemporaryName(platform, scratch.path());
    EXPECT_FALSE(scratch.fs().exists(name));
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    ASSERT_TRUE(writeWholeFile(scratch.fs(), name, ""));
  }
}

}  // namespace
}  // namespace zul
