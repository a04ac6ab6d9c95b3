#include "install/install_engine.h"

#include <gtest/gtest.h>

#include "platform/test_support/fake_platform.h"
#include "platform/test_support/scratch_folder.h"
#include "startup/setup_package.h"

namespace zul {
namespace {

using Notification = std::pair<Text, int>;

class InstallEngineTest : public ::testing::Test {
 protected:
  InstallEngineTest() : platform_{scratch_.fs(), system_, registry_, ui_} {
    system_.path = scratch_.path() + "setup.exe";
    state_.installDir = "C:\\App";
    state_.payloadPath = system_.path;
    state_.makeUninstaller = 1;
    state_.finishOptions = {{"Run", "%x%\\a.exe", true}};
  }

  // Runs the sequence with an extractor that sends `notifications` and
  // returns `succeeds`; records the order of the steps.
  InstallOutcome install(std::vector<Notification> notifications, bool succeeds = true) {
    InstallSteps steps;
    steps.createShortcuts = [this] { steps_.push_back("shortcuts"); };
    steps.generateUninstaller = [this] { steps_.push_back("uninstaller"); };
    steps.writeRegistryEntries = [this] { steps_.push_back("registry"); };
    steps.runAfterInstall = [this] { steps_.push_back("runs"); };
    engine_ = std::make_unique<InstallEngine>(
        platform_, state_, view_,
        [=, this](const Text& archive, const Text& to, const Text& password, const auto& progress) {
          steps_.push_back("extract " + archive + " " + to + " " + password);
          for (const auto& [name, percent] : notifications) progress(name, percent);
          return succeeds;
        },
        steps);
    return engine_->runInstall("pw");
  }

  ScratchFolder scratch_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  Platform platform_;
  SetupState state_;
  HeadlessInstallView view_;
  std::unique_ptr<InstallEngine> engine_;
  std::vector<std::string> steps_;
};

TEST_F(InstallEngineTest, StepsRunInOrderAndEndOnFinishPage) {
  EXPECT_EQ(install({}), InstallOutcome::kInstalled);
  EXPECT_EQ(steps_, (std::vector<std::string>{"extract " + system_.path + " C:\\App pw", "shortcuts", "uninstaller",
                                              "registry", "runs"}));
  EXPECT_EQ(view_.page, InstallView::kFinishPage);
  ASSERT_EQ(view_.finishOptions.size(), 1u);
  EXPECT_EQ(view_.finishOptions[0].caption, "Run");
}

TEST_F(InstallEngineTest, UninstallerOnlyWhenAskedForWithOne) {
  for (int32_t value : {0, 2, -1}) {
    state_.makeUninstaller = value;
    steps_.clear();
    install({});
    EXPECT_EQ(std::count(steps_.begin(), steps_.end(), "uninstaller"), 0) << value;
    EXPECT_EQ(steps_.back(), "runs");
  }
}

TEST_F(InstallEngineTest, EveryFileIsLoggedAndListedOnce) {
  install({{"C:\\App\\a.exe", 0},
           {"C:\\App\\a.exe", 40},
           {"C:\\App\\sub\\b.txt", 60},
           {"D:\\elsewhere\\c.dll", 80},
           {"C:\\App\\sub\\b.txt", 90},
           {"", 100}});
  EXPECT_EQ(engine_->extractedNames(),
            (std::vector<Text>{"C:\\App\\a.exe", "C:\\App\\sub\\b.txt", "D:\\elsewhere\\c.dll", "C:\\App\\sub\\b.txt"}));
  EXPECT_EQ(engine_->installedFileList(),
            "C:\\App\\a.exe\r\nC:\\App\\sub\\b.txt\r\nD:\\elsewhere\\c.dll\r\nC:\\App\\sub\\b.txt\r\n");
  const Text p(kExtractingPrefix);
  EXPECT_EQ(view_.log, (std::vector<Text>{p + "a.exe", p + "sub\\b.txt", p + "D:\\elsewhere\\c.dll", p + "sub\\b.txt"}));
  EXPECT_EQ(view_.progress(), 100);
}

TEST_F(InstallEngineTest, ProgressStopsChangingAtHundred) {
  install({{"C:\\App\\a", 100}, {"C:\\App\\b", 30}});
  EXPECT_EQ(view_.progress(), 100);
}

TEST_F(InstallEngineTest, FailedExtractionRegistersNothing) {
  EXPECT_EQ(install({{"C:\\App\\a.exe", 10}}, false), InstallOutcome::kExtractionFailed);
  EXPECT_EQ(steps_.size(), 1u);  // the extraction only
  ASSERT_FALSE(view_.log.empty());
  EXPECT_EQ(view_.log.back(), Text(kExtractionFailedText));
  EXPECT_EQ(view_.status, Text(kExtractionFailedText));
  EXPECT_NE(view_.page, InstallView::kFinishPage);
}

TEST_F(InstallEngineTest, PayloadCopyIsRepairedThenDeleted) {
  // A temporary copy: the 19-byte opening pattern, then the archive with its
  // signature's second byte changed.
  state_.payloadPath = scratch_.fs().tempFolder() + "1f.tmp.7zzul";
  const Bytes archive = Bytes(kSevenZipSignature).replace(1, 1, "Z") + "rest";
  ASSERT_TRUE(writeWholeFile(scratch_.fs(), state_.payloadPath, Bytes(kPayloadOpen) + '\x01' + archive));
  Bytes seen;
  InstallEngine engine(platform_, state_, view_,
                       [&](const Text& path, const Text&, const Text&, const auto&) {
                         seen = readWholeFile(scratch_.fs(), path);
                         return true;
                       },
                       {});
  engine.runInstall("");
  EXPECT_EQ(seen.substr(19, 8), kSevenZipSignature);
  EXPECT_FALSE(scratch_.fs().exists(state_.payloadPath));
}

}  // namespace
}  // namespace zul
