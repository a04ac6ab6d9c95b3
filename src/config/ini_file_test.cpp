#include "config/ini_file.h"

#include <gtest/gtest.h>

#include "config/memory_file_system.h"

namespace zul {
namespace {

const Text kPath = "C:\\pkg\\data.ini";

// A GBK name whose trail bytes are "]" and "\" and one whose trail byte is
// the letter "A": a byte-wise reader that ignores double-byte characters
// would split or fold them.
const Text kTrailBracket = "\x81\x5D\x81\x5C";
const Text kTrailUpperA = "\xB0\x41";
const Text kTrailLowerA = "\xB0\x61";
const Text kSetupSection = "\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xB0\xB2\xD7\xB0\xC5\xE4\xD6\xC3";  // 禾弋软件安装配置
const Text kNameKey = "\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6";                     // 禾弋软件名称

Text read(std::string_view file, const Text& section, const Text& key) {
  MemoryFileSystem fs;
  fs.files[kPath] = Bytes(file);
  return readProfileString(fs, kPath, section, key);
}

struct ReadCase {
  const char* what;
  Bytes file;
  Text section;
  Text key;
  Text expected;
};

TEST(IniReadTest, FollowsTheProfileFunctions) {
  const Bytes block = Bytes("readme\x01", 7) + Bytes("[a]\r\nx=bad\r\n\0\x01\xFF=\r\n", 16) + "readmeend";
  const ReadCase cases[] = {
      {"plain", "[s]\r\nk=v\r\n", "s", "k", "v"},
      {"names ignore ASCII case", "[SeC]\nKeY=v\n", "sEc", "kEy", "v"},
      {"blanks around names and value", " \t[ s ] \n \t k \t=\t v w \t\n", "s", "k", "v w"},
      {"blanks around the query", "[s]\nk=v\n", " s\t", "k ", "v"},
      {"double quotes", "[s]\nk=\" v \"\n", "s", "k", " v "},
      {"single quotes", "[s]\nk='v'\n", "s", "k", "v"},
      {"unmatched quotes stay", "[s]\nk=\"v'\n", "s", "k", "\"v'"},
      {"a lone quote stays", "[s]\nk=\"\n", "s", "k", "\""},
      {"empty quotes", "[s]\nk=\"\"\n", "s", "k", ""},
      {"inner quotes stay", "[s]\nk=a\"b\"\n", "s", "k", "a\"b\""},
      {"second = belongs to the value", "[s]\nk = a=b\n", "s", "k", "a=b"},
      {"first key wins", "[s]\nk=1\nk=2\n", "s", "k", "1"},
      {"first section wins", "[s]\nk=1\n[S]\nk=2\nj=3\n", "s", "j", ""},
      {"key without = hides a later one", "[s]\nk\nk=v\n", "s", "k", ""},
      {"missing section", "[s]\nk=v\n", "t", "k", ""},
      {"missing key", "[s]\nk=v\n", "s", "j", ""},
      {"key of the next section", "[s]\n[t]\nk=v\n", "s", "k", ""},
      {"keys before any section", "k=v\n[s]\n", "s", "k", ""},
      {"CR line ends", "[s]\rk=v\rj=w\r", "s", "j", "w"},
      {"LF line ends", "[s]\nk=v\nj=w\n", "s", "j", "w"},
      {"no final line break", "[s]\r\nk=v", "s", "k", "v"},
      {"blank lines", "\r\n\r\n[s]\r\n\r\n\r\nk=v\r\n\r\n", "s", "k", "v"},
      {"text after ] is ignored", "[s] ; note\nk=v\n", "s", "k", "v"},
      {"name runs to the last ]", "[a]b]\nk=v\n", "a]b", "k", "v"},
      {"header without ] is a key line", "[s]\n[t\nk=v\n", "s", "k", "v"},
      {"comment lines are not keys", "[s]\n;k=x\nk=v\n", "s", "k", "v"},
      {"NUL ends the value", Bytes("[s]\nk=ab\0cd\n", 12), "s", "k", "ab"},
      {"GBK names", "[" + kSetupSection + "]\r\n" + kNameKey + "=\xD5\xE6\r\n", kSetupSection, kNameKey, "\xD5\xE6"},
      {"trail ] does not close a header", "[" + kTrailBracket + "]\nk=v\n", kTrailBracket, "k", "v"},
      {"trail \\ is part of the name", "[s]\n" + kTrailBracket + "=v\n", "s", kTrailBracket, "v"},
      {"trail letters keep their case", "[s]\n" + kTrailUpperA + "=v\n", "s", kTrailLowerA, ""},
      {"a data block between sections", "[a]\r\nx=1\r\n" + block + "\r\n[b]\r\ny=2", "b", "y", "2"},
      {"keys before a data block", "[a]\r\nx=1\r\n" + block + "\r\n[b]\r\ny=2", "a", "x", "1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read(c.file, c.section, c.key), c.expected) << c.what;
  }
}

TEST(IniReadTest, LeadingControlsAreStrippedFromPathAndNames) {
  MemoryFileSystem fs;
  fs.files[kPath] = "[s]\nk=v\n";
  EXPECT_EQ(readProfileString(fs, " \t" + kPath, "\x01s", "\x1Fk"), "v");
  EXPECT_EQ(readProfileString(fs, kPath, " \x01", "k"), "");
  EXPECT_EQ(readProfileString(fs, kPath, "s", "  "), "");
  EXPECT_EQ(readProfileString(fs, "C:\\missing.ini", "s", "k"), "");
}

TEST(IniReadTest, LongValuesAreCutToTheBuffer) {
  const Text dbcs = "\xB0\xA1";
  struct {
    Text value;
    size_t expected;
  } cases[] = {
      {Text(10239, 'a'), 10239},
      {Text(10240, 'a'), 10239},
      {Text(50000, 'a'), 10239},
      {"a" + [&] { Text t; for (int i = 0; i < 6000; ++i) t += dbcs; return t; }(), 10239},
      // The character at bytes 10238-10239 does not fit whole.
      {[&] { Text t; for (int i = 0; i < 6000; ++i) t += dbcs; return t; }(), 10238},
  };
  for (const auto& c : cases) {
    const Text got = read("[s]\nk=" + c.value + "\n", "s", "k");
    EXPECT_EQ(got.size(), c.expected) << c.value.size();
    EXPECT_EQ(got, c.value.substr(0, c.expected));
  }
}

TEST(IniSectionNamesTest, ListsHeadersInFileOrder) {
  MemoryFileSystem fs;
  fs.files[kPath] = "x=1\n[a]\n[]\n[ b ]\n[A]\n[c\n[" + kTrailBracket + "]\n";
  EXPECT_EQ(profileSectionNames(fs, kPath), (std::vector<Text>{"a", "b", "A", kTrailBracket}));
  EXPECT_TRUE(profileSectionNames(fs, "C:\\missing.ini").empty());
}

TEST(IniSectionNamesTest, NamesBeyondTheBufferAreLeftOutWhole) {
  MemoryFileSystem fs;
  Bytes file;
  for (int i = 0; i < 3000; ++i) file += "[" + Text(94, 'n') + std::to_string(1000 + i) + "]\r\n";
  fs.files[kPath] = file;
  // Each name takes 98 bytes and its NUL; the list's own NUL takes one more.
  const auto names = profileSectionNames(fs, kPath);
  ASSERT_EQ(names.size(), (kProfileSectionNamesBuffer - 1) / 99);
  EXPECT_EQ(names.back(), Text(94, 'n') + std::to_string(1000 + names.size() - 1));
}

struct WriteCase {
  const char* what;
  Bytes before;
  Text section;
  Text key;
  Text value;
  Bytes after;
};

TEST(IniWriteTest, EditsOnlyWhatItMust) {
  const Bytes block = Bytes("blk\x01", 4) + Bytes("[a]\r\nx=\0\x01\xFF\r\n", 13) + "blkend";
  const WriteCase cases[] = {
      {"replace in place", "[s]\n k = old \nz=1", "s", "k", "new", "[s]\n k = new \nz=1"},
      {"replace a quoted value", "[s]\r\nk=\"old\"\r\n", "s", "k", "v", "[s]\r\nk=v\r\n"},
      {"replace keeps the name's case", "[S]\r\nKey=1\r\n", "s", "KEY", "2", "[S]\r\nKey=2\r\n"},
      {"key without =", "[s]\r\nk\r\n", "s", "k", "v", "[s]\r\nk=v\r\n"},
      {"leading blanks of the value dropped", "[s]\r\nk=1\r\n", "s", "k", " \t v ", "[s]\r\nk=v \r\n"},
      {"new key after the section's last line", "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", "a", "k", "v",
       "[a]\r\nx=1\r\nk=v\r\n\r\n[b]\r\ny=2\r\n"},
      {"new key in an empty section", "[a]\r\n[b]\r\n", "a", "k", "v", "[a]\r\nk=v\r\n[b]\r\n"},
      {"new key on a last line without break", "[s]\r\nx=1", "s", "k", "v", "[s]\r\nx=1\r\nk=v\r\n"},
      {"new section at the end", "[a]\r\nx=1\r\n", "b", "k", "v", "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
      {"new section after a last line without break", "[a]\nx=1", "b", "k", "v", "[a]\nx=1\r\n[b]\r\nk=v\r\n"},
      {"names trimmed", "", " s ", " k ", "v", "[s]\r\nk=v\r\n"},
      {"first of two sections", "[s]\r\nk=1\r\n[s]\r\nk=2\r\n", "s", "k", "3", "[s]\r\nk=3\r\n[s]\r\nk=2\r\n"},
      {"GBK names", "[" + kTrailBracket + "]\r\n", kTrailBracket, kSetupSection, "\xD5\xE6",
       "[" + kTrailBracket + "]\r\n" + kSetupSection + "=\xD5\xE6\r\n"},
      {"block bytes untouched before", "[a]\r\nx=1\r\n" + block + "\r\n[b]\r\ny=2\r\n", "a", "x", "22",
       "[a]\r\nx=22\r\n" + block + "\r\n[b]\r\ny=2\r\n"},
      {"block bytes untouched after", "[a]\r\nx=1\r\n" + block + "\r\n[b]\r\ny=2\r\n", "b", "z", "3",
       "[a]\r\nx=1\r\n" + block + "\r\n[b]\r\ny=2\r\nz=3\r\n"},
  };
  for (const auto& c : cases) {
    MemoryFileSystem fs;
    if (!c.before.empty()) fs.files[kPath] = c.before;
    ASSERT_TRUE(writeProfileString(fs, kPath, c.section, c.key, c.value)) << c.what;
    EXPECT_EQ(fs.files[kPath], c.after) << c.what;
    EXPECT_EQ(fs.files.size(), 1u) << c.what << ": temporary file left";
  }
}

TEST(IniWriteTest, RefusesNamesThatWouldBreakTheFile) {
  const Bytes before = "[s]\r\nk=1\r\n";
  const struct {
    Text section, key, value;
  } cases[] = {{"", "k", "v"}, {"s", " ", "v"}, {"s", "a=b", "v"}, {"s", "[t]", "v"},
               {"s\n", "k", "v"}, {"s", "k", "a\r\nb=c"}, {"s", "k", Text("a\0b", 3)},
               {"s\x81", "k", "v"}, {"s", "k\xB0", "v"}, {"s", "k", "v\xB0"}};
  for (const auto& c : cases) {
    MemoryFileSystem fs;
    fs.files[kPath] = before;
    EXPECT_FALSE(writeProfileString(fs, kPath, c.section, c.key, c.value)) << c.section << "/" << c.key;
    EXPECT_EQ(fs.files[kPath], before);
  }
}

TEST(IniWriteTest, AFailedWriteKeepsTheOldFile) {
  MemoryFileSystem fs;
  fs.files[kPath] = "[s]\r\nk=1\r\n";
  fs.failMove = true;
  EXPECT_FALSE(writeProfileString(fs, kPath, "s", "k", "2"));
  EXPECT_EQ(fs.files[kPath], "[s]\r\nk=1\r\n");
  EXPECT_EQ(fs.files.size(), 1u);
  fs.failMove = false;
  fs.failCreate = true;
  EXPECT_FALSE(writeProfileString(fs, kPath, "s", "k", "2"));
  EXPECT_EQ(fs.files[kPath], "[s]\r\nk=1\r\n");
}

TEST(IniWriteTest, AnUnchangedValueIsNotRewritten) {
  MemoryFileSystem fs;
  fs.files[kPath] = "[s]\r\nk = 1\r\n";
  EXPECT_TRUE(writeProfileString(fs, kPath, "s", "k", "1"));
  EXPECT_EQ(fs.moves, 0);
}

// Whatever is written reads back, and a second write of another key keeps the
// first.
TEST(IniWriteTest, WrittenValuesReadBack) {
  MemoryFileSystem fs;
  fs.files[kPath] = Bytes("junk\x01\0\r[x", 8);
  const std::pair<Text, Text> values[] = {{"k1", "v1"}, {kNameKey, "\xB0\xA1\x81\x5C"}, {"k3", "a = b"},
                                          {"K1", "v4"}};
  for (const auto& [key, value] : values) {
    ASSERT_TRUE(writeProfileString(fs, kPath, kSetupSection, key, value));
  }
  EXPECT_EQ(readProfileString(fs, kPath, kSetupSection, "k1"), "v4");
  EXPECT_EQ(readProfileString(fs, kPath, kSetupSection, kNameKey), "\xB0\xA1\x81\x5C");
  EXPECT_EQ(readProfileString(fs, kPath, kSetupSection, "k3"), "a = b");
  EXPECT_EQ(fs.files[kPath].substr(0, 8), Bytes("junk\x01\0\r[x", 8));
}

}  // namespace
}  // namespace zul
