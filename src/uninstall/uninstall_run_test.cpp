#include "uninstall/uninstall_run.h"

#include <gtest/gtest.h>

#include "config/ini_file.h"
#include "install/registry_entries.h"
#include "platform/test_support/fake_install_adapters.h"
#include "platform/test_support/fake_platform.h"
#include "platform/test_support/scratch_folder.h"

namespace zul {
namespace {

const Text kSection = "\xD0\xB6\xD4\xD8\xCA\xB1\xD4\xCB\xD0\xD0\xC3\xFC\xC1\xEE";  // 卸载时运行命令
const Text kTrue = "\xD5\xE6";                                                  // 真

class UninstallRunTest : public ::testing::Test {
 protected:
  UninstallRunTest() : platform_{scratch_.fs(), system_, registry_, ui_}, services_{platform_, processes_, {}, {}, {}} {
    dir_ = scratch_.path() + "App";
    fs().createDirectory(dir_);
    services_.remove = [this](const UninstallRecordContents& record) {
      removed_ = record;
      calls_.push_back("remove " + record.installDir);
    };
    services_.notifyPlugins = [this](const Text& event) {
      calls_.push_back(event == kUninstallStarting ? "event 1" : event == kUninstallFinished ? "event 2" : "?");
      return answers_;
    };
  }
  FileSystem& fs() { return scratch_.fs(); }
  void recordFiles(const Text& list) {
    ASSERT_TRUE(setBlock(fs(), dir_ + "\\uninst.ini", "\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6", list));  // 卸载路径
  }
  void command(int i, const Text& external, const Text& file, bool hide, bool wait) {
    const Text ini = dir_ + "\\uninst.ini", n = std::to_string(i);
    ASSERT_TRUE(writeProfileString(fs(), ini, kSection, "\xD3\xFB\xD4\xCB\xD0\xD0\xB5\xC4\xB4\xCE\xCA\xFD", n));  // 欲运行的次数
    if (!external.empty()) {
      ASSERT_TRUE(writeProfileString(fs(), ini, kSection, "\xCA\xC7\xB7\xF1\xCD\xE2\xB2\xBF\xD4\xCB\xD0\xD0" + n, external));
    }
    ASSERT_TRUE(writeProfileString(fs(), ini, kSection, "\xB2\xCE\xCA\xFD\xD4\xCB\xD0\xD0\xCE\xC4\xBC\xFE\xC3\xFB" + n, file));
    ASSERT_TRUE(writeProfileString(fs(), ini, kSection, "\xCA\xC7\xB7\xF1\xD2\xFE\xB2\xD8\xB4\xB0\xBF\xDA" + n, hide ? kTrue : "x"));
    ASSERT_TRUE(writeProfileString(fs(), ini, kSection, "\xCA\xC7\xB7\xF1\xB5\xC8\xB4\xFD\xB7\xB5\xBB\xD8" + n, wait ? kTrue : ""));
  }

  ScratchFolder scratch_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  FakeProcessRunner processes_;
  Platform platform_;
  UninstallServices services_;
  Text dir_;
  UninstallRecordContents removed_;
  std::vector<std::string> calls_;
  std::vector<int> answers_;
};

TEST_F(UninstallRunTest, KeepListDropsFoldersBySubstringAndFilesByEquality) {
  fs().createDirectory(dir_ + "\\data");
  const std::vector<Text> paths = {dir_ + "\\DATA\\a.txt", dir_ + "\\database.txt", dir_ + "\\keep.cfg",
                                   dir_ + "\\Keep.cfg", dir_ + "\\app.exe"};
  EXPECT_EQ(filterKeepList(fs(), paths, {"data", "keep.cfg"}, dir_),
            (std::vector<Text>{dir_ + "\\Keep.cfg", dir_ + "\\app.exe"}));
  EXPECT_EQ(filterKeepList(fs(), paths, {}, dir_), paths);
}

TEST_F(UninstallRunTest, RunReadsRecordRunsCommandsThenRemoves) {
  recordFiles(dir_ + "\\a.exe\r\n" + dir_ + "\\uninst.ini\r\n" + dir_ + "\\uninst.exe");
  command(1, kTrue, "%InstallPath%\\x.exe /quiet", true, true);
  command(2, "", "y.exe", false, false);
  std::vector<Text> keep = {"a.exe"};
  services_.keepList = &keep;
  EXPECT_EQ(runUninstall(services_, dir_), UninstallOutcome::kRemoved);
  EXPECT_EQ(calls_, (std::vector<std::string>{"event 1", "remove " + dir_, "event 2"}));
  EXPECT_EQ(removed_.paths, (std::vector<Text>{dir_ + "\\uninst.ini", dir_ + "\\uninst.exe"}));
  // Both name a program with a drive letter, so the shell opens them.
  ASSERT_EQ(processes_.runs.size(), 2u);
  EXPECT_EQ(processes_.runs[0].file, dir_ + "\\x.exe");
  EXPECT_EQ(processes_.runs[0].parameters, "/quiet");
  EXPECT_EQ(processes_.runs[0].window, WindowState::kHidden);
  EXPECT_TRUE(processes_.runs[0].waitForExit);
  EXPECT_EQ(processes_.runs[1].file, dir_ + "\\y.exe");
  EXPECT_EQ(processes_.runs[1].window, WindowState::kNormal);
}

TEST_F(UninstallRunTest, VetoTouchesNothing) {
  recordFiles(dir_ + "\\a.exe");
  command(1, kTrue, "x.exe", false, false);
  answers_ = {-1, 1, 0};
  EXPECT_EQ(runUninstall(services_, dir_), UninstallOutcome::kVetoed);
  EXPECT_EQ(calls_, (std::vector<std::string>{"event 1"}));
  EXPECT_TRUE(processes_.runs.empty());
}

TEST_F(UninstallRunTest, MissingRecordStillRemoves) {
  EXPECT_EQ(runUninstall(services_, dir_ + "\\gone"), UninstallOutcome::kRemoved);
  EXPECT_TRUE(removed_.paths.empty());
  EXPECT_TRUE(processes_.runs.empty());
  EXPECT_EQ(calls_.back(), "event 2");
}

}  // namespace
}  // namespace zul
