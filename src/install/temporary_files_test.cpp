#include "install/temporary_files.h"

#include <gtest/gtest.h>

#include "config/memory_file_system.h"
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

// The data folder lies in the user's temporary folder, open to every
// program of the user: a junction planted there must not lead the removal
// to files elsewhere.
TEST(RemoveTree, RemovesPlantedLinksWithoutWalkingThem) {
  PlantedFileSystem fs;
  const Text data = "T:\\Temp\\1a2b.tmp";
  fs.folders = {data, data + "\\sub", data + "\\junction"};
  fs.files = {{data + "\\data.ini", "x"}, {data + "\\sub\\a.txt", "y"}, {data + "\\junction\\precious.doc", "theirs"}};
  fs.links = {data + "\\junction"};
  EXPECT_TRUE(removeTree(fs, data));
  EXPECT_TRUE(fs.files.empty());
  EXPECT_TRUE(fs.folders.empty());
  EXPECT_EQ(fs.outside, (std::map<Text, Bytes>{{data + "\\junction\\precious.doc", "theirs"}}));
}

}  // namespace
}  // namespace zul
