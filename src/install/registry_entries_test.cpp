#include "install/registry_entries.h"

#include <gtest/gtest.h>

#include "config/data_block.h"
#include "config/memory_file_system.h"
#include "config/package_config.h"
#include "platform/test_support/fake_install_adapters.h"
#include "platform/special_folders.h"
#include "platform/test_support/fake_platform.h"

namespace zul {
namespace {

Bytes block(const Text& name, std::string_view content) { return name + '\x01' + Bytes(content) + name + "end"; }

TEST(SetBlockTest, ReplacesOnlyTheBlocksContentOrAppends) {
  const Text name = "\xD0\xB6\xD4\xD8\xC2\xB7\xBE\xB6";  // 卸载路径
  struct Case {
    const char* what;
    Bytes store;
    Bytes value;
    Bytes expected;
  };
  const Bytes ini = "[s]\r\n" + name + "=old\r\n";
  const Case cases[] = {
      {"replaced in place; the same bytes in the INI text and another block stay", ini + block(name, "old") + block("x", "old"),
       "new list", ini + block(name, "new list") + block("x", "old")},
      {"appended at the very end", ini, "v", ini + block(name, "v")},
      {"empty value", ini, "", ini + block(name, "\x01\x02\x03")},
      {"an empty block is filled where it stands", block(name, "") + "tail", "v", block(name, "v") + "tail"},
      {"an unterminated block is closed after the value, its bytes kept", "a" + name + "\x01rest", "v",
       "a" + block(name, "v") + "rest"},
  };
  for (const Case& c : cases) {
    Bytes out;
    ASSERT_TRUE(setBlockBytes(c.store, name, c.value, &out)) << c.what;
    EXPECT_EQ(out, c.expected) << c.what;
    EXPECT_EQ(findDataBlock(out, name), c.value.empty() ? Bytes("\x01\x02\x03") : c.value) << c.what;
  }

  Bytes untouched = "keep";
  EXPECT_FALSE(setBlockBytes("s", "N", "a Nend b", &untouched));  // would read back cut
  EXPECT_FALSE(setBlockBytes("s", "endend", "xend", &untouched));  // "xend" + "endendend" closes early
  EXPECT_EQ(untouched, "keep");
}

TEST(SetBlockTest, RewritesTheFileOrLeavesItWhole) {
  MemoryFileSystem fs;
  fs.files["C:\\a\\uninst.ini"] = "[s]\r\nk=v\r\n";
  EXPECT_TRUE(setBlock(fs, "C:\\a\\uninst.ini", "B", "1"));
  EXPECT_EQ(fs.files["C:\\a\\uninst.ini"], "[s]\r\nk=v\r\n" + block("B", "1"));
  fs.failCreate = true;
  EXPECT_FALSE(setBlock(fs, "C:\\a\\uninst.ini", "B", "2"));
  EXPECT_EQ(findDataBlock(fs.files["C:\\a\\uninst.ini"], "B"), "1");
}

TEST(WriteValueTest, SplitsPathAndNameAtTheLastBackslash) {
  struct Case {
    const char* path;
    const char* name;
    bool written;
    RegistryRoot root;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"HKEY_CURRENT_USER\\Software\\Zul", "Path", true, RegistryRoot::kCurrentUser, "Software\\Zul", "Path"},
      {"HKEY_CURRENT_USER\\Software\\Zul", "", true, RegistryRoot::kCurrentUser, "Software\\Zul", ""},
      {"HKEY_LOCAL_MACHINE\\Software\\Zul\\", "V", true, RegistryRoot::kLocalMachine, "Software\\Zul", "V"},
      {"HKEY_CLASSES_ROOT\\.zul", "sub\\V", true, RegistryRoot::kClassesRoot, ".zul\\sub", "V"},
      {"HKEY_USERS\\.DEFAULT\\K", "", true, RegistryRoot::kUsers, ".DEFAULT\\K", ""},
      {"HKEY_CURRENT_CONFIG\\K", "V", true, RegistryRoot::kCurrentConfig, "K", "V"},
      // A GBK name whose trail byte is "\" (0x5C) is not split inside it.
      {"HKEY_CURRENT_USER\\K", "\xB1\x5C", true, RegistryRoot::kCurrentUser, "K", "\xB1\x5C"},
      {"hkey_current_user\\Software", "V", false, {}, "", ""},
      {"Software\\HKEY_CURRENT_USER", "V", false, {}, "", ""},
  };
  for (const Case& c : cases) {
    FakeRegistry registry;
    EXPECT_EQ(writeValue(registry, c.path, c.name, "text\0rest", RegistryValueKind::kText), c.written) << c.path;
    if (!c.written) {
      EXPECT_EQ(registry.writes, 0) << c.path;
      continue;
    }
    EXPECT_EQ(registry.readString(c.root, c.key, c.value), "text") << c.path << " " << c.name;
  }
}

class RegistryEntriesTest : public ::testing::Test {
 protected:
  RegistryEntriesTest() : platform_{fs_, system_, registry_, ui_} {
    state_.makeUninstaller = 1;
    fs_.files[record()] = "[\xC8\xED\xBC\xFE\xD0\xB6\xD4\xD8\xC5\xE4\xD6\xC3]\r\nk=v\r\n";
  }
  void entry(int i, const Text& path, const Text& type, std::string_view data, const Text& name, bool off = false) {
    const Text n = std::to_string(i);
    list_ += block("REGpath" + n, path) + block("REGtype" + n, type) + block("REGdata" + n, data) +
             block("REGname" + n, name) + (off ? block("REGoff" + n, kTrue) : Bytes());
  }
  void run(int count) {
    state_.registryEntries = block("num", std::to_string(count)) + list_;
    writeRegistryEntries(platform_, runner_, state_, kDir);
  }
  Text record() { return kDir + "\\uninst.ini"; }
  Bytes removals() { return findDataBlock(fs_.files[record()], kRegistryRemovalBlock); }

  const Text kDir = "C:\\Program Files\\App";
  MemoryFileSystem fs_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  Platform platform_;
  FakeProcessRunner runner_;
  SetupState state_;
  Bytes list_;
};

TEST_F(RegistryEntriesTest, WritesEachKindAndListsRemovableOnes) {
  entry(1, "HKEY_LOCAL_MACHINE\\Software\\%InstallPath%", "REG_SZ", Bytes("%InstallPath%\\app.exe\0junk", 26), "Dir", true);
  entry(2, "HKEY_CURRENT_USER\\Software\\Zul", "REG_BINARY", Bytes("\x00\x01\xFF", 3), "Bin");
  entry(3, "HKEY_CURRENT_USER\\Software\\Zul", "REG_DWORD", "1234abc", "N", true);
  entry(4, "HKEY_CURRENT_USER\\Software\\Zul", "REG_DWORD", "x", "Zero");
  entry(5, "HKEY_CURRENT_USER\\Software\\Zul", "REG_MULTI_SZ", "a", "Skipped", true);
  entry(6, "hkey_current_user\\Software\\Zul", "REG_SZ", "a", "Lower");
  registry_.refusedKeys.push_back("Refused");
  entry(7, "HKEY_CURRENT_USER\\Refused", "REG_SZ", "a", "V", true);  // a failed write does not stop the list
  entry(8, "HKEY_CURRENT_USER\\Software\\Zul", "REG_SZ", "last", "");
  run(8);

  EXPECT_EQ(registry_.readString(RegistryRoot::kLocalMachine, "Software\\" + kDir, "Dir"), kDir + "\\app.exe");
  EXPECT_EQ(registry_.readBinary(RegistryRoot::kCurrentUser, "Software\\Zul", "Bin"), Bytes("\x00\x01\xFF", 3));
  EXPECT_EQ((registry_.dwords[{RegistryRoot::kCurrentUser, "Software\\Zul", "N"}]), 1234u);
  EXPECT_EQ((registry_.dwords[{RegistryRoot::kCurrentUser, "Software\\Zul", "Zero"}]), 0u);
  EXPECT_EQ(registry_.readString(RegistryRoot::kCurrentUser, "Software\\Zul", ""), "last");
  EXPECT_EQ(registry_.writes, 5);
  EXPECT_EQ(removals(), "HKEY_LOCAL_MACHINE\\Software\\" + kDir + "\\Dir\r\n" +
                            "HKEY_CURRENT_USER\\Software\\Zul\\N\r\n" +
                            "HKEY_CURRENT_USER\\Software\\Zul\\Skipped\r\n" + "HKEY_CURRENT_USER\\Refused\\V\r\n");
  EXPECT_TRUE(runner_.runs.empty());
}

TEST_F(RegistryEntriesTest, EachScriptHasItsOwnFileAndIsImportedToTheEnd) {
  entry(1, "", "file", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n", "");
  entry(2, "", "file", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\B]\r\n", "");
  std::vector<Bytes> seen;  // the script each editor run finds
  runner_.onRun = [&](const FakeProcessRunner::Run& run) {
    const size_t open = run.commandLine.rfind('"', run.commandLine.size() - 2);
    seen.push_back(fs_.files[run.commandLine.substr(open + 1, run.commandLine.size() - open - 2)]);
  };
  run(2);
  // The editor of the system's own Windows folder, never one found by name.
  const Text windows = makeSpecialFolders()->sharedWindowsFolder();
  ASSERT_TRUE(windows.size() > 3 && windows.compare(1, 2, ":\\") == 0) << windows;
  const Text editor = "\"" + withTrailingSlash(windows) + "regedit.exe\"";
  ASSERT_EQ(runner_.runs.size(), 2u);
  EXPECT_EQ(runner_.runs[0].commandLine, editor + " /s \"T:\\Temp\\ZUL1.reg\"");
  EXPECT_EQ(runner_.runs[1].commandLine, editor + " /s \"T:\\Temp\\ZUL2.reg\"");
  EXPECT_TRUE(runner_.runs[0].waitForExit);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0].find("\\A]"), Bytes::npos);
  EXPECT_NE(seen[1].find("\\B]"), Bytes::npos);
}

TEST(ImportScriptTest, StartsTheEditorByFullPathOrNotAtAll) {
  struct Case {
    Text windows;
    Text commandLine;  // empty: nothing may be started
  };
  const Case cases[] = {
      {"C:\\Windows", "\"C:\\Windows\\regedit.exe\" /s \"T:\\a b.reg\""},
      {"c:\\WINNT\\", "\"c:\\WINNT\\regedit.exe\" /s \"T:\\a b.reg\""},
      {"D:\\Win dows", "\"D:\\Win dows\\regedit.exe\" /s \"T:\\a b.reg\""},
      {"", ""},
      {"Windows", ""},
      {"C:Windows", ""},
      {"\\\\server\\Windows", ""},
  };
  for (const Case& c : cases) {
    FakeProcessRunner runner;
    EXPECT_EQ(importScript(runner, c.windows, "T:\\a b.reg"), !c.commandLine.empty()) << c.windows;
    if (c.commandLine.empty()) {
      EXPECT_TRUE(runner.runs.empty()) << c.windows;
      continue;
    }
    ASSERT_EQ(runner.runs.size(), 1u) << c.windows;
    EXPECT_EQ(runner.runs[0].commandLine, c.commandLine);
    EXPECT_TRUE(runner.runs[0].waitForExit);
  }
}

TEST_F(RegistryEntriesTest, RemovalBlockFollowsTheUninstallerSetting) {
  run(0);  // "num" 0: nothing written, the block still marks the record
  EXPECT_EQ(removals(), "\x01\x02\x03");

  fs_.files[record()] = "[x]\r\n";
  state_.makeUninstaller = 0;
  entry(1, "HKEY_CURRENT_USER\\K", "REG_SZ", "a", "V", true);
  run(1);
  EXPECT_EQ(fs_.files[record()], "[x]\r\n");
  EXPECT_EQ(registry_.writes, 1);

  state_.makeUninstaller = 1;
  state_.registryEntries.clear();  // no list at all: the record is not touched
  writeRegistryEntries(platform_, runner_, state_, kDir);
  EXPECT_EQ(fs_.files[record()], "[x]\r\n");
}

// The entries as the block lookup reads them one by one.
std::vector<RegistryEntry> lookedUp(std::string_view list, size_t count) {
  const auto text = [](const Bytes& b) { return b.substr(0, b.find('\0')); };
  std::vector<RegistryEntry> entries;
  for (size_t i = 1; i <= count; ++i) {
    const Text n = std::to_string(i);
    entries.push_back({text(findDataBlock(list, "REGpath" + n)), text(findDataBlock(list, "REGtype" + n)),
                       findDataBlock(list, "REGdata" + n), text(findDataBlock(list, "REGoff" + n)),
                       text(findDataBlock(list, "REGname" + n))});
  }
  return entries;
}

TEST(ParseRegistryEntriesTest, ReadsEveryBlockAsTheLookupDoes) {
  // Lists stitched from pieces that make near-miss names: numbers with
  // leading zeros or more digits, names inside names, missing closings.
  const char* pieces[] = {"REGpath", "REGtype1", "REGname", "REGpath1", "REGpath01", "REGpath11", "1", "2", "0",
                          "\x01", "end", "x", "", "REGoff2", "REGdata1\x01", "num\x01" "3numend"};
  uint32_t seed = 12345;
  const auto next = [&seed] { return (seed = seed * 1103515245 + 12345) >> 16; };
  for (int round = 0; round < 3000; ++round) {
    Bytes list = block("num", std::to_string(next() % 13));
    const int length = next() % 60;
    for (int i = 0; i < length; ++i) {
      const char* piece = pieces[next() % std::size(pieces)];
      list += *piece ? Bytes(piece) : Bytes(1, '\0');  // "" stands for a NUL byte
    }
    std::vector<RegistryEntry> entries;
    (void)parseRegistryEntries(list, &entries);
    const std::vector<RegistryEntry> expected = lookedUp(list, entries.size());
    ASSERT_EQ(entries.size(), static_cast<size_t>(std::max(0, toInt(findDataBlock(list, "num"))))) << round;
    for (size_t i = 0; i < entries.size(); ++i) {
      ASSERT_EQ(entries[i].path, expected[i].path) << round;
      ASSERT_EQ(entries[i].type, expected[i].type) << round;
      ASSERT_EQ(entries[i].data, expected[i].data) << round;
      ASSERT_EQ(entries[i].off, expected[i].off) << round;
      ASSERT_EQ(entries[i].name, expected[i].name) << round;
    }
  }
}

TEST(ParseRegistryEntriesTest, CountIsBounded) {
  std::vector<RegistryEntry> entries;
  EXPECT_EQ(parseRegistryEntries(block("num", "2x") + block("REGtype2", "REG_SZ\0z"), &entries), RegistryListStatus::kOk);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].type, "REG_SZ");
  EXPECT_EQ(parseRegistryEntries(block("num", "-3"), &entries), RegistryListStatus::kOk);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(parseRegistryEntries(block("num", "99999999999"), &entries), RegistryListStatus::kTruncated);
  EXPECT_EQ(entries.size(), kMaxRegistryEntries);
}

}  // namespace
}  // namespace zul
