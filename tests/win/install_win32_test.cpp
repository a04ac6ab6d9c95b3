// The install steps against the real system under Wine: programs started by
// the package's commands, registry values and scripts, and the version
// resource of a real executable.
#include <windows.h>

#include <gtest/gtest.h>

#include "install/program_runs.h"
#include "platform/test_support/scratch_folder.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_install_adapters.h"

namespace zul {
namespace {

// The recording program, copied into a folder whose name has a space and
// Chinese characters.
class RecordedRunTest : public ::testing::Test {
 protected:
  RecordedRunTest() {
    folder_ = scratch_.path() + "My \xB3\xCC\xD0\xF2";  // My 程序
    fs().createDirectory(folder_);
    program_ = folder_ + "\\rec.exe";
    EXPECT_TRUE(writeWholeFile(fs(), program_, readWholeFile(fs(), ZUL_RECORD_ARGS_EXE)));
  }
  FileSystem& fs() { return scratch_.fs(); }
  // The lines recorded so far, waiting up to `seconds` for `count` of them.
  std::vector<Text> lines(size_t count, int seconds = 20) {
    std::vector<Text> out;
    for (int i = 0;; ++i) {
      out = splitBytes(readWholeFile(fs(), folder_ + "\\args.txt"), "\r\n");
      if (!out.empty() && out.back().empty()) out.pop_back();
      if (out.size() >= count || i >= seconds * 20) break;
      Sleep(50);
    }
    return out;
  }

  ScratchFolder scratch_;
  Text folder_;
  Text program_;
  win32::Win32ProcessRunner runner_;
};

TEST_F(RecordedRunTest, QuotedFolderWithDriveGoesThroughTheShell) {
  const Text command = "\"" + folder_ + "\"\\rec.exe first \"two words\"";
  ASSERT_TRUE(runCommand(runner_, command, true, true)) << GetLastError();
  const std::vector<Text> got = lines(1, 0);  // waited for: the line is there at once
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].substr(0, 2), "0 ") << got[0];  // SW_HIDE
  EXPECT_NE(got[0].find("rec.exe"), Text::npos) << got[0];
  EXPECT_EQ(got[0].substr(got[0].size() - 18), " first \"two words\"") << got[0];
}

TEST_F(RecordedRunTest, CommandWithoutDriveIsStartedAsWritten) {
  // A relative program name is found in the current folder.
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(win32::toWide(folder_).c_str()));
  const Text command = "rec.exe  x \"y z\"";
  EXPECT_TRUE(runCommand(runner_, command, false, false));
  SetCurrentDirectoryW(previous);
  const std::vector<Text> got = lines(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "1 " + command);  // SW_SHOWNORMAL, the command line untouched
}

TEST_F(RecordedRunTest, MissingProgramFailsWithoutStartingAnything) {
  EXPECT_FALSE(runCommand(runner_, "no_such_program_here.exe a", false, true));
  EXPECT_FALSE(runCommand(runner_, "\"" + folder_ + "\"\\missing.exe", false, true));
  EXPECT_TRUE(lines(0, 0).empty());
}

}  // namespace
}  // namespace zul
