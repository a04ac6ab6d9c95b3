#include "uninstall/removal.h"

#include <gtest/gtest.h>

#include "install/shortcuts.h"
#include "platform/test_support/fake_platform.h"
#include "platform/test_support/fake_shell_links.h"
#include "platform/test_support/scratch_folder.h"

namespace zul {
namespace {

const Text kComma = "\xA3\xAC";                                             // ，
const Text kFile = "\xC9\xBE\xB3\xFD\xCE\xC4\xBC\xFE: ";                    // 删除文件: 
const Text kReg = "\xC9\xBE\xB3\xFD\xD7\xA2\xB2\xE1\xCF\xEE: ";             // 删除注册项: 
const Text kDir = "\xC9\xBE\xB3\xFD\xC4\xBF\xC2\xBC: ";                     // 删除目录: 
const Text kRemaining = "\xBB\xF1\xC8\xA1\xCA\xA3\xD3\xE0\xC4\xBF\xC2\xBC\xD0\xC5\xCF\xA2";  // 获取剩余目录信息
const Text kSection = "[\xC8\xED\xBC\xFE\xD0\xB6\xD4\xD8\xC5\xE4\xD6\xC3]\r\n";              // [软件卸载配置]
const Text kName = "\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6";                      // 软件名称
const Text kMain = "\xD6\xF7\xB3\xCC\xD0\xF2\xC3\xFB";                      // 主程序名
const Text kCount = "\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD\xB8\xF6\xCA\xFD";     // 快捷方式个数
const Text kShortcut = "\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD";                  // 快捷方式
const Text kPathBlock = "\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6";                 // 卸载路径
const Text kRegBlock = "\xD0\xB6\xD4\xD8\xD7\xA2\xB2\xE1\xB1\xED";          // 卸载注册表
const Text kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

Bytes block(const Text& name, const Bytes& content) { return name + '\x01' + content + name + "end"; }

class RecordingView : public RemovalView {
 public:
  void reportAction(const Text& line) override { events.push_back("R " + line); }
  void appendLog(const Text& line) override { events.push_back("L " + line); }
  void showStatus() override { events.push_back("S"); }
  void setProgress(int percent) override { events.push_back("P " + std::to_string(percent)); }
  std::vector<Text> events;
};

// An installed product in a scratch folder with its own desktop, programs
// and quick-launch folders.
class RemovalTest : public ::testing::Test {
 protected:
  RemovalTest() : platform_{scratch_.fs(), system_, registry_, ui_} {
    root_ = scratch_.path();
    desktop_ = root_ + "Desktop";
    programs_ = root_ + "Programs";
    quickLaunch_ = root_ + "Profile\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch";
    folders_.shell[16] = desktop_ + "\\";
    folders_.shell[2] = programs_ + "\\";
    folders_.variables["userprofile"] = root_ + "Profile";
    folders_.variables["programfiles"] = root_ + "Program Files";
    for (const Text& f : {desktop_, programs_, quickLaunch_}) makeFolders(fs(), f);
    dir_ = root_ + "Program Files\\\xB2\xE2\xCA\xD4";  // 测试
    makeFolders(fs(), dir_);
  }
  FileSystem& fs() { return scratch_.fs(); }
  void file(const Text& path) {
    makeFolders(fs(), folderOf(path));
    writeWholeFile(fs(), path, "x");
  }
  void writeRecord(const Text& name, const Text& shortcutLines, const Bytes& paths, const Bytes& registry) {
    writeWholeFile(fs(), dir_ + "\\uninst.ini",
                   kSection + kName + "=" + name + "\r\n" + kMain + "=app.exe\r\n" + shortcutLines +
                       block(kPathBlock, paths) + block(kRegBlock, registry));
  }
  void run() {
    removeInstalledProduct(platform_, links_, folders_, readUninstallRecord(fs(), dir_), view_);
  }

  ScratchFolder scratch_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  Platform platform_;
  FakeShellLinks links_;
  FixedSpecialFolders folders_;
  RecordingView view_;
  Text root_, desktop_, programs_, quickLaunch_, dir_;
};

TEST_F(RemovalTest, RemovesInOrderAndReportsEveryAction) {
  const Text group = programs_ + "\\P";
  for (const Text& f : {desktop_ + "\\P.lnk", quickLaunch_ + "\\P.lnk", group + "\\Run.lnk", desktop_ + "\\Run.lnk",
                        dir_ + "\\app.exe", dir_ + "\\x\\y\\a.txt", dir_ + "\\uninst.ini"}) {
    if (f != dir_ + "\\uninst.ini") file(f);
  }
  makeFolders(fs(), dir_ + "\\x\\y\\z");
  makeFolders(fs(), group + "\\empty");
  registry_.strings[{RegistryRoot::kLocalMachine, kUninstallKey + "P", "UninstallString"}] = "u";
  registry_.strings[{RegistryRoot::kCurrentUser, "Software\\Acme", "Setting"}] = "1";
  registry_.strings[{RegistryRoot::kCurrentUser, "Software\\Acme\\Key", "v"}] = "2";
  writeRecord("P", kCount + "=2\r\n" + kShortcut + "1=" + desktop_ + "\\Run.lnk" + kComma + group + "\\Run.lnk" + kComma + "\r\n",
              dir_ + "\\app.exe\r\n" + dir_ + "\\x\\y\\a.txt\r\n" + dir_ + "\\uninst.ini",
              "HKEY_CURRENT_USER\\Software\\Acme\\Setting\r\n"
              "hkey_current_user\\Software\\Acme\\Key\\v\r\n"
              "HKEY_CURRENT_USER\\Software\\Acme\\Key\r\n");
  run();

  const std::vector<Text> expected = {
      "R " + kFile + quickLaunch_ + "\\P.lnk",
      "R " + kFile + desktop_ + "\\P.lnk",
      "R " + kReg + kUninstallKey + "P",
      "S",
      "R " + kFile + desktop_ + "\\Run.lnk",
      "R " + kFile + group + "\\Run.lnk",
      "R " + kReg + "Software\\Acme\\Setting",
      "R " + kReg + "Software\\Acme\\Key",
      "R " + kFile + dir_ + "\\app.exe",
      "P 33",
      "R " + kFile + dir_ + "\\x\\y\\a.txt",
      "P 66",
      "R " + kFile + dir_ + "\\uninst.ini",
      "P 100",
      "L " + kRemaining,
      "R " + kDir + dir_ + "\\x\\y\\z",
      "R " + kDir + dir_ + "\\x\\y",
      "R " + kDir + dir_ + "\\x",
      "P 100",
  };
  EXPECT_EQ(view_.events, expected);

  for (const Text& gone : {desktop_ + "\\P.lnk", quickLaunch_ + "\\P.lnk", desktop_ + "\\Run.lnk", group, dir_}) {
    EXPECT_FALSE(fs().exists(gone)) << gone;
  }
  EXPECT_TRUE(fs().isDirectory(programs_));
  ASSERT_EQ(links_.pins.size(), 1u);
  EXPECT_EQ(links_.pins[0].folder, dir_);
  EXPECT_EQ(links_.pins[0].fileName, "app.exe");
  EXPECT_FALSE(links_.pins[0].pin);
  // The registration key, the value Setting, and the key Software\Acme\Key
  // with its value (no value "Key" of Software\Acme exists).
  EXPECT_TRUE(registry_.strings.empty());
  EXPECT_EQ(registry_.deletedKeys.size(), 2u);
}

TEST_F(RemovalTest, FoldersThatStillHoldFilesStayAndUnlistedFilesAreKept) {
  file(dir_ + "\\kept\\deep\\k.txt");      // not listed: a kept file
  file(dir_ + "\\kept2\\own.txt");
  file(programs_ + "\\P\\Other.lnk");     // a shortcut the record does not list
  makeFolders(fs(), dir_ + "\\kept\\empty");
  writeRecord("P", "", dir_ + "\\listed.txt", "");
  file(dir_ + "\\listed.txt");
  run();
  EXPECT_FALSE(fs().exists(dir_ + "\\listed.txt"));
  EXPECT_FALSE(fs().exists(dir_ + "\\kept\\empty"));
  EXPECT_TRUE(fs().exists(dir_ + "\\kept\\deep\\k.txt"));
  EXPECT_TRUE(fs().exists(dir_ + "\\kept2\\own.txt"));
  EXPECT_TRUE(fs().exists(programs_ + "\\P\\Other.lnk"));
  for (const Text& e : view_.events) {
    EXPECT_EQ(e.find(kDir + dir_ + "\\kept\\deep"), Text::npos) << e;
    EXPECT_NE(e, "R " + kDir + dir_ + "\\kept");
  }
}

TEST_F(RemovalTest, EmptyProductNameLeavesSharedFoldersAndKeysAlone) {
  makeFolders(fs(), programs_ + "\\Someone Else");
  const Text allUsers = programs_.substr(0, 3) + "ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
  makeFolders(fs(), allUsers + "\\Another");
  file(desktop_ + "\\.lnk");
  registry_.emptyKeys.insert({RegistryRoot::kLocalMachine, kUninstallKey.substr(0, kUninstallKey.size() - 1)});
  writeRecord("", "", "", "");
  run();
  EXPECT_TRUE(fs().isDirectory(programs_ + "\\Someone Else"));
  EXPECT_TRUE(fs().isDirectory(allUsers + "\\Another"));
  EXPECT_TRUE(fs().exists(desktop_ + "\\.lnk"));
  EXPECT_TRUE(registry_.deletedKeys.empty());
  EXPECT_TRUE(registry_.deletedValues.empty());
  EXPECT_EQ(view_.events, (std::vector<Text>{"S", "L " + kRemaining, "P 100"}));
}

TEST_F(RemovalTest, SystemFoldersAndDriveRootsAreNeverWalked) {
  makeFolders(fs(), root_ + "Program Files\\Empty Other");
  makeFolders(fs(), desktop_ + "\\Empty");
  for (const Text& installDir : {root_ + "Program Files", desktop_, Text("C:"), root_.substr(0, root_.size() - 1)}) {
    UninstallRecordContents record;
    record.installDir = installDir;
    record.productName = "P";
    removeInstalledProduct(platform_, links_, folders_, record, view_);
    EXPECT_TRUE(fs().isDirectory(root_ + "Program Files\\Empty Other")) << installDir;
    EXPECT_TRUE(fs().isDirectory(desktop_ + "\\Empty")) << installDir;
  }
  EXPECT_TRUE(isSystemFolder(folders_, root_ + "PROGRAM files\\"));
  EXPECT_TRUE(isSystemFolder(folders_, root_.substr(0, root_.size() - 1)));  // a parent of them
  EXPECT_FALSE(isSystemFolder(folders_, dir_));
  // Without a drive colon nothing is listed.
  UninstallRecordContents relative;
  relative.installDir = "relative";
  view_.events.clear();
  removeInstalledProduct(platform_, links_, folders_, relative, view_);
  EXPECT_EQ(view_.events, (std::vector<Text>{"S", "L " + kRemaining, "P 100"}));
}

TEST_F(RemovalTest, RecordListsAreSplitAsWritten) {
  writeRecord("P",
              kCount + "=3\r\n" + kShortcut + "1=C:\\a.lnk" + kComma + "C:\\b,c.lnk" + kComma + "\r\n" + kShortcut +
                  "3=C:\\d.lnk\r\n",
              Bytes("C:\\one\r\n\r\nC:\\two\r\n\0C:\\after-nul", 31), "\x01\x02\x03");
  const UninstallRecordContents record = readUninstallRecord(fs(), dir_);
  EXPECT_EQ(record.productName, "P");
  EXPECT_EQ(record.mainProgramName, "app.exe");
  EXPECT_EQ(record.shortcutFiles, (std::vector<Text>{"C:\\a.lnk", "C:\\b,c.lnk", "C:\\d.lnk"}));
  EXPECT_EQ(record.paths, (std::vector<Text>{"C:\\one", "", "C:\\two"}));
  // The empty-list placeholder is one entry that names no root: no line, no deletion.
  EXPECT_EQ(record.registryEntries, std::vector<Text>{"\x01\x02\x03"});
  removeInstalledProduct(platform_, links_, folders_, {dir_, "", "", {}, record.registryEntries, {}}, view_);
  EXPECT_TRUE(registry_.deletedKeys.empty() && registry_.deletedValues.empty());

  EXPECT_EQ(readUninstallRecord(fs(), root_ + "missing").paths.size(), 0u);
}

TEST(DeleteRegistryItemTest, ValueFirstThenKeyWithoutSubkeys) {
  FakeRegistry registry;
  const auto root = RegistryRoot::kCurrentUser;
  registry.strings[{root, "Software\\Acme", "Setting"}] = "1";
  registry.strings[{root, "Software\\Acme\\Setting", "x"}] = "2";
  EXPECT_TRUE(deleteRegistryItem(registry, root, "Software\\Acme\\Setting"));
  EXPECT_EQ(registry.deletedValues.size(), 1u);  // the value went, the key of that name stays
  EXPECT_EQ(registry.strings.size(), 1u);
  EXPECT_TRUE(deleteRegistryItem(registry, root, "Software\\Acme\\Setting"));  // now the key
  EXPECT_TRUE(registry.strings.empty());

  registry.strings[{root, "Software\\Acme\\Sub", "v"}] = "3";
  registry.emptyKeys.insert({root, "Software\\Acme"});
  EXPECT_FALSE(deleteRegistryItem(registry, root, "Software\\Acme"));  // has a subkey
  EXPECT_FALSE(deleteRegistryItem(registry, root, ""));
  // A GBK trail byte "\" does not split the value name.
  registry.strings[{root, "K", "\xB1\x5C"}] = "4";
  EXPECT_TRUE(deleteRegistryItem(registry, root, "K\\\xB1\x5C"));
}

}  // namespace
}  // namespace zul
