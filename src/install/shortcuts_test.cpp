#include "install/shortcuts.h"

#include <gtest/gtest.h>

#include "platform/test_support/fake_platform.h"
#include "platform/test_support/fake_shell_links.h"
#include "platform/test_support/scratch_folder.h"

namespace zul {
namespace {

const Text kComma = "\xA3\xAC";                                         // ，
const Text kReport = "\xB4\xB4\xBD\xA8\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD: ";  // 创建快捷方式: 

// An installed product in a scratch folder with its own desktop, programs
// and profile folders.
class ShortcutsTest : public ::testing::Test {
 protected:
  ShortcutsTest() : platform_{scratch_.fs(), system_, registry_, ui_}, links_(scratch_.fs()) {
    const Text root = scratch_.path();
    desktop_ = root + "Desktop";
    programs_ = root + "Programs";
    quickLaunch_ = root + "Profile\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch";
    folders_.shell[16] = desktop_ + "\\";  // CSIDL_DESKTOPDIRECTORY
    folders_.shell[2] = programs_ + "\\";  // CSIDL_PROGRAMS
    folders_.variables["userprofile"] = root + "Profile";
    makeFolders(fs(), desktop_);
    makeFolders(fs(), programs_);
    makeFolders(fs(), quickLaunch_);
    state_.installDir = root + "App";
    state_.productName = "\xB2\xE2\xCA\xD4";  // 测试
    state_.mainProgramName = "app.exe";
    fs().createDirectory(state_.installDir);
    writeWholeFile(fs(), state_.installDir + "\\app.exe", "MZ");
  }
  FileSystem& fs() { return scratch_.fs(); }
  Text group() const { return programs_ + "\\" + state_.productName; }
  void run(ComponentChoices choices = {true, true, true}) {
    createShortcuts(platform_, links_, folders_, state_, choices, [this](const Text& line) { lines_.push_back(line); });
  }
  std::vector<Text> linkPaths() const {
    std::vector<Text> paths;
    for (const auto& link : links_.links) paths.push_back(link.path);
    return paths;
  }

  ScratchFolder scratch_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  Platform platform_;
  FakeShellLinks links_;
  FixedSpecialFolders folders_;
  SetupState state_;
  std::vector<Text> lines_;
  Text desktop_, programs_, quickLaunch_;
};

TEST_F(ShortcutsTest, UntickedComponentsSkipTheirLocationsOnly) {
  const Text other = scratch_.path() + "Other";
  struct Case {
    const char* what;
    ComponentChoices choices;
    bool desktop, group, quickLaunch;
  };
  const Case cases[] = {
      {"all ticked", {true, true, true}, true, true, true},
      {"desktop unticked", {false, true, true}, false, true, true},
      {"group unticked", {true, false, true}, true, false, true},
      {"quick launch unticked", {true, true, false}, true, true, false},
      {"none ticked", {false, false, false}, false, false, false},
  };
  for (const Case& c : cases) {
    links_.links.clear();
    lines_.clear();
    removeTree(fs(), group());
    // The desktop written with a trailing "\" still matches.
    state_.shortcutList = {{"Run", "app.exe", "-x", desktop_ + "\\" + kComma + group() + kComma + quickLaunch_ + kComma + other,
                            true, "", "Runs it"}};
    run(c.choices);
    std::vector<Text> expected;
    if (c.desktop) expected.push_back(desktop_ + "\\Run.lnk");
    if (c.group) expected.push_back(group() + "\\Run.lnk");
    if (c.quickLaunch) expected.push_back(quickLaunch_ + "\\Run.lnk");
    expected.push_back(other + "\\Run.lnk");
    EXPECT_EQ(linkPaths(), expected) << c.what;
    EXPECT_EQ(lines_.size(), expected.size()) << c.what;
    // The group is made for every location, and removed again when it got nothing.
    EXPECT_EQ(fs().isDirectory(group()), c.group) << c.what;
    EXPECT_TRUE(fs().isDirectory(other)) << c.what;
  }
  EXPECT_EQ(lines_.back(), kReport + other + "\\Run");  // reported before ".lnk" is appended
  const ShellLinkFields& fields = links_.links.back().fields;
  EXPECT_EQ(fields.target, state_.installDir + "\\app.exe");
  EXPECT_EQ(fields.workingFolder, state_.installDir + "\\");
  EXPECT_EQ(fields.iconLocation, "");  // no icon configured: given as empty
  EXPECT_EQ(fields.arguments, "-x");
  EXPECT_EQ(fields.description, "Runs it");
}

TEST_F(ShortcutsTest, LocationsSplitAtTheFullWidthCommaOnly) {
  const Text root = scratch_.path();
  // Another letter case than the desktop's (past the first byte) is not the desktop.
  const Text otherCase = root + "DESKTOP";
  state_.shortcutList = {
      {"A", "app.exe", "", root + "x" + kComma + root + "y" + kComma, true, "", ""},
      {"B", "app.exe", "", root + "p,q", true, "", ""},
      {"C", "app.exe", "", otherCase, true, "", ""},
  };
  run({false, false, false});
  EXPECT_EQ(linkPaths(), (std::vector<Text>{root + "x\\A.lnk", root + "y\\A.lnk", root + "p,q\\B.lnk",
                                             otherCase + "\\C.lnk"}));
}

TEST_F(ShortcutsTest, LinkNamesTargetsAndIcons) {
  const Text at = scratch_.path() + "L";
  makeFolders(fs(), at + "\\sub");
  writeWholeFile(fs(), state_.installDir + "\\readme.txt", "r");
  writeWholeFile(fs(), at + "\\Old.lnk", "an older link");
  state_.shortcutList = {
      {"Old", "app.exe", "", at, true, "app.ico", ""},           // replaces the older file
      {"Mid.LNK.bak", "app.exe", "", at, true, "", ""},          // ".lnk" anywhere: kept as it is
      {"Gone", "missing.exe", "", at, true, "", ""},             // target missing: no link, no line
      {"Dir", "", "", at, true, "", ""},                         // the install folder itself exists
  };
  run();
  EXPECT_EQ(linkPaths(), (std::vector<Text>{at + "\\Old.lnk", at + "\\Mid.LNK.bak", at + "\\Dir.lnk"}));
  EXPECT_EQ(readWholeFile(fs(), at + "\\Old.lnk"), "link to " + state_.installDir + "\\app.exe");
  EXPECT_EQ(links_.links[0].fields.iconLocation, state_.installDir + "\\app.ico");
  EXPECT_EQ(lines_.size(), 3u);

  // The operation itself: icon defaults, working folder, a target without "\".
  Text link = at + "\\direct";
  EXPECT_TRUE(createShellLink(fs(), links_, link, "D:\\\xB3\xCC\\p.exe", "a", "", false, "d"));  // 程
  EXPECT_EQ(link, at + "\\direct.lnk");
  EXPECT_EQ(links_.links.back().fields.iconLocation, "D:\\\xB3\xCC\\p.exe,0");
  EXPECT_EQ(links_.links.back().fields.workingFolder, "D:\\\xB3\xCC\\");
  const size_t before = links_.links.size();
  Text bare = at + "\\bare";
  EXPECT_FALSE(createShellLink(fs(), links_, bare, "p.exe", "", "", true, ""));
  EXPECT_EQ(links_.links.size(), before);
  EXPECT_FALSE(fs().exists(at + "\\bare.lnk"));
  // A refused target still showed its line.
  links_.refusedTargets = {state_.installDir + "\\app.exe"};
  lines_.clear();
  state_.shortcutList = {{"R", "app.exe", "", at, true, "", ""}};
  run();
  EXPECT_EQ(lines_, std::vector<Text>{kReport + at + "\\R"});
  EXPECT_FALSE(fs().exists(at + "\\R.lnk"));
}

TEST_F(ShortcutsTest, UninstallerPlaceholder) {
  const Text at = scratch_.path() + "U";
  state_.makeUninstaller = 1;
  state_.shortcutList = {{"Remove", "%Uninst.exe%", "/u", at, true, "", "bye"}};
  run();
  // Linked before the uninstaller exists, without a line; the record now names it.
  EXPECT_EQ(state_.shortcutList[0].target, "uninst.exe");
  ASSERT_EQ(links_.links.size(), 1u);
  EXPECT_EQ(links_.links[0].fields.target, state_.installDir + "\\uninst.exe");
  EXPECT_EQ(links_.links[0].fields.iconLocation, state_.installDir + "\\uninst.exe,0");
  EXPECT_EQ(links_.links[0].fields.arguments, "/u");
  EXPECT_TRUE(lines_.empty());

  // From an earlier install the uninstaller exists: written again, with a line.
  writeWholeFile(fs(), state_.installDir + "\\uninst.exe", "MZ");
  state_.shortcutList[0].target = "%Uninst.exe%";
  links_.links.clear();
  run();
  EXPECT_EQ(links_.links.size(), 2u);
  EXPECT_EQ(lines_.size(), 1u);

  // Without an uninstaller the placeholder is an ordinary (missing) file name.
  state_.makeUninstaller = 0;
  state_.shortcutList[0].target = "%Uninst.exe%";
  links_.links.clear();
  run();
  EXPECT_TRUE(links_.links.empty());
  EXPECT_EQ(state_.shortcutList[0].target, "%Uninst.exe%");
}

// After the first link the record names "uninst.exe", which does not exist
// yet: the record still stands for the uninstaller at its other locations.
TEST_F(ShortcutsTest, UninstallerPlaceholderLinksAtEveryLocation) {
  const Text tools = group() + "\\Tools";
  state_.makeUninstaller = 1;
  state_.shortcutList = {{"Remove", "%Uninst.exe%", "/u", desktop_ + kComma + tools + kComma + quickLaunch_, true, "", ""}};
  run({true, true, false});  // no quick launch: no link there
  EXPECT_EQ(linkPaths(), (std::vector<Text>{desktop_ + "\\Remove.lnk", tools + "\\Remove.lnk"}));
  for (const auto& link : links_.links) {
    EXPECT_EQ(link.fields.target, state_.installDir + "\\uninst.exe") << link.path;
    EXPECT_EQ(link.fields.arguments, "/u") << link.path;
  }
  EXPECT_EQ(state_.shortcutList[0].target, "uninst.exe");
  EXPECT_TRUE(lines_.empty());

  // Every location skipped: no link, and the record keeps its placeholder.
  state_.shortcutList[0].target = "%Uninst.exe%";
  state_.shortcutList[0].location = desktop_ + kComma + quickLaunch_;
  links_.links.clear();
  run({false, true, false});
  EXPECT_TRUE(links_.links.empty());
  EXPECT_EQ(state_.shortcutList[0].target, "%Uninst.exe%");
}

TEST_F(ShortcutsTest, PinsTheMainProgramOnlyWithQuickLaunchFromVersion6) {
  struct Case {
    const char* what;
    bool quickLaunch;
    uint32_t version;
    const char* mainProgram;
    bool pinned;
  };
  const Case cases[] = {
      {"Windows 7", true, 0x1DB10106, "app.exe", true},
      {"Vista", true, 0x17700006, "app.exe", true},
      {"XP", true, 0x0A280105, "app.exe", false},
      {"unticked", false, 0x1DB10106, "app.exe", false},
      {"no main program", true, 0x1DB10106, "", false},
  };
  for (const Case& c : cases) {
    links_.pins.clear();
    folders_.version = c.version;
    state_.mainProgramName = c.mainProgram;
    run({false, false, c.quickLaunch});
    ASSERT_EQ(links_.pins.size(), c.pinned ? 1u : 0u) << c.what;
    if (c.pinned) {
      EXPECT_EQ(links_.pins[0].folder, state_.installDir);
      EXPECT_EQ(links_.pins[0].fileName, "app.exe");
      EXPECT_TRUE(links_.pins[0].pin);
    }
  }
}

TEST_F(ShortcutsTest, ProgramGroupCleanUpKeepsFilesAndTheProgramsFolder) {
  // A group with only empty subfolders goes.
  makeFolders(fs(), group() + "\\a\\b");
  run();
  EXPECT_FALSE(fs().exists(group()));

  // Shortcuts made in a subfolder of the group keep it.
  state_.shortcutList = {{"Tool", "app.exe", "", group() + "\\Tools", true, "", ""}};
  run();
  EXPECT_TRUE(fs().exists(group() + "\\Tools\\Tool.lnk"));

  // Without a product name the programs folder is not the group.
  state_.productName.clear();
  state_.shortcutList.clear();
  makeFolders(fs(), programs_ + "\\Empty");
  run();
  EXPECT_TRUE(fs().isDirectory(programs_ + "\\Empty"));
}

TEST_F(ShortcutsTest, QuickLaunchFolderFallsBackToTheOlderLayout) {
  EXPECT_EQ(quickLaunchFolder(fs(), folders_), quickLaunch_);
  folders_.variables["userprofile"] = scratch_.path() + "Nobody";
  EXPECT_EQ(quickLaunchFolder(fs(), folders_),
            scratch_.path() + "Nobody\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch");
}

TEST(FolderHelpersTest, FilesDirectlyAndBelow) {
  ScratchFolder scratch;
  FileSystem& fs = scratch.fs();
  const Text root = scratch.path() + "t";
  makeFolders(fs, root + "\\a\\b");
  EXPECT_FALSE(folderHasFiles(fs, root));
  EXPECT_FALSE(treeHasFiles(fs, root));
  writeWholeFile(fs, root + "\\a\\b\\f", "x");
  EXPECT_FALSE(folderHasFiles(fs, root));
  EXPECT_TRUE(treeHasFiles(fs, root));
  EXPECT_FALSE(removeEmptyTree(fs, root));
  EXPECT_TRUE(fs.exists(root + "\\a\\b\\f"));
  fs.removeFile(root + "\\a\\b\\f");
  EXPECT_TRUE(removeEmptyTree(fs, root + "\\"));
  EXPECT_FALSE(fs.exists(root));
  EXPECT_FALSE(removeEmptyTree(fs, ""));
  EXPECT_FALSE(removeEmptyTree(fs, "C:\\"));
  EXPECT_FALSE(folderHasFiles(fs, root));  // missing
}

}  // namespace
}  // namespace zul
