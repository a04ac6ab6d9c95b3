#include "config/package_config.h"

#include <gtest/gtest.h>

#include "config/memory_file_system.h"

namespace zul {
namespace {

const Text kTrueText = "\xD5\xE6";  // 真

class PackageConfigTest : public ::testing::Test {
 protected:
  PackageConfigTest() { state_.dataDir = "C:\\data\\"; }
  void setDataIni(const Bytes& text) { fs_.files["C:\\data\\data.ini"] = text; }
  static Text section(std::string_view name) { return "[" + Text(name) + "]\r\n"; }
  static Text line(std::string_view key, std::string_view value) { return Text(key) + "=" + Text(value) + "\r\n"; }
  static Text line(std::string_view key, int i, std::string_view value) {
    return Text(key) + std::to_string(i) + "=" + Text(value) + "\r\n";
  }

  MemoryFileSystem fs_;
  SetupState state_;
};

TEST_F(PackageConfigTest, OnlyTheExactTrueTextIsAFlag) {
  const struct {
    Text value;
    bool expected;
  } cases[] = {{kTrueText, true},       {"\xCA\xC7", false} /* 是 */, {"1", false}, {"true", false},
               {"", false},             {kTrueText + "x", false},     {"\xBC\xD9", false} /* 假 */};
  for (const auto& c : cases) EXPECT_EQ(isTrue(c.value), c.expected) << c.value;
  // Blanks around a value are gone before the comparison.
  setDataIni(section(keys::kVisibleSection) + line(keys::kComponentsVisible, " " + kTrueText + " "));
  EXPECT_TRUE(isTrue(readPackageKey(fs_, state_, keys::kVisibleSection, keys::kComponentsVisible)));
}

TEST_F(PackageConfigTest, SetupKeysAndDataFiles) {
  setDataIni(section(keys::kSetupSection) + line(keys::kProductName, "App") + section("other") +
             line(keys::kCompanyName, "elsewhere"));
  fs_.files["C:\\data\\pic.jpg"] = Bytes("\xFF\xD8\0jpg", 6);
  EXPECT_EQ(readSetupKey(fs_, state_, Text(keys::kProductName)), "App");
  EXPECT_EQ(readSetupKey(fs_, state_, Text(keys::kCompanyName)), "");
  EXPECT_EQ(readDataFile(fs_, state_, "pic.jpg"), Bytes("\xFF\xD8\0jpg", 6));
  EXPECT_EQ(readDataFile(fs_, state_, "missing.jpg"), "");
  state_.dataDir = "C:\\elsewhere\\";
  EXPECT_EQ(readSetupKey(fs_, state_, Text(keys::kProductName)), "");
}

TEST_F(PackageConfigTest, ShortcutCountsAndNumbering) {
  const struct {
    const char* count;  // null: no count key
    size_t expected;
  } cases[] = {{nullptr, 0}, {"0", 0}, {"-3", 0}, {"2x", 2}, {"x2", 0}, {"12", 12}};
  for (const auto& c : cases) {
    Text ini = section(keys::kShortcutSection);
    if (c.count) ini += line(keys::kCountKey, c.count);
    for (int i = 1; i <= 12; ++i) ini += line(keys::kShortcutTarget, i, "t" + std::to_string(i));
    setDataIni(ini);
    state_.shortcutList.clear();
    readShortcutList(fs_, state_);
    ASSERT_EQ(state_.shortcutList.size(), c.expected) << (c.count ? c.count : "missing");
    for (size_t i = 0; i < c.expected; ++i) EXPECT_EQ(state_.shortcutList[i].target, "t" + std::to_string(i + 1));
  }
}

TEST_F(PackageConfigTest, ShortcutFieldsComeFromTheirKeys) {
  setDataIni(section(keys::kShortcutSection) + line(keys::kCountKey, "2") + line(keys::kShortcutName, 1, "name") +
             line(keys::kShortcutTarget, 1, "app.exe") + line(keys::kShortcutArguments, 1, "-x") +
             line(keys::kShortcutLocation, 1, "3") + line(keys::kShortcutRemove, 1, kTrueText) +
             line(keys::kShortcutIcon, 1, "app.ico") + line(keys::kShortcutDescription, 1, "desc") +
             // Padded numbers are other keys.
             line(keys::kShortcutName, 0, "zero") + Text(keys::kShortcutName) + "02=padded\r\n");
  readShortcutList(fs_, state_);
  ASSERT_EQ(state_.shortcutList.size(), 2u);
  const ShortcutRecord& first = state_.shortcutList[0];
  EXPECT_EQ(first.name, "name");
  EXPECT_EQ(first.target, "app.exe");
  EXPECT_EQ(first.arguments, "-x");
  EXPECT_EQ(first.location, "3");
  EXPECT_TRUE(first.removeAtUninstall);
  EXPECT_EQ(first.icon, "app.ico");
  EXPECT_EQ(first.description, "desc");
  EXPECT_EQ(state_.shortcutList[1].name, "");
  EXPECT_FALSE(state_.shortcutList[1].removeAtUninstall);
}

TEST_F(PackageConfigTest, HugeCountsAreBounded) {
  setDataIni(section(keys::kShortcutSection) + line(keys::kCountKey, "2147483647"));
  readShortcutList(fs_, state_);
  EXPECT_EQ(state_.shortcutList.size(), 10000u);
}

TEST_F(PackageConfigTest, RunListsAreParallelAndSeparate) {
  setDataIni(section(keys::kRunAfterExtractSection) + line(keys::kCountKey, "2") +
             line(keys::kRunExternal, 1, "ext") + line(keys::kRunFile, 1, "a.exe") +
             line(keys::kRunHideWindow, 1, kTrueText) + line(keys::kRunWaitForExit, 2, kTrueText) +
             line(keys::kRunFile, 2, "b.exe") + section(keys::kRunAtUninstallSection) +
             line(keys::kCountKey, "1") + line(keys::kRunFile, 1, "c.exe"));
  readRunLists(fs_, state_);
  const RunList& after = state_.runAfterExtract;
  EXPECT_EQ(after.external, (std::vector<Text>{"ext", ""}));
  EXPECT_EQ(after.file, (std::vector<Text>{"a.exe", "b.exe"}));
  EXPECT_EQ(after.hideWindow, (std::vector<bool>{true, false}));
  EXPECT_EQ(after.waitForExit, (std::vector<bool>{false, true}));
  const RunList& uninstall = state_.runAtUninstall;
  EXPECT_EQ(uninstall.file, (std::vector<Text>{"c.exe"}));
  EXPECT_EQ(uninstall.external.size(), 1u);
  EXPECT_EQ(uninstall.hideWindow.size(), 1u);
  EXPECT_EQ(uninstall.waitForExit.size(), 1u);
}

TEST_F(PackageConfigTest, FinishOptions) {
  const Text inFolder = Text(kInstallFolderVariable) + "\\";
  const Text runCaption = "\xD4\xCB\xD0\xD0 App 1.0";  // 运行 App 1.0
  const struct {
    const char* what;
    Text mainProgram;
    Text showMain, showProgram, programPath, showWeb, webAddress;
    std::vector<FinishOption> expected;
  } cases[] = {
      {"all three in order", "app.exe", kTrueText, kTrueText, "tool.exe", kTrueText, "http://x",
       {{runCaption, inFolder + "app.exe", true}, {"P", inFolder + "tool.exe", true}, {"W", "http://x", true}}},
      {"hidden main program is left out", "app.exe", "1", "", "tool.exe", "", "http://x",
       {{"P", inFolder + "tool.exe", false}, {"W", "http://x", false}}},
      {"no main program", "", kTrueText, "", "", "", "", {}},
      {"web page alone", "", "", "", "", kTrueText, "http://x", {{"W", "http://x", true}}},
  };
  for (const auto& c : cases) {
    setDataIni(section(keys::kFinishMainSection) + line(keys::kFinishShow, c.showMain) +
               section(keys::kFinishProgramSection) + line(keys::kFinishShow, c.showProgram) +
               line(keys::kFinishFilePath, c.programPath) + line(keys::kFinishCaption, "P") +
               section(keys::kFinishWebSection) + line(keys::kFinishShow, c.showWeb) +
               line(keys::kFinishWebAddress, c.webAddress) + line(keys::kFinishCaption, "W"));
    state_.mainProgramName = c.mainProgram;
    state_.productName = "App";
    state_.productVersion = "1.0";
    state_.finishOptions.clear();
    readFinishOptions(fs_, state_);
    ASSERT_EQ(state_.finishOptions.size(), c.expected.size()) << c.what;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(state_.finishOptions[i].caption, c.expected[i].caption) << c.what;
      EXPECT_EQ(state_.finishOptions[i].target, c.expected[i].target) << c.what;
      EXPECT_EQ(state_.finishOptions[i].shown, c.expected[i].shown) << c.what;
    }
  }
}

TEST_F(PackageConfigTest, SwitchesDefaultWhenEmpty) {
  setDataIni(section(keys::kSwitchSection) + line("jp", "") + line("hp", "/quiet"));
  const PackageSwitches switches = readPackageSwitches(fs_, state_);
  EXPECT_EQ(switches.direct, "-jp");
  EXPECT_EQ(switches.silent, "/quiet");
  EXPECT_EQ(switches.hideFinish, "-hideend");
}

TEST_F(PackageConfigTest, PackingModeMebibytes) {
  const struct {
    const char* mode;
    int32_t expected;
  } cases[] = {{"", 0}, {"fast", 0}, {"fast-", 0}, {"fast-20", 20}, {"a-5-6", 5}, {"-7MB", 7}};
  for (const auto& c : cases) EXPECT_EQ(packingModeMebibytes(c.mode), c.expected) << c.mode;
}

}  // namespace
}  // namespace zul
