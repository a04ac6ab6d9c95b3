// Every fixture archive made by 7zz (every method and filter, solid and not,
// plain, compressed and encrypted headers, volumes, leading bytes) extracts
// byte-identical to the tree it was made from, with times and the read-only
// attribute; and the extractor's safety and failure rules hold.
#include "sevenzip/extractor.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "sevenzip/crc32.h"
#include "sevenzip/test_support.h"

namespace zul::sevenzip {
namespace {

using testing::fixturePath;
using testing::fromHex;
using testing::modificationTime;

struct Expected {
  bool isDirectory;
  uint64_t mtime;
  bool readOnly;
  uint64_t size;
  uint32_t crc;
  Text name;  // GBK, '\' separated
};

std::vector<std::vector<std::string>> table(FileSystem& fs, const std::string& file) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(readWholeFile(fs, fixturePath(file)));
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    std::vector<std::string> cells;
    std::istringstream l(line);
    for (std::string cell; std::getline(l, cell, '\t');) cells.push_back(cell);
    while (cells.size() < 3) cells.emplace_back();
    rows.push_back(cells);
  }
  return rows;
}

std::vector<Expected> manifest(FileSystem& fs) {
  std::vector<Expected> entries;
  for (const auto& c : table(fs, "manifest.txt")) {
    entries.push_back({c[0] == "dir", std::stoull(c[1]), c[2] == "1", std::stoull(c[3]),
                       static_cast<uint32_t>(std::stoull(c[4])), fromHex(c[5])});
  }
  return entries;
}

// Compares the folder `root` with the manifest; returns a description of
// every difference.
std::string differences(ScratchFolder& scratch, const Text& root) {
  FileSystem& fs = scratch.fs();
  std::string out;
  for (const Expected& e : manifest(fs)) {
    const Text path = root + e.name;
    if (e.isDirectory) {
      if (!fs.isDirectory(path)) out += "missing folder " + e.name + "\n";
    } else {
      const Bytes data = readWholeFile(fs, path);
      if (data.size() != e.size || crc32(data.data(), data.size()) != e.crc) out += "content of " + e.name + "\n";
      uint32_t attributes = 0;
      if (!fs.getAttributes(path, &attributes) || ((attributes & kAttributeReadOnly) != 0) != e.readOnly) {
        out += "read-only attribute of " + e.name + "\n";
      }
    }
    if (modificationTime(scratch, path) != e.mtime) out += "time of " + e.name + "\n";
  }
  // Nothing beyond the manifest (no temporary files left behind).
  size_t count = 0;
  std::vector<Text> pending{withoutTrailingSlash(root)};
  while (!pending.empty()) {
    const Text folder = pending.back();
    pending.pop_back();
    for (const DirEntry& d : fs.list(folder)) {
      ++count;
      if (d.isDirectory) pending.push_back(folder + "\\" + d.name);
    }
  }
  if (count != manifest(fs).size()) out += "entry count " + std::to_string(count) + "\n";
  return out;
}

TEST(ExtractorTest, EveryFixtureExtractsIdentically) {
  ScratchFolder scratch;
  const auto archives = table(scratch.fs(), "archives.txt");
  ASSERT_GE(archives.size(), 15u);
  int n = 0;
  for (const auto& row : archives) {
    SCOPED_TRACE(row[0]);
    const Text destination = scratch.path() + "out" + std::to_string(n++) + "\\";
    ExtractOptions options;
    options.password = fromHex(row[1]);
    ExtractReport report;
    ASSERT_EQ(extract(scratch.fs(), fixturePath(row[0]), destination, options, &report), Status::kOk)
        << report.firstFailure;
    EXPECT_EQ(report.failures, 0u);
    EXPECT_EQ(differences(scratch, destination), "");
  }
}

TEST(ExtractorTest, ReportsEachStageOfEveryFile) {
  ScratchFolder scratch;
  ExtractOptions options;
  std::vector<ExtractEvent> events;
  options.onEvent = [&](const ExtractEvent& e) {
    events.push_back(e);
    return true;
  };
  ASSERT_EQ(extract(scratch.fs(), fixturePath("lzma2_solid.7z"), scratch.path() + "x", options), Status::kOk);
  size_t begun = 0, done = 0;
  for (const ExtractEvent& e : events) {
    begun += e.kind == ExtractEvent::Kind::kBegin;
    done += e.kind == ExtractEvent::Kind::kDone;
    EXPECT_LE(e.written, e.size);
    EXPECT_EQ(e.destinationPath, scratch.path() + "x\\" + e.entryName);
  }
  EXPECT_EQ(begun, 9u);
  EXPECT_EQ(done, 9u);
  // The 2.3 MB text file reports progress between its start and its end.
  EXPECT_GT(events.size(), 2 * done);
}

TEST(ExtractorTest, PasswordsAndMethodsFailWithTheirStatus) {
  ScratchFolder scratch;
  struct Case {
    const char* archive;
    const char* password;
    Status status;
  } cases[] = {
      {"aes_headers.7z", "", Status::kWrongPassword},
      {"aes_headers.7z", "wrong", Status::kWrongPassword},
      {"aes_data.7z", "", Status::kWrongPassword},
      {"aes_data.7z", "wrong", Status::kWrongPassword},
      {"unsupported_ppmd.7z", "", Status::kUnsupportedMethod},
      {"unsupported_bzip2.7z", "", Status::kUnsupportedMethod},
      {"manifest.txt", "", Status::kNotArchive},
      {"missing.7z", "", Status::kReadError},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.archive) + " / " + c.password);
    const Text destination = scratch.path() + "f" + std::to_string(n++);
    ExtractOptions options;
    options.password = c.password;
    EXPECT_EQ(extract(scratch.fs(), fixturePath(c.archive), destination, options), c.status);
    // Nothing with data is left, under a file's own name or a temporary one.
    for (const DirEntry& d : scratch.fs().list(destination)) {
      EXPECT_TRUE(d.isDirectory || readWholeFile(scratch.fs(), destination + "\\" + d.name).empty()) << d.name;
    }
  }
}

// Every file under `folder`, recursively, as paths relative to it.
std::vector<Text> filesBelow(FileSystem& fs, const Text& folder) {
  std::vector<Text> files;
  std::vector<Text> pending{""};
  while (!pending.empty()) {
    const Text sub = pending.back();
    pending.pop_back();
    for (const DirEntry& d : fs.list(folder + sub)) {
      (d.isDirectory ? pending : files).push_back(sub + d.name + (d.isDirectory ? "\\" : ""));
    }
  }
  return files;
}

TEST(ExtractorTest, DamagedDataFailsOnlyItsOwnFile) {
  ScratchFolder scratch;
  FileSystem& fs = scratch.fs();
  // Non-solid: one folder per file, so damage stays within one file.
  Bytes archive = readWholeFile(fs, fixturePath("lzma2_nonsolid_plainheader.7z"));
  ASSERT_GT(archive.size(), 5000u);
  archive[32 + 3000] ^= 0x55;
  ASSERT_TRUE(writeWholeFile(fs, scratch.path() + "damaged.7z", archive));
  ExtractReport report;
  const Status status = extract(fs, scratch.path() + "damaged.7z", scratch.path() + "out", ExtractOptions(), &report);
  EXPECT_TRUE(status == Status::kCorrupt || status == Status::kCrcError) << static_cast<int>(status);
  EXPECT_EQ(report.failures, 1u);
  const std::vector<Text> files = filesBelow(fs, scratch.path() + "out\\");
  size_t expected = 0;
  for (const Expected& e : manifest(fs)) {
    if (e.isDirectory) continue;
    ++expected;
    const bool present = fs.exists(scratch.path() + "out\\" + e.name);
    EXPECT_EQ(present, e.name != report.firstFailure) << e.name;
  }
  EXPECT_EQ(files.size(), expected - 1);  // no temporary file left behind
}

TEST(ExtractorTest, MissingOrCutVolumesAreTruncation) {
  ScratchFolder scratch;
  FileSystem& fs = scratch.fs();
  ASSERT_TRUE(writeWholeFile(fs, scratch.path() + "v.7z.001", readWholeFile(fs, fixturePath("volumes.7z.001"))));
  ASSERT_TRUE(writeWholeFile(fs, scratch.path() + "v.7z.002", readWholeFile(fs, fixturePath("volumes.7z.002"))));
  EXPECT_EQ(extract(fs, scratch.path() + "v.7z.001", scratch.path() + "o1", ExtractOptions()), Status::kTruncated);
  const Bytes whole = readWholeFile(fs, fixturePath("lzma2_solid.7z"));
  ASSERT_TRUE(writeWholeFile(fs, scratch.path() + "cut.7z", whole.substr(0, whole.size() / 2)));
  EXPECT_EQ(extract(fs, scratch.path() + "cut.7z", scratch.path() + "o2", ExtractOptions()), Status::kTruncated);
  EXPECT_TRUE(filesBelow(fs, scratch.path() + "o1\\").empty());
  EXPECT_TRUE(filesBelow(fs, scratch.path() + "o2\\").empty());
}

TEST(ExtractorTest, AttributesAndTimesAreApplied) {
  ScratchFolder scratch;
  FileSystem& fs = scratch.fs();
  const Text out = scratch.path() + "attr\\";
  ASSERT_EQ(extract(fs, testing::corpusPath("good-attributes.7z"), out, ExtractOptions()), Status::kOk);
  struct Case {
    const char* name;
    uint32_t attributes;  // of those the tree's file system keeps
    uint64_t mtime;
  } cases[] = {
      {"hidden.txt", kAttributeHidden, 132000000000000000},
      {"ro-hidden.txt", kAttributeHidden | kAttributeReadOnly, 132000000012345670},
      {"hdir", kAttributeHidden | kAttributeDirectory, 131000000000000000},
  };
  for (const Case& c : cases) {
    uint32_t attributes = 0;
    ASSERT_TRUE(fs.getAttributes(out + c.name, &attributes)) << c.name;
#ifdef _WIN32
    const uint32_t kept = kAttributeHidden | kAttributeReadOnly | kAttributeDirectory;
#else
    const uint32_t kept = kAttributeReadOnly | kAttributeDirectory;  // no hidden bit on POSIX
#endif
    EXPECT_EQ(attributes & kept, c.attributes & kept) << c.name;
    EXPECT_EQ(modificationTime(scratch, out + c.name), c.mtime) << c.name;
  }
  // A second extraction replaces the read-only file.
  EXPECT_EQ(extract(fs, testing::corpusPath("good-attributes.7z"), out, ExtractOptions()), Status::kOk);
}

TEST(ExtractorTest, MissingDestinationFoldersAreCreatedForEitherSeparator) {
  ScratchFolder scratch;
  for (const Text& destination : {scratch.path() + "w\\x\\y", Text(scratch.hostPath()) + "/h/a/b"}) {
    EXPECT_EQ(extract(scratch.fs(), testing::corpusPath("good-copy.7z"), destination, ExtractOptions()), Status::kOk);
    EXPECT_EQ(readWholeFile(scratch.fs(), destination + "\\hello.txt"), "hello, corpus\n") << destination;
  }
}

TEST(ExtractorTest, UnsafeNamesAreRefused) {
  struct Case {
    std::u16string name;
    const char* relative;  // null: refused
  } cases[] = {
      {u"a/b\\c.txt", "a\\b\\c.txt"},
      {u"dir/", "dir"},
      {u"\u4e2d\u6587.txt", "\xd6\xd0\xce\xc4.txt"},
      {u"/etc/passwd", nullptr},
      {u"\\windows\\x", nullptr},
      {u"C:\\x", nullptr},
      {u"c:x", nullptr},
      {u"a/../../x", nullptr},
      {u"..", nullptr},
      {u"a//b", nullptr},
      {u"CON", nullptr},
      {u"dir/nul.txt", nullptr},
      {u"com1", nullptr},
      {u"lpt9.log", nullptr},
      {u"file:stream", nullptr},
      {u"trailing.", nullptr},
      {u"blank ", nullptr},
      {u"what?", nullptr},
      {u"", nullptr},
      {u"\U0001F600.txt", nullptr},  // no GBK form
  };
  for (const Case& c : cases) {
    Text relative;
    const bool safe = safeRelativePath(c.name, &relative);
    EXPECT_EQ(safe, c.relative != nullptr) << std::string(c.name.begin(), c.name.end());
    if (c.relative) {
      EXPECT_EQ(relative, c.relative);
    }
  }
}

}  // namespace
}  // namespace zul::sevenzip
