// The Win32 special-folder adapter and the variable expansion on real files,
// under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include "config/variables.h"
#include "platform/special_folders.h"
#include "platform/test_support/scratch_folder.h"

namespace zul {
namespace {

const Text kProgramFolder = "C:\\\xB3\xCC\xD0\xF2 (x86)";  // C:\程序 (x86)

TEST(SpecialFoldersWin32Test, TextsComeBackAsGbk) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"ZUL_TEST_FOLDER", L"C:\\\x7A0B\x5E8F (x86)"));
  auto folders = makeSpecialFolders();
  EXPECT_EQ(folders->environment("zul_test_folder"), kProgramFolder);
  EXPECT_EQ(folders->environment("ZUL_TEST_UNSET"), "");

  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  EXPECT_EQ(specialFolder(*folders, 10), folders->systemFolder() + "\\");
  EXPECT_EQ(folders->systemFolder().size(), wcslen(system));
  for (int n = 1; n <= 11; ++n) {
    const Text folder = specialFolder(*folders, n);
    EXPECT_FALSE(folder.empty()) << n;
    EXPECT_EQ(folder.back(), '\\') << n;
  }
  EXPECT_GE(systemVersion(*folders), 5.0);
}

TEST(SpecialFoldersWin32Test, ExpansionOnRealFiles) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"ProgramFiles", L"C:\\\x7A0B\x5E8F (x86)"));
  ScratchFolder scratch;
  auto folders = makeSpecialFolders();
  SetupState state;
  state.dataDir = scratch.path();
  const Text valueKey = "\xCA\xFD\xBE\xDD";  // 数据
  ASSERT_TRUE(writeWholeFile(scratch.fs(), scratch.path() + "variable.ini",
                             "[%WindowsDir%]\r\n" + valueKey + "=\r\n[%ProgramFiles%]\r\n" + valueKey + "=\r\n"));
  ASSERT_TRUE(writeWholeFile(scratch.fs(), scratch.path() + "GUItext.ini", "a=%WindowsDir%|%ProgramFiles%"));
  EXPECT_TRUE(expandVariables(scratch.fs(), *folders, state));
  EXPECT_EQ(readWholeFile(scratch.fs(), scratch.path() + "GUItext.ini"),
            "a=" + normalisePath(folders->systemFolder()) + "|C:\\\xB3\xCC\xD0\xF2");
  EXPECT_TRUE(scratch.fs().exists(scratch.path() + "data.ini"));
  EXPECT_FALSE(scratch.fs().exists(scratch.path() + "data.ini.zul-new"));
}

}  // namespace
}  // namespace zul
