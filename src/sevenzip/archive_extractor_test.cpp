// The command-line entry and the extraction call built on it: the exact
// command line, its parsing, the notifications and their percentages, and
// the folder-path helper.
#include "sevenzip/archive_extractor.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "sevenzip/test_support.h"

namespace zul {
namespace {

using sevenzip::testing::fixturePath;

TEST(ArchiveExtractorTest, CommandLineIsBuiltExactly) {
  EXPECT_EQ(extractCommandLine("C:\\a b\\x.7z", "C:\\dest", "pw"), "x  \"C:\\a b\\x.7z\" -hide -y \"C:\\dest\\\" * -p\"pw\"");
  EXPECT_EQ(extractCommandLine("C:\\x.7z", "C:\\dest\\", ""), "x  \"C:\\x.7z\" -hide -y \"C:\\dest\\\" * -p\"\"");
  // A folder ending in a double-byte character whose trail byte is 0x5C
  // still gets its separator.
  EXPECT_EQ(extractCommandLine("a", "C:\\\x81\x5C", "p"), "x  \"a\" -hide -y \"C:\\\x81\x5C\\\" * -p\"p\"");
  EXPECT_EQ(extractCommandLine("a", "C:\\d", "a\"b"), "x  \"a\" -hide -y \"C:\\d\\\" * -p\"a\"b\"");
}

TEST(ArchiveExtractorTest, PercentRule) {
  EXPECT_EQ(notificationPercent(200, 50), 25);
  EXPECT_EQ(notificationPercent(3, 1), 33);
  EXPECT_EQ(notificationPercent(0, 0), 100);
  EXPECT_EQ(notificationPercent(0xFFFFFFFFu, 1000), 100);
  EXPECT_EQ(notificationPercent(0xFFFFFFFFu, 5), 0);
  EXPECT_EQ(notificationPercent(0xFFFFFFFEu, 0xFFFFFFFEu), 100);
}

TEST(ArchiveExtractorTest, ProgressReachesEveryFileAndEndsWithOneHundred) {
  ScratchFolder scratch;
  const Text destination = scratch.path() + "new\\sub";
  std::vector<std::pair<Text, int>> calls;
  ASSERT_TRUE(extractArchive(scratch.fs(), fixturePath("leading19.bin"), destination, "",
                             [&](const Text& name, int percent) { calls.emplace_back(name, percent); }));
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), std::make_pair(Text(), 100));
  std::map<Text, int> last;
  for (size_t i = 0; i + 1 < calls.size(); ++i) {
    const auto& [name, percent] = calls[i];
    EXPECT_EQ(name.rfind(destination + "\\", 0), 0u) << name;
    EXPECT_GE(percent, last.count(name) ? last[name] : 0) << name;
    EXPECT_LE(percent, 100);
    last[name] = percent;
  }
  EXPECT_EQ(last.size(), 9u);  // the tree's files, the empty one included
  for (const auto& [name, percent] : last) EXPECT_EQ(percent, 100) << name;
  EXPECT_EQ(last.count(destination + "\\empty.txt"), 1u);

  // Without a progress function nothing is called and the result stays.
  EXPECT_TRUE(extractArchive(scratch.fs(), fixturePath("copy.7z"), scratch.path() + "plain", "", nullptr));
}

TEST(ArchiveExtractorTest, PasswordWithAQuoteEndsAtTheQuote) {
  ScratchFolder scratch;
  // The archive's password is "ab"; 'ab"cd' reaches the reader as "ab".
  EXPECT_TRUE(extractArchive(scratch.fs(), fixturePath("password_ab.7z"), scratch.path() + "q", "ab\"cd", nullptr));
  EXPECT_TRUE(scratch.fs().exists(scratch.path() + "q\\readme.txt"));
  EXPECT_FALSE(extractArchive(scratch.fs(), fixturePath("password_ab.7z"), scratch.path() + "r", "abc", nullptr));
  EXPECT_FALSE(scratch.fs().exists(scratch.path() + "r\\readme.txt"));
}

TEST(ArchiveExtractorTest, CommandLineVariantsAndFailures) {
  ScratchFolder scratch;
  FileSystem& fs = scratch.fs();
  Text archive = fixturePath("lzma2_solid.7z");
  archive.insert(0, 1, '"');
  archive.push_back('"');
  const Text dest = scratch.path();
  int finals = 0;
  const OwnerCallback count = [&](int state, const ExtractingInfo&) {
    finals += state == kArchiveFinished;
    return true;
  };
  // Patterns, "e" without folders, -o.
  EXPECT_EQ(sevenZip(fs, "x " + archive + " -y \"" + dest + "p\\\" *.txt", count), 0);
  EXPECT_TRUE(fs.exists(dest + "p\\readme.txt"));
  EXPECT_TRUE(fs.exists(dest + "p\\text\\big.txt"));
  EXPECT_FALSE(fs.exists(dest + "p\\bin\\noise.bin"));
  EXPECT_EQ(sevenZip(fs, "e " + archive + " -hide -o\"" + dest + "flat\\\" bin\\*", count), 0);
  EXPECT_TRUE(fs.exists(dest + "flat\\code.bin"));
  EXPECT_FALSE(fs.exists(dest + "flat\\bin"));
  EXPECT_EQ(finals, 2);

  // Usage errors, and failures with the reader's status.
  EXPECT_EQ(sevenZip(fs, "", count), kSevenZipUsageError);
  EXPECT_EQ(sevenZip(fs, "a " + archive + " \"" + dest + "z\\\"", count), kSevenZipUsageError);
  EXPECT_EQ(sevenZip(fs, "x " + archive, count), kSevenZipUsageError);
  EXPECT_EQ(sevenZip(fs, "x " + archive + " -zz \"" + dest + "z\\\"", count), kSevenZipUsageError);
  EXPECT_EQ(sevenZip(fs, "x \"" + fixturePath("aes_data.7z") + "\" -p\"no\" \"" + dest + "w\\\"", count), 5);
  EXPECT_EQ(sevenZip(fs, "x \"" + fixturePath("unsupported_ppmd.7z") + "\" \"" + dest + "u\\\"", count), 6);
  EXPECT_EQ(finals, 4);
}

TEST(ArchiveExtractorTest, MakeFolderPath) {
  ScratchFolder scratch;
  FileSystem& fs = scratch.fs();
  const Text root = scratch.path();  // "X:\...\"
  EXPECT_TRUE(makeFolderPath(fs, root + "a\\b\\c"));
  EXPECT_TRUE(fs.isDirectory(root + "a\\b\\c"));
  EXPECT_TRUE(makeFolderPath(fs, root + "a\\b\\c\\"));
  EXPECT_TRUE(makeFolderPath(fs, root + "\xB1\xED\\\x81\x5C\\x"));  // trail byte 0x5C is no separator
  EXPECT_TRUE(fs.isDirectory(root + "\xB1\xED\\\x81\x5C\\x"));

  EXPECT_FALSE(makeFolderPath(fs, root + "d\\\\e"));
  EXPECT_TRUE(fs.isDirectory(root + "d"));  // made before the empty part
  EXPECT_FALSE(fs.exists(root + "e"));
  EXPECT_FALSE(makeFolderPath(fs, root + "f\\..\\g"));
  EXPECT_FALSE(makeFolderPath(fs, root + "f\\.\\g"));
  ASSERT_TRUE(writeWholeFile(fs, root + "file", "x"));
  EXPECT_FALSE(makeFolderPath(fs, root + "file\\sub"));
  EXPECT_FALSE(makeFolderPath(fs, "\\\\server\\share\\x"));
  EXPECT_FALSE(makeFolderPath(fs, "relative\\x"));
  EXPECT_FALSE(makeFolderPath(fs, "C:"));
  EXPECT_FALSE(makeFolderPath(fs, "C:\\"));
}

}  // namespace
}  // namespace zul
