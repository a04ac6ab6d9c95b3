// The removal against real files and the real registry under Wine: recorded
// files with read-only attributes, folder trees left empty or still holding
// kept files, and registry values and keys read back with the Reg functions.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "install/shortcuts.h"
#include "platform/test_support/fake_platform.h"
#include "platform/test_support/scratch_folder.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_shell_links.h"
#include "uninstall/removal.h"

namespace zul {
namespace {

using win32::toWide;

const Text kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class NullView : public RemovalView {
 public:
  void reportAction(const Text& line) override { lines.push_back(line); }
  void appendLog(const Text&) override {}
  void showStatus() override {}
  void setProgress(int) override {}
  std::vector<Text> lines;
};

bool keyExists(HKEY root, const Text& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, toWide(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

bool valueExists(HKEY root, const Text& key, const Text& value) {
  return RegGetValueW(root, toWide(key).c_str(), toWide(value).c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

void setString(HKEY root, const Text& key, const Text& value) {
  ASSERT_EQ(RegSetKeyValueW(root, toWide(key).c_str(), toWide(value).c_str(), REG_SZ, L"x", 4), ERROR_SUCCESS);
}

class RemovalWin32Test : public ::testing::Test {
 protected:
  RemovalWin32Test() : platform_{scratch_.fs(), system_, registry_, ui_} {
    root_ = scratch_.path();
    folders_.shell[16] = root_ + "Desktop\\";
    folders_.shell[2] = root_ + "Programs\\";
    folders_.variables["userprofile"] = root_ + "Profile";
    product_ = "zul_removal_" + std::to_string(GetCurrentProcessId()) + "_\xB2\xE2\xCA\xD4";  // 测试
    testKey_ = "Software\\" + product_;
    dir_ = root_ + "App \xB0\xB2\xD7\xB0";  // 安装
    makeFolders(fs(), root_ + "Desktop");
    makeFolders(fs(), dir_);
  }
  ~RemovalWin32Test() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, toWide(testKey_).c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, toWide(kUninstallKey + product_).c_str());
  }
  FileSystem& fs() { return scratch_.fs(); }
  void file(const Text& path, bool readOnly = false) {
    makeFolders(fs(), folderOf(path));
    ASSERT_TRUE(writeWholeFile(fs(), path, "x")) << path;
    if (readOnly) {
      ASSERT_TRUE(SetFileAttributesW(toWide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    }
  }

  ScratchFolder scratch_;
  FakeSystem system_;
  win32::Win32Registry registry_;
  FakeUi ui_;
  Platform platform_;
  win32::Win32ShellLinks links_;
  FixedSpecialFolders folders_;
  NullView view_;
  Text root_, product_, testKey_, dir_;
};

TEST_F(RemovalWin32Test, RecordedFilesGoEmptyFoldersGoKeptFilesStay) {
  file(dir_ + "\\app.exe", true);                  // read-only, recorded
  file(dir_ + "\\a\\b\\c\\data.bin");              // recorded
  file(dir_ + "\\keep\\deep\\settings.ini");       // kept: not recorded
  file(root_ + "Desktop\\" + product_ + ".lnk", true);  // read-only standard link: not forced
  file(root_ + "Desktop\\Run.lnk", true);          // recorded shortcut: forced
  UninstallRecordContents record;
  record.installDir = dir_;
  record.productName = product_;
  record.mainProgramName = "app.exe";
  record.paths = {dir_ + "\\app.exe", dir_ + "\\a\\b\\c\\data.bin"};
  record.shortcutFiles = {root_ + "Desktop\\Run.lnk"};
  removeInstalledProduct(platform_, links_, folders_, record, view_);

  EXPECT_FALSE(fs().exists(dir_ + "\\app.exe"));
  EXPECT_FALSE(fs().exists(dir_ + "\\a"));
  EXPECT_FALSE(fs().exists(root_ + "Desktop\\Run.lnk"));
  EXPECT_TRUE(fs().exists(root_ + "Desktop\\" + product_ + ".lnk"));
  EXPECT_TRUE(fs().exists(dir_ + "\\keep\\deep\\settings.ini"));
  const Text folderLine = "\xC9\xBE\xB3\xFD\xC4\xBF\xC2\xBC: ";  // 删除目录: 
  const std::vector<Text> tail(view_.lines.end() - 3, view_.lines.end());
  EXPECT_EQ(tail, (std::vector<Text>{folderLine + dir_ + "\\a\\b\\c", folderLine + dir_ + "\\a\\b", folderLine + dir_ + "\\a"}));

  // Once the kept file is gone too, the next removal takes the rest.
  SetFileAttributesW(toWide(root_ + "Desktop\\" + product_ + ".lnk").c_str(), FILE_ATTRIBUTE_NORMAL);
  fs().removeFile(dir_ + "\\keep\\deep\\settings.ini");
  removeInstalledProduct(platform_, links_, folders_, record, view_);
  EXPECT_FALSE(fs().exists(dir_));
  EXPECT_FALSE(fs().exists(root_ + "Desktop\\" + product_ + ".lnk"));
}

TEST_F(RemovalWin32Test, LinkedFolderIsNotWalkedInto) {
  const Text outside = root_ + "Outside";
  makeFolders(fs(), outside + "\\empty");
  if (!CreateSymbolicLinkW(toWide(dir_ + "\\link").c_str(), toWide(outside).c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    GTEST_SKIP() << "no directory links here: " << GetLastError();
  }
  UninstallRecordContents record;
  record.installDir = dir_;
  record.productName = product_;
  removeInstalledProduct(platform_, links_, folders_, record, view_);
  EXPECT_TRUE(fs().isDirectory(outside + "\\empty"));
}

TEST_F(RemovalWin32Test, RegistryValuesKeysAndTheRegistration) {
  setString(HKEY_LOCAL_MACHINE, kUninstallKey + product_, "UninstallString");
  setString(HKEY_CURRENT_USER, testKey_ + "\\Acme", "Setting");
  setString(HKEY_CURRENT_USER, testKey_ + "\\Acme\\Leaf", "v");
  setString(HKEY_CURRENT_USER, testKey_ + "\\Tree\\Sub", "v");
  UninstallRecordContents record;
  record.installDir = dir_;
  record.productName = product_;
  record.registryEntries = {
      "HKEY_CURRENT_USER\\" + testKey_ + "\\Acme\\Setting",  // a value
      "HKEY_CURRENT_USER\\" + testKey_ + "\\Acme\\Leaf",     // a key without subkeys
      "HKEY_CURRENT_USER\\" + testKey_ + "\\Tree",           // a key with a subkey: stays
      "hkey_current_user\\" + testKey_ + "\\Tree\\Sub",     // not a root name: skipped
  };
  removeInstalledProduct(platform_, links_, folders_, record, view_);

  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey + product_));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, testKey_ + "\\Acme"));
  EXPECT_FALSE(valueExists(HKEY_CURRENT_USER, testKey_ + "\\Acme", "Setting"));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, testKey_ + "\\Acme\\Leaf"));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, testKey_ + "\\Tree\\Sub"));

  EXPECT_FALSE(registry_.deleteKey(RegistryRoot::kCurrentUser, ""));
  EXPECT_FALSE(registry_.deleteValue(RegistryRoot::kCurrentUser, testKey_ + "\\Missing", "v"));
}

// A folder listing in GBK must not name an entry by a look-alike: the
// system's nearest form of "x" + U+00B2 (superscript two) is "x2", of a Thai
// letter "?". Such entries are left out and stay; the others go.
TEST(FolderListingWin32Test, NamesWithoutAGbkFormAreLeftOutNotTakenForLookAlikes) {
  ScratchFolder scratch;
  const Text tree = scratch.path() + "tree";
  const std::wstring wideTree = toWide(tree) + L"\\";
  ASSERT_TRUE(scratch.fs().createDirectory(tree));
  const auto make = [&](const std::wstring& name) {
    const win32::UniqueFile file(CreateFileW((wideTree + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << GetLastError();
  };
  const auto exists = [&](const std::wstring& name) {
    return GetFileAttributesW((wideTree + name).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  make(L"x\u00B2.txt");
  make(L"x2.txt");
  make(L"\u0E01.txt");
  make(L"caf\u00E9.txt");  // GBK holds this one
  ASSERT_TRUE(CreateDirectoryW((wideTree + L"d\u00B2").c_str(), nullptr));
  make(L"d\u00B2\\inner.txt");

  std::vector<Text> names;
  for (const DirEntry& entry : scratch.fs().list(tree)) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<Text>{"caf\xA8\xA6.txt", "x2.txt"}));

  EXPECT_FALSE(removeTree(scratch.fs(), tree));
  EXPECT_FALSE(exists(L"x2.txt"));
  EXPECT_FALSE(exists(L"caf\u00E9.txt"));
  EXPECT_TRUE(exists(L"x\u00B2.txt"));
  EXPECT_TRUE(exists(L"\u0E01.txt"));
  EXPECT_TRUE(exists(L"d\u00B2\\inner.txt"));

  for (const wchar_t* name : {L"x\u00B2.txt", L"\u0E01.txt", L"d\u00B2\\inner.txt"}) DeleteFileW((wideTree + name).c_str());
  RemoveDirectoryW((wideTree + L"d\u00B2").c_str());
}

}  // namespace
}  // namespace zul
