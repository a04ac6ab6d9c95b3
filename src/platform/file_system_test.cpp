#include "platform/file_system.h"

#include <gtest/gtest.h>

#include "config/memory_file_system.h"

namespace zul {
namespace {

// The folder to remove lies in the user's temporary folder, open to every
// program of the user: it may itself have been replaced by a junction to
// someone's documents between its creation and its removal.
TEST(RemoveTree, RemovesAFolderThatIsItselfALinkWithoutWalkingIt) {
  const Text data = "T:\\Temp\\1a2b.tmp";
  for (const Text& given : {data, data + "\\"}) {
    PlantedFileSystem fs;
    fs.folders = {data, data + "\\sub"};
    fs.files = {{data + "\\precious.doc", "theirs"}, {data + "\\sub\\notes.txt", "also theirs"}};
    fs.links = {data};
    EXPECT_TRUE(removeTree(fs, given)) << given;
    EXPECT_FALSE(fs.exists(data)) << given;
    EXPECT_EQ(fs.outside, (std::map<Text, Bytes>{{data + "\\precious.doc", "theirs"},
                                                 {data + "\\sub\\notes.txt", "also theirs"}}))
        << given;
  }
}

TEST(RemoveTree, ALinkThatCannotBeRemovedIsReportedAndLeftAlone) {
  PlantedFileSystem fs;
  const Text data = "T:\\Temp\\1a2b.tmp";
  fs.folders = {data};
  fs.files = {{data + "\\precious.doc", "theirs"}};
  fs.links = {data};
  fs.linksStay = true;
  EXPECT_FALSE(removeTree(fs, data));
  EXPECT_EQ(fs.files, (std::map<Text, Bytes>{{data + "\\precious.doc", "theirs"}}));
  EXPECT_TRUE(fs.outside.empty());
}

}  // namespace
}  // namespace zul
