// The hand-made corpus of damaged and unsupported archives, driven by the
// table in testdata/corpus/README.md.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "sevenzip/extractor.h"
#include "sevenzip/test_support.h"

namespace zul::sevenzip {
namespace {

Status statusNamed(const std::string& name) {
  for (int s = 0; s <= static_cast<int>(Status::kCancelled); ++s) {
    static const char* const kNames[] = {"kOk",          "kNotArchive", "kCorrupt",         "kTruncated",
                                         "kCrcError",    "kWrongPassword", "kUnsupportedMethod", "kOutOfMemory",
                                         "kUnsafeName",  "kWriteError", "kReadError",       "kCancelled"};
    if (name == kNames[s]) return static_cast<Status>(s);
  }
  ADD_FAILURE() << "unknown status " << name;
  return Status::kOk;
}

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  const size_t b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

TEST(CorpusTest, EveryFileGivesItsStatusAndLeavesOnlyWhatIsListed) {
  ScratchFolder scratch;
  FileSystem& fs = scratch.fs();
  std::istringstream readme(readWholeFile(fs, testing::corpusPath("README.md")));
  int rows = 0;
  for (std::string line; std::getline(readme, line);) {
    std::vector<std::string> cells;
    std::istringstream l(line);
    for (std::string cell; std::getline(l, cell, '|');) cells.push_back(trim(cell));
    if (cells.size() < 5 || cells[1].find('.') == std::string::npos || cells[1] == "file") continue;
    ++rows;
    const std::string& file = cells[1];
    SCOPED_TRACE(file);
    const Text destination = scratch.path() + "c" + std::to_string(rows) + "\\out";
    ExtractOptions options;
    options.password = "p";
    EXPECT_EQ(extract(fs, testing::corpusPath(file), destination, options), statusNamed(cells[2]));
    std::set<Text> expected, found;
    std::istringstream left(cells[4]);
    for (std::string name; left >> name;) expected.insert(name);
    for (const DirEntry& d : fs.list(destination)) found.insert(d.name);
    EXPECT_EQ(found, expected);
    // Nothing beside the destination either.
    EXPECT_EQ(fs.list(scratch.path() + "c" + std::to_string(rows)).size(), fs.exists(destination) ? 1u : 0u);
  }
  EXPECT_GE(rows, 19);
}

}  // namespace
}  // namespace zul::sevenzip
