#include "install/program_runs.h"

#include <gtest/gtest.h>

#include "config/ini_file.h"
#include "config/memory_file_system.h"
#include "config/package_config.h"
#include "platform/test_support/fake_install_adapters.h"
#include "platform/test_support/fake_platform.h"

namespace zul {
namespace {

TEST(ParseCommandTest, SplitsAsTheStarterDoes) {
  struct Case {
    const char* command;
    bool shell;
    const char* file;        // shell only
    const char* parameters;  // shell only
  };
  const Case cases[] = {
      // The install folder quoted, a program and one argument.
      {"\"C:\\Program Files\\App\"\\setup.exe /s", true, "C:\\Program Files\\App\\setup.exe", "/s"},
      // No argument: no space after the closing quote, the whole command is the file.
      {"\"C:\\Program Files\\App\"\\app.exe", true, "C:\\Program Files\\App\\app.exe", ""},
      // A space in the name after the quoted folder splits there.
      {"\"C:\\My App\"\\my prog.exe -x", true, "C:\\My App\\my", "prog.exe -x"},
      // A drive letter without quotes: split at the first space.
      {"D:\\docs\\readme.txt", true, "D:\\docs\\readme.txt", ""},
      {"C:\\Program Files\\x.exe", true, "C:\\Program", "Files\\x.exe"},
      // No drive letter: a process with the whole command line.
      {"notepad.exe C:\\a.txt", false, "", ""},
      {"\"notepad.exe\" C:\\a.txt", false, "", ""},
      {"\\\\server\\share\\tool.exe", false, "", ""},
      // An unclosed quote: the first space separates.
      {"\"C:\\a b.exe", true, "C:\\a", "b.exe"},
      // A GBK folder name; its bytes are never separators.
      {"\"E:\\\xD6\xD0\xCE\xC4\"\\\xB3\xCC\xD0\xF2.exe \xB2\xCE\xCA\xFD", true, "E:\\\xD6\xD0\xCE\xC4\\\xB3\xCC\xD0\xF2.exe",
       "\xB2\xCE\xCA\xFD"},
  };
  for (const Case& c : cases) {
    const CommandLaunch launch = parseCommand(c.command);
    EXPECT_EQ(launch.throughShell, c.shell) << c.command;
    if (c.shell) {
      EXPECT_EQ(launch.file, c.file) << c.command;
      EXPECT_EQ(launch.parameters, c.parameters) << c.command;
    } else {
      EXPECT_EQ(launch.commandLine, c.command);
    }
  }
}

TEST(RunCommandTest, PassesShowStateAndWaitToTheStarter) {
  FakeProcessRunner runner;
  EXPECT_TRUE(runCommand(runner, "tool.exe -a", true, false));
  EXPECT_TRUE(runCommand(runner, "C:\\doc.txt", false, true));
  EXPECT_FALSE(runCommand(runner, "", false, false));
  ASSERT_EQ(runner.runs.size(), 2u);
  EXPECT_FALSE(runner.runs[0].shell);
  EXPECT_EQ(runner.runs[0].commandLine, "tool.exe -a");
  EXPECT_EQ(runner.runs[0].window, WindowState::kHidden);
  EXPECT_FALSE(runner.runs[0].waitForExit);
  EXPECT_TRUE(runner.runs[1].shell);
  EXPECT_EQ(runner.runs[1].window, WindowState::kNormal);
  EXPECT_TRUE(runner.runs[1].waitForExit);

  runner.fail = true;
  EXPECT_FALSE(runCommand(runner, "tool.exe", false, false));
}

class RunAfterInstallTest : public ::testing::Test {
 protected:
  RunAfterInstallTest() : platform_{fs_, system_, registry_, ui_} {}

  static void add(RunList& list, const Text& external, const Text& file, bool hide, bool wait) {
    list.external.push_back(external);
    list.file.push_back(file);
    list.hideWindow.push_back(hide);
    list.waitForExit.push_back(wait);
  }
  void run() {
    runAfterInstall(platform_, runner_, state_, kDir, [this](const Text& line) { reports_.push_back(line); });
  }
  Text record() { return kDir + "\\uninst.ini"; }
  Text recorded(const Text& key) {
    return readProfileString(fs_, record(), Text(keys::kRunAtUninstallSection), key);
  }

  const Text kDir = "C:\\Program Files\\App";
  MemoryFileSystem fs_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  Platform platform_;
  FakeProcessRunner runner_;
  SetupState state_;
  std::vector<Text> reports_;
};

TEST_F(RunAfterInstallTest, RunsEachEntryInOrderAfterReportingIt) {
  add(state_.runAfterExtract, "", "setup.exe /q", true, true);                           // inside the install folder
  add(state_.runAfterExtract, Text(kTrue), "regsvr32 %InstallPath%\\x.dll", false, false);  // as written
  add(state_.runAfterExtract, Text(kTrue), "C:\\%installpath%.txt", false, false);      // lower case stays
  add(state_.runAfterExtract, "1", "readme.txt", false, false);                          // only "真" is external
  runner_.fail = true;  // a failed start does not stop the list
  run();

  ASSERT_EQ(reports_.size(), 4u);
  EXPECT_EQ(reports_[0], Text(kRunProgramPrefix) + "setup.exe /q");
  ASSERT_EQ(runner_.runs.size(), 4u);
  EXPECT_TRUE(runner_.runs[0].shell);
  EXPECT_EQ(runner_.runs[0].file, kDir + "\\setup.exe");
  EXPECT_EQ(runner_.runs[0].parameters, "/q");
  EXPECT_EQ(runner_.runs[0].window, WindowState::kHidden);
  EXPECT_TRUE(runner_.runs[0].waitForExit);
  EXPECT_FALSE(runner_.runs[1].shell);
  EXPECT_EQ(runner_.runs[1].commandLine, "regsvr32 " + kDir + "\\x.dll");
  EXPECT_EQ(runner_.runs[2].file, "C:\\%installpath%.txt");
  EXPECT_EQ(runner_.runs[3].file, kDir + "\\readme.txt");
}

TEST_F(RunAfterInstallTest, RecordsUninstallCommandsOnlyWhenTheRecordExists) {
  add(state_.runAtUninstall, Text(kTrue), "C:\\tools\\clean.exe", true, false);
  add(state_.runAtUninstall, "", "stop.exe", false, true);
  run();
  EXPECT_FALSE(fs_.exists(record()));
  EXPECT_TRUE(reports_.empty());
  EXPECT_TRUE(runner_.runs.empty());

  const Bytes block = "\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6\x01" "C:\\a\r\n\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6" "end";
  fs_.files[record()] = "[x]\r\na=1\r\n" + block;
  run();
  EXPECT_EQ(recorded(Text(keys::kCountKey)), "2");
  EXPECT_EQ(recorded(Text(keys::kRunExternal) + "1"), Text(kTrue));
  EXPECT_EQ(recorded(Text(keys::kRunFile) + "1"), "C:\\tools\\clean.exe");
  EXPECT_EQ(recorded(Text(keys::kRunHideWindow) + "1"), Text(kTrue));
  EXPECT_EQ(recorded(Text(keys::kRunWaitForExit) + "1"), "\xBC\xD9");  // 假
  EXPECT_EQ(recorded(Text(keys::kRunExternal) + "2"), "");
  EXPECT_EQ(recorded(Text(keys::kRunFile) + "2"), "stop.exe");
  EXPECT_EQ(recorded(Text(keys::kRunWaitForExit) + "2"), Text(kTrue));
  // The earlier contents, the data block included, stay in front.
  EXPECT_EQ(fs_.files[record()].compare(0, 10 + block.size(), "[x]\r\na=1\r\n" + block), 0);
}

}  // namespace
}  // namespace zul
