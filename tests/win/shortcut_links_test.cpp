// Shortcuts written through the shell's automation objects under Wine, read
// back with IShellLinkW and IPersistFile, which share no code with the
// writer's late-bound calls.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "install/shortcuts.h"
#include "platform/test_support/fake_platform.h"
#include "platform/test_support/scratch_folder.h"
#include "platform/win32/com.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_shell_links.h"

namespace zul {
namespace {

using win32::ComPtr;
using win32::toWide;

const Text kComma = "\xA3\xAC";  // ，

struct LinkContents {
  bool loaded = false;
  std::wstring path, arguments, workingFolder, iconFile, description;
  int iconIndex = -1;
  int showCommand = -1;
};

LinkContents readLink(const Text& linkPath) {
  LinkContents out;
  win32::ComApartment com;
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid()))) {
    return out;
  }
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.putVoid()))) return out;
  if (FAILED(file->Load(toWide(linkPath).c_str(), STGM_READ))) return out;
  out.loaded = true;
  wchar_t buffer[1024];
  const auto text = [&](HRESULT hr) { return SUCCEEDED(hr) ? std::wstring(buffer) : std::wstring(L"<failed>"); };
  buffer[0] = 0;
  out.path = text(link->GetPath(buffer, 1024, nullptr, SLGP_RAWPATH));
  buffer[0] = 0;
  out.arguments = text(link->GetArguments(buffer, 1024));
  buffer[0] = 0;
  out.workingFolder = text(link->GetWorkingDirectory(buffer, 1024));
  buffer[0] = 0;
  out.iconFile = text(link->GetIconLocation(buffer, 1024, &out.iconIndex));
  buffer[0] = 0;
  out.description = text(link->GetDescription(buffer, 1024));
  link->GetShowCmd(&out.showCommand);
  return out;
}

class ShortcutLinksTest : public ::testing::Test {
 protected:
  ShortcutLinksTest() : platform_{scratch_.fs(), system_, registry_, ui_} {
    root_ = scratch_.path();
    folders_.shell[16] = root_ + "Desktop\\";                      // CSIDL_DESKTOPDIRECTORY
    folders_.shell[2] = root_ + "\xB3\xCC\xD0\xF2\\";             // CSIDL_PROGRAMS: 程序
    folders_.variables["userprofile"] = root_ + "Profile";
    makeFolders(fs(), root_ + "Desktop");
    state_.installDir = root_ + "My App \xB0\xB2\xD7\xB0";         // 安装
    state_.productName = "\xB2\xE2\xCA\xD4";                       // 测试
    state_.mainProgramName = "app.exe";
    makeFolders(fs(), state_.installDir + "\\bin");
    writeWholeFile(fs(), state_.installDir + "\\bin\\app.exe", "MZ");
  }
  FileSystem& fs() { return scratch_.fs(); }

  ScratchFolder scratch_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  Platform platform_;
  FixedSpecialFolders folders_;
  SetupState state_;
  win32::Win32ShellLinks links_;
  Text root_;
};

TEST_F(ShortcutLinksTest, InstalledLinksReadBackWithEveryField) {
  const Text group = root_ + "\xB3\xCC\xD0\xF2\\" + state_.productName;
  state_.makeUninstaller = 1;
  state_.shortcutList = {
      {"\xC6\xF4\xB6\xAF", "bin\\app.exe", "-x \"a b\"", root_ + "Desktop\\" + kComma + group, true, "bin\\app.exe",
       "\xC3\xE8\xCA\xF6"},  // 启动, 描述
      {"Remove", "%Uninst.exe%", "", group, true, "", "bye"},
  };
  std::vector<Text> lines;
  createShortcuts(platform_, links_, folders_, state_, {true, true, true}, [&](const Text& l) { lines.push_back(l); });
  EXPECT_EQ(lines.size(), 2u);

  for (const Text& link : {root_ + "Desktop\\\xC6\xF4\xB6\xAF.lnk", group + "\\\xC6\xF4\xB6\xAF.lnk"}) {
    const LinkContents got = readLink(link);
    ASSERT_TRUE(got.loaded) << link;
    EXPECT_EQ(got.path, toWide(state_.installDir + "\\bin\\app.exe"));
    EXPECT_EQ(got.arguments, L"-x \"a b\"");
    EXPECT_EQ(got.workingFolder, toWide(state_.installDir + "\\bin\\"));
    EXPECT_EQ(got.iconFile, toWide(state_.installDir + "\\bin\\app.exe"));
    EXPECT_EQ(got.iconIndex, 0);
    EXPECT_EQ(got.description, L"\u63CF\u8FF0");
    // Style 0 is not a state a link keeps; it reads back as 0 or as the
    // normal window (Wine).
    EXPECT_TRUE(got.showCommand == SW_HIDE || got.showCommand == SW_SHOWNORMAL) << got.showCommand;
  }
  // The uninstaller's link exists before the uninstaller does.
  const LinkContents remove = readLink(group + "\\Remove.lnk");
  ASSERT_TRUE(remove.loaded);
  EXPECT_EQ(remove.path, toWide(state_.installDir + "\\uninst.exe"));
  EXPECT_EQ(remove.iconFile, toWide(state_.installDir + "\\uninst.exe"));
  EXPECT_EQ(remove.description, L"bye");
}

TEST_F(ShortcutLinksTest, ExistingLinkIsReplacedAndAnUntickedGroupLeavesNothing) {
  const Text at = root_ + "Desktop\\Run.lnk";
  writeWholeFile(fs(), at, "not a link");
  Text path = root_ + "Desktop\\Run";
  ASSERT_TRUE(createShellLink(fs(), links_, path, state_.installDir + "\\bin\\app.exe", "", "", false, ""));
  const LinkContents got = readLink(at);
  ASSERT_TRUE(got.loaded);
  EXPECT_EQ(got.iconFile, toWide(state_.installDir + "\\bin\\app.exe"));
  EXPECT_EQ(got.iconIndex, 0);

  state_.shortcutList = {{"Run", "bin\\app.exe", "", root_ + "\xB3\xCC\xD0\xF2\\" + state_.productName, true, "", ""}};
  createShortcuts(platform_, links_, folders_, state_, {true, false, true}, [](const Text&) {});
  EXPECT_FALSE(fs().exists(root_ + "\xB3\xCC\xD0\xF2\\" + state_.productName));
}

TEST_F(ShortcutLinksTest, VerbSearchOnARealItemInvokesOnlyMatchingCaptions) {
  // Wine has no pin caption: pinning and unpinning do nothing and return.
  links_.pinToTaskbar(state_.installDir + "\\bin", "app.exe", true);
  links_.pinToTaskbar(state_.installDir + "\\bin", "app.exe", false);
  EXPECT_EQ(win32::invokeVerbsNamed(state_.installDir + "\\bin", "app.exe", L"zul: no such verb"), 0);
  EXPECT_EQ(win32::invokeVerbsNamed(state_.installDir + "\\bin", "app.exe", L""), 0);
  EXPECT_EQ(win32::invokeVerbsNamed(root_ + "missing", "app.exe", L"x"), 0);
  EXPECT_TRUE(fs().exists(state_.installDir + "\\bin\\app.exe"));
}

}  // namespace
}  // namespace zul
