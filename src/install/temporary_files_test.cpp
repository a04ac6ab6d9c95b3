#include "install/temporary_files.h"

#include <gtest/gtest.h>

#include "platform/test_support/fake_platform.h"
#include "platform/test_support/scratch_folder.h"

namespace zul {
namespace {

class CleanupTest : public ::testing::Test {
 protected:
  CleanupTest() : platform_{scratch_.fs(), system_, registry_, ui_} {
    system_.path = scratch_.path() + "app\\setup.exe";
    fs().createDirectory(scratch_.path() + "app");
    writeWholeFile(fs(), system_.path, "MZ");
  }
  FileSystem& fs() { return scratch_.fs(); }
  Text makeTree(const Text& folder) {
    fs().createDirectory(folder);
    fs().createDirectory(folder + "\\sub");
    writeWholeFile(fs(), folder + "\\data.ini", "x");
    writeWholeFile(fs(), folder + "\\sub\\ro.txt", "y");
    fs().setAttributes(folder + "\\sub\\ro.txt", kAttributeReadOnly);
    return folder + "\\";
  }

  ScratchFolder scratch_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  Platform platform_;
};

TEST_F(CleanupTest, RemovesDataFolderButNeverTheProgramsOwn) {
  SetupState state;
  state.dataDir = makeTree(fs().tempFolder() + "1a2b.tmp");
  cleanupTemporaryFiles(platform_, state, false);
  EXPECT_FALSE(fs().exists(state.dataDir));

  state.dataDir = scratch_.path() + "APP\\";  // test mode: the own folder, any case
  cleanupTemporaryFiles(platform_, state, false);
  EXPECT_TRUE(fs().exists(system_.path));
}

TEST_F(CleanupTest, PayloadCopyGoesOnlyWhenAskedAndInTemporaryFolder) {
  SetupState state;
  state.payloadPath = fs().tempFolder() + "5.tmp.7zzul";
  writeWholeFile(fs(), state.payloadPath, "copy");
  cleanupTemporaryFiles(platform_, state, false);
  EXPECT_TRUE(fs().exists(state.payloadPath));
  cleanupTemporaryFiles(platform_, state, true);
  EXPECT_FALSE(fs().exists(state.payloadPath));

  state.payloadPath = system_.path;  // the setup file itself
  cleanupTemporaryFiles(platform_, state, true);
  EXPECT_TRUE(fs().exists(system_.path));
}

TEST_F(CleanupTest, RemoveTreeRefusesEmptyPathsAndDriveRoots) {
  for (const char* path : {"", "C:", "C:\\"}) EXPECT_FALSE(removeTree(fs(), path)) << path;
  const Text tree = makeTree(scratch_.path() + "tree");
  EXPECT_TRUE(removeTree(fs(), tree));
  EXPECT_FALSE(fs().exists(tree));
}

}  // namespace
}  // namespace zul
