// The writer's archives are checked with 7-Zip itself (`7zz`): the archive
// must test clean, list the right names and attributes, and extract to the
// same bytes; and they must extract to the same bytes with this system's own
// 7z reader, which the setup stub uses.
#include "archive_writer.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "platform/fake/native_file_system.h"
#include "sevenzip/extractor.h"
#include "test_host_files.h"

namespace zul::pack {
namespace {

using test_files::readHost;
using test_files::writeHost;

namespace fs = std::filesystem;

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult run(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1 </dev/null").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) != 0) result.output.append(buffer, n);
  result.status = pclose(pipe);
  return result;
}

std::string utf8OfGbk(const std::string& gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  std::string out(gbk.size() * 3, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  char* o = out.data();
  size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

std::string passwordSwitch(const std::string& password) { return password.empty() ? "" : " '-p" + password + "'"; }

// `7zz l -slt` as one record per entry, keyed by path.
std::map<std::string, std::map<std::string, std::string>> listArchive(const fs::path& archive,
                                                                      const std::string& password) {
  const CommandResult listing = run("TZ=UTC 7zz l -slt" + passwordSwitch(password) + " " + quoted(archive));
  std::map<std::string, std::map<std::string, std::string>> entries;
  std::istringstream lines(listing.output.substr(std::min(listing.output.size(), listing.output.find("----------"))));
  std::string line, path;
  while (std::getline(lines, line)) {
    const size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 3);
    if (key == "Path") path = value;
    entries[path][key] = value;
  }
  return entries;
}

// Text that LZMA squeezes but not to nothing.
std::string sampleText(size_t bytes, unsigned seed) {
  std::mt19937 random(seed);
  const char* words[] = {"setup ", "archive ", "folder ", "install\r\n", "zul ", "data ", "7z ", "0123 "};
  std::string text;
  while (text.size() < bytes) text += words[random() % 8];
  text.resize(bytes);
  return text;
}

std::string randomBytes(size_t bytes, unsigned seed) {
  std::mt19937 random(seed);
  std::string data(bytes, '\0');
  for (char& c : data) c = static_cast<char>(random());
  return data;
}

class ArchiveWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zulpack-archive-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "in");
  }
  void TearDown() override {
    run("chmod -R u+w " + quoted(dir_));
    fs::remove_all(dir_);
  }

  // Entries for every kind of item; `expected` gets the UTF-8 path and the
  // contents of each file ("/" marks a folder).
  std::vector<ArchiveEntry> mixedEntries(std::map<std::string, std::string>* expected) {
    std::vector<ArchiveEntry> entries;
    const auto add = [&](Text name, std::string utf8, std::string data, bool host = false) {
      ArchiveEntry entry;
      entry.name = std::move(name);
      entry.mtime = 132000000000000000ull;
      if (host) {
        entry.hostPath = (dir_ / "in" / std::to_string(entries.size())).string();
        writeHost(entry.hostPath, data);
      } else {
        entry.data = data;
      }
      (*expected)[utf8] = std::move(data);
      entries.push_back(std::move(entry));
    };
    const auto addFolder = [&](Text name, std::string utf8) {
      ArchiveEntry entry;
      entry.name = std::move(name);
      entry.isDirectory = true;
      (*expected)[utf8] = "/";
      entries.push_back(std::move(entry));
    };
    addFolder("bin", "bin");
    addFolder("empty\\folder\\", "empty/folder");
    add("bin\\setup.exe", "bin/setup.exe", readHost(ZULPACK_PE_FIXTURE), true);
    add("bin/copy.DLL", "bin/copy.DLL", readHost(ZULPACK_PE_FIXTURE));
    add("readme.txt", "readme.txt", sampleText(300000, 1), true);
    add("noise.bin", "noise.bin", randomBytes(70000, 2));
    add("empty.txt", "empty.txt", "");
    add("\xD6\xD0\xCE\xC4\\\xC5\xE4\xD6\xC3\xB0\xFC.ini", "中文/配置包.ini", "[a]\r\nb=1\r\n");
    add("\x81\x5C\x81\x7C.txt", "乗亅.txt", "trail bytes 0x5C and 0x7C are no separator and no bar");
    add("a\\b\\c\\d\\e\\f\\g\\h\\i\\j\\k\\l\\m\\n\\o\\p\\q\\r\\s\\t\\deep.txt",
        "a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r/s/t/deep.txt", sampleText(5000, 3));
    return entries;
  }

  // The files and folders below `root`, by UTF-8 path relative to it, with
  // their contents ("/" for a folder). Folders that exist only as parents of
  // expected entries are left out.
  static std::map<std::string, std::string> tree(const fs::path& root,
                                                 const std::map<std::string, std::string>& expected) {
    std::map<std::string, std::string> found;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
      const std::string relative = fs::relative(item.path(), root).string();
      if (!item.is_directory()) {
        found[relative] = readHost(item.path());
      } else if (expected.count(relative)) {
        found[relative] = "/";
      }
    }
    return found;
  }

  static void expectTree(const std::map<std::string, std::string>& found,
                         const std::map<std::string, std::string>& expected) {
    EXPECT_EQ(found.size(), expected.size());
    for (const auto& [path, data] : expected) {
      ASSERT_TRUE(found.count(path)) << path;
      EXPECT_TRUE(found.at(path) == data) << path;
    }
  }

  // Tests and extracts the archive with 7zz and extracts it with this
  // system's own 7z reader; every expected path must come out of both with
  // its contents and nothing else. `password` is GBK.
  void checkArchive(const fs::path& archive, const std::string& password,
                    const std::map<std::string, std::string>& expected) {
    const std::string utf8Password = utf8OfGbk(password);
    const CommandResult test = run("7zz t" + passwordSwitch(utf8Password) + " " + quoted(archive));
    ASSERT_EQ(test.status, 0) << test.output;
    const fs::path out = dir_ / "out";
    fs::remove_all(out);
    fs::create_directories(out);
    const CommandResult extract =
        run("7zz x -y" + passwordSwitch(utf8Password) + " -o" + quoted(out) + " " + quoted(archive));
    ASSERT_EQ(extract.status, 0) << extract.output;
    expectTree(tree(out, expected), expected);

    const fs::path ours = dir_ / "ours";
    fs::remove_all(ours);
    NativeFileSystem native(dir_.string());
    sevenzip::ExtractOptions options;
    options.password = password;
    sevenzip::ExtractReport report;
    ASSERT_EQ(sevenzip::extract(native, archive.string(), ours.string(), options, &report), sevenzip::Status::kOk)
        << report.firstFailure;
    fs::create_directories(ours);
    expectTree(tree(ours, expected), expected);
  }

  fs::path dir_;
};

TEST_F(ArchiveWriterTest, ArchivesPassSevenZipInEveryConfiguration) {
  struct Case {
    bool solid;
    bool compressHeaders;
    const char* password;
    int threads;
  } cases[] = {
      {true, true, "", 2},   {true, false, "", 1},  {false, true, "", 2},
      {false, false, "", 2}, {true, true, "p\xC3\xDC\xC2\xEB x", 2}, {false, false, "secret", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "solid " << c.solid << " headers " << c.compressHeaders << " password '"
                                    << c.password << "' threads " << c.threads);
    std::map<std::string, std::string> expected;
    const std::vector<ArchiveEntry> entries = mixedEntries(&expected);
    ArchiveOptions options;
    options.solid = c.solid;
    options.compressHeaders = c.compressHeaders;
    options.password = c.password;
    options.threads = c.threads;
    const fs::path archive = dir_ / "a.7z";
    std::string error;
    ASSERT_TRUE(writeArchive(entries, options, archive.string(), &error)) << error;
    checkArchive(archive, c.password, expected);
    const std::string utf8Password = utf8OfGbk(c.password);

    const auto listing = listArchive(archive, utf8Password);
    EXPECT_NE(listing.at("bin/setup.exe").at("Method").find("BCJ"), std::string::npos);
    EXPECT_EQ(listing.at("readme.txt").at("Method").find("BCJ"), std::string::npos);
    EXPECT_EQ(listing.at("readme.txt").at("Encrypted"), *c.password ? "+" : "-");
    if (*c.password) {
      // The file list itself is encrypted: nothing is listed without the password.
      const CommandResult wrong = run("7zz l -pwrong " + quoted(archive));
      EXPECT_NE(wrong.status, 0);
      EXPECT_EQ(wrong.output.find("readme.txt"), std::string::npos);
    }
  }
}

// No contents at all: the header carries no stream information, and with a
// password only the file list is encrypted.
TEST_F(ArchiveWriterTest, ArchivesWithoutContents) {
  ArchiveEntry folder;
  folder.name = "only\\folder";
  folder.isDirectory = true;
  ArchiveEntry empty;
  empty.name = "only\\empty.txt";
  for (const char* password : {"", "pw"}) {
    for (const std::vector<ArchiveEntry>& entries : {std::vector<ArchiveEntry>{}, std::vector<ArchiveEntry>{folder, empty}}) {
      SCOPED_TRACE(testing::Message() << "password '" << password << "', " << entries.size() << " entries");
      ArchiveOptions options;
      options.password = password;
      const fs::path archive = dir_ / "a.7z";
      std::string error;
      ASSERT_TRUE(writeArchive(entries, options, archive.string(), &error)) << error;
      std::map<std::string, std::string> expected;
      if (!entries.empty()) expected = {{"only/folder", "/"}, {"only/empty.txt", ""}};
      checkArchive(archive, password, expected);
    }
  }
}

TEST_F(ArchiveWriterTest, StoresTimesAndAttributes) {
  std::vector<ArchiveEntry> entries(3);
  entries[0].name = "locked.txt";
  entries[0].data = "x";
  entries[0].attributes = 0x1 | 0x2 | 0x20;  // read-only, hidden, archive
  entries[0].mtime = 0x01D9'0000'0000'0000ull;
  entries[1].name = "dir";
  entries[1].isDirectory = true;
  entries[1].mtime = 0x01D9'0000'0000'0000ull;
  entries[2].name = "untimed.txt";
  entries[2].data = "y";
  const fs::path archive = dir_ / "a.7z";
  std::string error;
  ASSERT_TRUE(writeArchive(entries, ArchiveOptions{}, archive.string(), &error)) << error;
  const auto listing = listArchive(archive, "");
  EXPECT_EQ(listing.at("locked.txt").at("Attributes"), "RHA");
  EXPECT_EQ(listing.at("dir").at("Attributes"), "D");
  // 0x01D9000000000000 in 100 ns units after 1601 is 2022-11-24 12:26:38.414 UTC.
  EXPECT_EQ(listing.at("locked.txt").at("Modified"), "2022-11-24 12:26:38.4140288");
  EXPECT_EQ(listing.at("dir").at("Modified"), "2022-11-24 12:26:38.4140288");
  EXPECT_EQ(listing.at("untimed.txt").at("Modified"), "");
}

// Payloads above 32 MiB are cut into blocks of total / threads bytes that
// are compressed at the same time; a cut may fall inside a file, whose CRC is
// then joined from its pieces.
TEST_F(ArchiveWriterTest, BigPayloadsAreCutIntoBlocksForTheThreads) {
  std::vector<ArchiveEntry> mixed;
  std::map<std::string, std::string> mixedExpected;
  for (int i = 0; i < 12; ++i) {
    ArchiveEntry entry;
    entry.name = "part" + std::to_string(i) + (i % 4 == 0 ? ".dll" : ".dat");
    entry.data = i % 3 == 0 ? randomBytes(3 << 20, i) : sampleText(5 << 20, i);
    mixedExpected[entry.name] = entry.data;
    mixed.push_back(std::move(entry));
  }
  ArchiveEntry big;
  big.name = "big.dat";
  big.hostPath = (dir_ / "in" / "big.dat").string();
  const std::string bigData = sampleText(40 << 20, 7);
  writeHost(big.hostPath, bigData);

  struct Case {
    const char* what;
    std::vector<ArchiveEntry> entries;
    std::map<std::string, std::string> expected;
    bool solid;
    const char* password;
    const char* blocks;  // as `7zz l -slt` counts folders
  } cases[] = {
      {"solid, executables apart", mixed, mixedExpected, true, "", "Blocks = 2"},
      {"one big file, encrypted", {big}, {{"big.dat", bigData}}, false, "pw", "Blocks = 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ArchiveOptions options;
    options.preset = 1;
    options.solid = c.solid;
    options.password = c.password;
    uint64_t lastDone = 0, lastTotal = 0;
    options.progress = [&](uint64_t done, uint64_t total) {
      EXPECT_GE(done, lastDone);
      lastDone = done;
      lastTotal = total;
    };
    const fs::path archive = dir_ / "big.7z";
    std::string error;
    ASSERT_TRUE(writeArchive(c.entries, options, archive.string(), &error)) << error;
    uint64_t total = 0;
    for (const auto& [name, data] : c.expected) total += data.size();
    EXPECT_EQ(lastDone, total);
    EXPECT_EQ(lastTotal, total);
    checkArchive(archive, c.password, c.expected);
    const CommandResult info = run("7zz l -slt" + passwordSwitch(c.password) + " " + quoted(archive));
    EXPECT_NE(info.output.find(c.blocks), std::string::npos) << info.output.substr(0, 600);
  }
}

TEST_F(ArchiveWriterTest, BadInputFailsWithoutOutput) {
  const fs::path archive = dir_ / "a.7z";
  struct Case {
    const char* what;
    ArchiveEntry entry;
    const char* mentions;
  } cases[] = {
      {"invalid GBK", {"bad\xFFname.txt", "", "x"}, "not valid GBK"},
      {"truncated GBK", {"bad\xD6", "", "x"}, "not valid GBK"},
      {"parent folder", {"..\\evil.txt", "", "x"}, "relative path"},
      {"absolute", {"\\root.txt", "", "x"}, "relative path"},
      {"drive", {"C:\\x.txt", "", "x"}, "relative path"},
      {"empty part", {"a\\\\b.txt", "", "x"}, "relative path"},
      {"empty name", {"", "", "x"}, "relative path"},
      {"wildcard", {"a\\what?.txt", "", "x"}, "cannot hold"},
      {"control character", {"tab\t.txt", "", "x"}, "cannot hold"},
      {"trailing dot", {"folder.\\x.txt", "", "x"}, "blank or a dot"},
      {"device name", {"sub\\Con.txt", "", "x"}, "device name"},
      {"missing host file", {"gone.txt", (dir_ / "no-such-file").string(), ""}, "no-such-file"},
      {"host folder as file", {"folder.txt", dir_.string(), ""}, "not a regular file"},
      {"duplicate", {"README.TXT", "", "x"}, "more than one entry"},
  };
  for (const Case& c : cases) {
    writeHost(archive, "earlier archive");
    ArchiveEntry first;
    first.name = "readme.txt";
    first.data = "fine";
    std::string error;
    EXPECT_FALSE(writeArchive({first, c.entry}, ArchiveOptions{}, archive.string(), &error)) << c.what;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(readHost(archive), "earlier archive") << c.what;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2) << c.what;  // in/, a.7z
  }
}

TEST_F(ArchiveWriterTest, UnwritableOutputFailsWithTheReason) {
  ArchiveEntry entry;
  entry.name = "readme.txt";
  entry.data = "fine";
  const fs::path archive = dir_ / "no-such-folder" / "a.7z";
  std::string error;
  EXPECT_FALSE(writeArchive({entry}, ArchiveOptions{}, archive.string(), &error));
  EXPECT_NE(error.find("no-such-folder"), std::string::npos) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir_ / "no-such-folder"));
}

TEST_F(ArchiveWriterTest, VolumesJoinToTheArchive) {
  std::map<std::string, std::string> expected;
  const std::vector<ArchiveEntry> entries = mixedEntries(&expected);
  const fs::path archive = dir_ / "whole.7z";
  std::string error;
  ArchiveOptions options;
  options.password = "volumes";
  ASSERT_TRUE(writeArchive(entries, options, archive.string(), &error)) << error;
  const std::string whole = readHost(archive);
  writeHost(dir_ / "pkg.004", "stale volume of an earlier build");
  writeHost(dir_ / "pkg.005", "stale volume of an earlier build");

  const uint64_t volumeSize = whole.size() / 3 + 1;
  int count = 0;
  ASSERT_TRUE(splitVolumes(archive.string(), volumeSize, (dir_ / "pkg").string(), &error, &count)) << error;
  EXPECT_EQ(count, 3);
  std::string joined;
  for (const char* suffix : {".001", ".002", ".003"}) {
    const std::string part = readHost(dir_ / ("pkg" + std::string(suffix)));
    EXPECT_LE(part.size(), volumeSize);
    joined += part;
  }
  EXPECT_TRUE(joined == whole);
  EXPECT_FALSE(fs::exists(dir_ / "pkg.004"));
  EXPECT_FALSE(fs::exists(dir_ / "pkg.005"));
  fs::remove(archive);
  checkArchive(dir_ / "pkg.001", "volumes", expected);

  EXPECT_FALSE(splitVolumes(archive.string(), volumeSize, (dir_ / "again").string(), &error));
  EXPECT_FALSE(fs::exists(dir_ / "again.001"));
  EXPECT_FALSE(splitVolumes((dir_ / "pkg.001").string(), 0, (dir_ / "again").string(), &error));
}

TEST(GbkNames, ConvertToUtf16) {
  std::u16string utf16;
  ASSERT_TRUE(gbkToUtf16("a\xD6\xD0\x81\x5C", &utf16));
  EXPECT_EQ(utf16, u"a中乗");
  EXPECT_FALSE(gbkToUtf16("\xFF\xFF", &utf16));
  EXPECT_FALSE(gbkToUtf16("\xD6", &utf16));
}

}  // namespace
}  // namespace zul::pack
